// Names from the store made safe for the work folder, and the work folder itself.
#include "content/work_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>

#include "platform/codepage.h"
#include "platform/work_folder.h"
#include "support/temp_dir.h"

namespace {

using content::SafeWorkFileName;

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(SafeWorkFileName, PlainNamesStayAndHostileNamesBecomeOneComponent) {
    for (std::u16string name : {u"report.pdf", u"Grüße 2009.doc", u"..hidden", u"a..b"}) {
        EXPECT_EQ(SafeWorkFileName(name), name);
    }
    const std::u16string hostile[] = {
        u"../x",
        u"..\\..\\x",
        u"/etc/passwd",
        u"C:\\x.txt",
        u"a\"b<c>d|e?f*g;h",
        u".",
        u"..",
        u"",
        u"con.txt",
        u"trailing. ",
        u"\x01\n",
        std::u16string(1, char16_t(0xD800)) + u"x",
        std::u16string(300, u'a'),
    };
    for (const std::u16string& name : hostile) {
        const std::u16string safe = SafeWorkFileName(name);
        const std::filesystem::path path(safe);
        SCOPED_TRACE(platform::Utf16ToUtf8(name));
        EXPECT_FALSE(safe.empty());
        EXPECT_EQ(safe.find_first_of(u"/\\:\"<>|?*;\x01\n"), std::u16string::npos);
        EXPECT_NE(safe, u".");
        EXPECT_NE(safe, u"..");
        EXPECT_FALSE(safe.ends_with(u".") || safe.ends_with(u" "));
        EXPECT_EQ(path.filename(), path);
        EXPECT_LE(content::Utf8Length(safe), content::kMaxStoredFileNameBytes);
        EXPECT_EQ(SafeWorkFileName(safe), safe) << "the mapping is its own fixed point";
    }
}

TEST(SafeWorkFileName, LongNamesKeepTheirExtensionAndStayApart) {
    std::set<std::u16string> seen;
    for (char16_t last : {u'a', u'b', u'c'}) {
        const std::u16string name = std::u16string(250, u'€') + last + u".pdf";
        const std::u16string safe = SafeWorkFileName(name);
        EXPECT_TRUE(safe.ends_with(u".pdf"));
        EXPECT_LE(content::Utf8Length(safe), content::kMaxStoredFileNameBytes);
        EXPECT_EQ(SafeWorkFileName(name), safe);
        seen.insert(safe);
    }
    EXPECT_EQ(seen.size(), 3u);
}

TEST(SavedFileName, ReplacesReservedCharactersAndKeepsTheWholeNameWithinTheLimit) {
    EXPECT_EQ(content::SavedFileName(u"A:B/C\\D*E?F<G>H|I\"J\tK", 41, u".msg"),
              u"A-B-C-D-E-F-G-H-I-J-K41.msg");
    EXPECT_EQ(content::SavedFileName(u"Re: a/b", 41, u".msg"), u"Re- a-b41.msg");
    EXPECT_EQ(content::SavedFileName(u"", 7, u".html"), u"7.html");
    const std::u16string emoji = u"😀";
    std::u16string name;
    for (int i = 0; i < 60; ++i) {
        name += emoji;  // 4 bytes each
    }
    name = u"x" + name;
    // 200 bytes less "18467.msg" leaves 191: "x" and 47 whole characters.
    const std::u16string saved = content::SavedFileName(name, 18467, u".msg");
    EXPECT_EQ(content::Utf8Length(saved), 1u + 47 * 4 + 9);
    EXPECT_TRUE(saved.ends_with(u"18467.msg"));
    EXPECT_EQ(platform::Utf8ToUtf16(platform::Utf16ToUtf8(saved)), saved);
}

// Sets TMPDIR for the life of the object.
class TemporaryDirectoryIs {
  public:
    explicit TemporaryDirectoryIs(const std::filesystem::path& folder) {
        if (const char* old = std::getenv("TMPDIR")) {
            saved_ = old;
        }
        setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TemporaryDirectoryIs() {
        if (saved_) {
            setenv("TMPDIR", saved_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

  private:
    std::optional<std::string> saved_;
};

TEST(WorkFolder, IsNewPrivateAndRemovedWholeWithNothingElse) {
    testing_support::TempDir temp;
    TemporaryDirectoryIs tmpdir(temp.path());
    // A folder another user made first under the old fixed name is neither used nor removed.
    std::filesystem::create_directory(temp.path() / "test1");
    std::ofstream(temp.path() / "test1" / "theirs") << "x";

    std::filesystem::path first;
    {
        auto folder = platform::WorkFolder::Create("edb2msg");
        ASSERT_TRUE(folder) << folder.error();
        auto second = platform::WorkFolder::Create("edb2msg");
        ASSERT_TRUE(second) << second.error();
        first = folder->path();
        EXPECT_EQ(first.parent_path(), temp.path());
        EXPECT_TRUE(first.filename().string().starts_with("edb2msg-"));
        EXPECT_NE(first, second->path());
        EXPECT_EQ(std::filesystem::status(first).permissions(), std::filesystem::perms::owner_all);
        std::filesystem::create_directory(first / "sub");
        std::ofstream(first / "sub" / "f") << "x";
        // A link inside goes with the folder; what it points to stays.
        std::filesystem::create_directory_symlink(temp.path() / "test1", first / "link");
    }
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_TRUE(std::filesystem::exists(temp.path() / "test1" / "theirs"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 1);

    TemporaryDirectoryIs missing(temp.path() / "not-there");
    const auto failed = platform::WorkFolder::Create("edb2msg");
    ASSERT_FALSE(failed);
    EXPECT_NE(failed.error().find("not-there"), std::string::npos) << failed.error();
}

TEST(WorkFolder, FilesAreMadeAfreshAndNeverThroughALink) {
    testing_support::TempDir temp;
    const auto outside = temp.path() / "outside.txt";
    std::ofstream(outside) << "keep";
    const auto link = temp.path() / "txtbody.txt";
    std::filesystem::create_symlink(outside, link);

    EXPECT_FALSE(platform::CreateNewFile(link)) << "a new file never takes a linked name";
    EXPECT_EQ(errno, EEXIST);
    ASSERT_TRUE(platform::ReplaceFileContents(link, "preview"));
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadAll(link), "preview");
    EXPECT_EQ(ReadAll(outside), "keep");
    EXPECT_EQ(std::filesystem::status(link).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // Writing again replaces the older contents whole.
    ASSERT_TRUE(platform::ReplaceFileContents(link, "x"));
    EXPECT_EQ(ReadAll(link), "x");
    EXPECT_FALSE(platform::ReplaceFileContents(temp.path() / "no-folder" / "f", "x"));
}

}  // namespace
