// Names from the store made safe for the work folder, and the work folder itself.
#include "content/work_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "platform/codepage.h"
#include "platform/work_folder.h"
#include "support/temp_dir.h"

namespace {

using content::SafeWorkFileName;

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

TEST(WorkFolder, LivesInTheTemporaryDirectoryAndIsRemovedWhole) {
    testing_support::TempDir temp;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", temp.path().c_str(), 1);
    const std::filesystem::path folder = platform::WorkFolderPath();
    if (old) {
        setenv("TMPDIR", saved.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    EXPECT_EQ(folder, temp.path() / "test1");
    ASSERT_TRUE(platform::CreateWorkFolder(folder));
    EXPECT_TRUE(platform::CreateWorkFolder(folder)) << "an existing folder is no error";
    std::filesystem::create_directory(folder / "sub");
    { std::ofstream(folder / "sub" / "f") << "x"; }
    platform::RemoveWorkFolder(folder);
    EXPECT_FALSE(std::filesystem::exists(folder));
    platform::RemoveWorkFolder(folder);
}

}  // namespace
