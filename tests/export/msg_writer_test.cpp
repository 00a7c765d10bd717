// Message files written by WriteMsgFile, read back by msgconvert and olefile.
#include "export/msg_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "msg_readback.h"
#include "platform/codepage.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using msgfile::MsgAttachment;
using msgfile::MsgMessage;
using msgfile::MsgRecipient;
using msgfile::MsgWriteError;
using msgfile::WriteMsgFile;
using msgtest::FindProperty;
using msgtest::OleContents;
using msgtest::ParsePropertyStream;
using msgtest::PropertyEntry;
using msgtest::Utf16StreamToUtf8;

std::u16string U16(std::string_view utf8) {
    return platform::Utf8ToUtf16(utf8);
}

std::uint64_t Filetime(int y, unsigned mo, unsigned d, int h, int mi, int s) {
    using namespace std::chrono;
    const auto t = sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
    const auto unixSeconds = static_cast<std::uint64_t>(t.time_since_epoch().count());
    return (unixSeconds + 11644473600ull) * 10000000ull;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> FolderListing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::string AsString(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

constexpr std::uint32_t kUnicode = 0x001F;
constexpr std::uint32_t kBinary = 0x0102;

std::vector<PropertyEntry> Properties(const OleContents& ole, const std::string& storage,
                                      std::size_t headerBytes) {
    const std::string prefix = storage.empty() ? "" : storage + "/";
    return ParsePropertyStream(ole.Stream(prefix + "__properties_version1.0"), headerBytes);
}

// Every variable-size property of a storage has its stream with the recorded size, and
// every value stream has its property entry.
void ExpectConsistentStorage(const OleContents& ole, const std::string& storage,
                             std::size_t headerBytes) {
    SCOPED_TRACE("storage '" + storage + "'");
    const auto entries = Properties(ole, storage, headerBytes);
    const std::string prefix = storage.empty() ? "" : storage + "/";
    std::size_t variable = 0;
    for (const auto& e : entries) {
        EXPECT_EQ(e.flags, 6u);
        const std::uint32_t type = e.tag & 0xFFFF;
        if (type != kUnicode && type != kBinary)
            continue;
        ++variable;
        char name[32];
        std::snprintf(name, sizeof name, "__substg1.0_%08X", e.tag);
        const auto* stream = ole.Find(prefix + name);
        ASSERT_NE(stream, nullptr) << name;
        EXPECT_EQ(e.value & 0xFFFFFFFFu, stream->bytes.size() + (type == kUnicode ? 2 : 0)) << name;
        EXPECT_EQ(e.value >> 32, 0u) << name;
    }
    std::size_t valueStreams = 0;
    for (const auto& e : ole.entries) {
        if (!e.storage && e.path.rfind(prefix + "__substg1.0_", 0) == 0 &&
            e.path.find('/', prefix.size()) == std::string::npos)
            ++valueStreams;
    }
    EXPECT_EQ(valueStreams, variable);
}

std::string UnicodeProperty(const OleContents& ole, const std::string& storage, std::uint32_t id) {
    char name[40];
    std::snprintf(name, sizeof name, "__substg1.0_%04X001F", id);
    return Utf16StreamToUtf8(ole.Stream(storage.empty() ? name : storage + "/" + name));
}

std::uint32_t LeAt(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

MsgMessage SampleMessage() {
    MsgMessage m;
    m.senderName = u"Alice Martin";
    m.senderAddress = u"alice@example.com";
    m.sentRepresentingName = u"Alice Martin";
    m.sentRepresentingAddress = u"alice@example.com";
    m.subject = u"RE: Quarterly numbers";
    m.recipients = {{u"Bob Stone", u"bob@example.com"},
                    {u"carol@example.com", u"carol@example.com"},
                    {u"Dan Ortiz", u"dan@example.org"}};
    m.deliveryTime = Filetime(2009, 3, 2, 14, 7, 9);
    m.submitTime = Filetime(2009, 3, 2, 14, 6, 0);
    m.read = true;
    m.plainBody = u"Hello Bob,\nthe numbers are attached.\n";
    return m;
}

class MsgWriterTest : public ::testing::Test {
  protected:
    testing_support::TempDir dir_;
};

TEST_F(MsgWriterTest, PlainMessageCarriesEveryField) {
    const fs::path file = dir_ / "plain.msg";
    WriteMsgFile(SampleMessage(), file);
    EXPECT_EQ(FolderListing(dir_.path()), std::vector<std::string>{"plain.msg"});

    const auto mail = msgtest::ReadBackWithMsgconvert(file);
    EXPECT_EQ(mail.from, "Alice Martin <alice@example.com>");
    EXPECT_EQ(mail.to,
              "Bob Stone <bob@example.com>, carol@example.com <carol@example.com>, "
              "Dan Ortiz <dan@example.org>");
    EXPECT_EQ(mail.subject, "RE: Quarterly numbers");
    EXPECT_EQ(mail.date, "Mon, 02 Mar 2009 14:06:00 +0000");  // the submit time
    ASSERT_TRUE(mail.textBody);
    EXPECT_EQ(*mail.textBody, "Hello Bob,\nthe numbers are attached.\n");
    EXPECT_FALSE(mail.htmlBody);
    EXPECT_TRUE(mail.attachments.empty());
    EXPECT_EQ(mail.diagnostics, "");

    const auto ole = msgtest::ReadOle(file);
    EXPECT_TRUE(ole.orderProblems.empty()) << ole.orderProblems.front();
    ExpectConsistentStorage(ole, "", 32);
    for (int i = 0; i < 3; ++i)
        ExpectConsistentStorage(ole, "__recip_version1.0_#0000000" + std::to_string(i), 8);
    EXPECT_EQ(ole.Find("__recip_version1.0_#00000003"), nullptr);
    EXPECT_EQ(ole.Find("__attach_version1.0_#00000000"), nullptr);
    for (const char* nameid :
         {"__nameid_version1.0/__substg1.0_00020102", "__nameid_version1.0/__substg1.0_00030102",
          "__nameid_version1.0/__substg1.0_00040102"})
        EXPECT_EQ(ole.Stream(nameid), "") << nameid;

    const std::string& top = ole.Stream("__properties_version1.0");
    EXPECT_EQ(LeAt(top, 8), 3u);   // next recipient id
    EXPECT_EQ(LeAt(top, 12), 0u);  // next attachment id
    EXPECT_EQ(LeAt(top, 16), 3u);  // recipients
    EXPECT_EQ(LeAt(top, 20), 0u);  // attachments

    EXPECT_EQ(UnicodeProperty(ole, "", 0x001A), "IPM.Note");
    EXPECT_EQ(UnicodeProperty(ole, "", 0x003D), "RE: ");
    EXPECT_EQ(UnicodeProperty(ole, "", 0x0E1D), "Quarterly numbers");
    EXPECT_EQ(UnicodeProperty(ole, "", 0x0E04), "Bob Stone; carol@example.com; Dan Ortiz");
    EXPECT_EQ(UnicodeProperty(ole, "", 0x0C1E), "SMTP");
    EXPECT_EQ(UnicodeProperty(ole, "", 0x5D01), "alice@example.com");
    EXPECT_EQ(UnicodeProperty(ole, "", 0x0042), "Alice Martin");
    EXPECT_EQ(UnicodeProperty(ole, "", 0x0065), "alice@example.com");

    const auto props = Properties(ole, "", 32);
    EXPECT_EQ(FindProperty(props, 0x0E070003)->value, 0x01u);  // read, sent, no attachments
    EXPECT_EQ(FindProperty(props, 0x340D0003)->value, 0x00040000u);
    EXPECT_EQ(FindProperty(props, 0x0E060040)->value, Filetime(2009, 3, 2, 14, 7, 9));
    EXPECT_EQ(FindProperty(props, 0x00390040)->value, Filetime(2009, 3, 2, 14, 6, 0));
    EXPECT_FALSE(FindProperty(props, 0x10130102));

    const std::string second = "__recip_version1.0_#00000001";
    EXPECT_EQ(UnicodeProperty(ole, second, 0x3001), "carol@example.com");
    EXPECT_EQ(UnicodeProperty(ole, second, 0x3002), "SMTP");
    EXPECT_EQ(UnicodeProperty(ole, second, 0x3003), "carol@example.com");
    EXPECT_EQ(UnicodeProperty(ole, second, 0x39FE), "carol@example.com");
    const auto recipient = Properties(ole, second, 8);
    EXPECT_EQ(FindProperty(recipient, 0x0C150003)->value, 1u);  // To
    EXPECT_EQ(FindProperty(recipient, 0x30000003)->value, 1u);  // row id
}

TEST_F(MsgWriterTest, HtmlBodyKeepsNonAsciiText) {
    MsgMessage m = SampleMessage();
    m.plainBody.reset();
    m.htmlBody =
        "<html><head><meta charset=\"utf-8\"></head><body><p>Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xF0\x9F\x98\x80</p></body></html>";
    const fs::path file = dir_ / "html.msg";
    WriteMsgFile(m, file);

    const auto mail = msgtest::ReadBackWithMsgconvert(file);
    ASSERT_TRUE(mail.htmlBody);
    EXPECT_EQ(*mail.htmlBody, *m.htmlBody);
    EXPECT_FALSE(mail.textBody);

    const auto ole = msgtest::ReadOle(file);
    ExpectConsistentStorage(ole, "", 32);
    EXPECT_EQ(ole.Stream("__substg1.0_10130102"), *m.htmlBody);
    EXPECT_EQ(ole.Find("__substg1.0_1000001F"), nullptr);
    EXPECT_EQ(FindProperty(Properties(ole, "", 32), 0x3FDE0003)->value, 65001u);
}

TEST_F(MsgWriterTest, SenderWithoutAddressAndNoRecipients) {
    MsgMessage m = SampleMessage();
    m.senderName = u"Smith  John";
    m.senderAddress.reset();
    m.sentRepresentingName = u"Smith  John";
    m.sentRepresentingAddress.reset();
    m.recipients.clear();
    m.read = false;
    m.unsent = true;
    const fs::path file = dir_ / "nobody.msg";
    WriteMsgFile(m, file);

    const auto mail = msgtest::ReadBackWithMsgconvert(file);
    EXPECT_EQ(mail.from, "Smith  John");
    EXPECT_EQ(mail.to, "");

    const auto ole = msgtest::ReadOle(file);
    ExpectConsistentStorage(ole, "", 32);
    EXPECT_EQ(UnicodeProperty(ole, "", 0x0C1A), "Smith  John");
    for (const char* absent :
         {"__substg1.0_0C1E001F", "__substg1.0_0C1F001F", "__substg1.0_5D01001F",
          "__substg1.0_0064001F", "__substg1.0_0065001F", "__recip_version1.0_#00000000"})
        EXPECT_EQ(ole.Find(absent), nullptr) << absent;
    EXPECT_EQ(UnicodeProperty(ole, "", 0x0E04), "");
    const std::string& top = ole.Stream("__properties_version1.0");
    EXPECT_EQ(LeAt(top, 8), 0u);
    EXPECT_EQ(LeAt(top, 16), 0u);
    EXPECT_EQ(FindProperty(Properties(ole, "", 32), 0x0E070003)->value, 0x08u);  // unsent only
}

TEST_F(MsgWriterTest, TwoBinaryAttachmentsComeBackByteForByte) {
    MsgMessage m = SampleMessage();
    std::vector<std::uint8_t> all(256);
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<std::uint8_t>(255 - i);
    std::vector<std::uint8_t> large(9000);  // over the small-stream limit
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<std::uint8_t>((i * 7919) >> 3);
    m.attachments = {{u"Quarterly report.pdf", all}, {u"d\u00e4ta.bin", large}};
    const fs::path file = dir_ / "attachments.msg";
    WriteMsgFile(m, file);

    const auto mail = msgtest::ReadBackWithMsgconvert(file);
    ASSERT_EQ(mail.attachments.size(), 2u);
    EXPECT_EQ(mail.attachments[0].name, "Quarterly report.pdf");
    EXPECT_EQ(mail.attachments[0].mimeType, "application/pdf");
    EXPECT_EQ(mail.attachments[0].bytes, AsString(all));
    EXPECT_EQ(mail.attachments[1].name, "d\xC3\xA4ta.bin");
    EXPECT_EQ(mail.attachments[1].bytes, AsString(large));
    ASSERT_TRUE(mail.textBody);
    EXPECT_EQ(*mail.textBody, "Hello Bob,\nthe numbers are attached.\n");

    const auto ole = msgtest::ReadOle(file);
    EXPECT_TRUE(ole.orderProblems.empty()) << ole.orderProblems.front();
    const std::string& top = ole.Stream("__properties_version1.0");
    EXPECT_EQ(LeAt(top, 12), 2u);
    EXPECT_EQ(LeAt(top, 20), 2u);
    EXPECT_EQ(FindProperty(Properties(ole, "", 32), 0x0E070003)->value, 0x11u);  // read, attach
    for (int i = 0; i < 2; ++i) {
        const std::string storage = "__attach_version1.0_#0000000" + std::to_string(i);
        ExpectConsistentStorage(ole, storage, 8);
        const auto props = Properties(ole, storage, 8);
        EXPECT_EQ(FindProperty(props, 0x37050003)->value, 1u);  // by value
        EXPECT_EQ(FindProperty(props, 0x0E210003)->value, static_cast<std::uint64_t>(i));
        EXPECT_EQ(FindProperty(props, 0x0E200003)->value, m.attachments[i].data.size());
        EXPECT_EQ(ole.Stream(storage + "/__substg1.0_37010102"), AsString(m.attachments[i].data));
        EXPECT_EQ(UnicodeProperty(ole, storage, 0x3001),
                  platform::Utf16ToUtf8(m.attachments[i].fileName));
    }
    const std::string first = "__attach_version1.0_#00000000";
    EXPECT_EQ(UnicodeProperty(ole, first, 0x3704), "QUARTE~1.PDF");
    EXPECT_EQ(UnicodeProperty(ole, first, 0x3703), ".pdf");
    EXPECT_EQ(UnicodeProperty(ole, "__attach_version1.0_#00000001", 0x370E),
              "application/octet-stream");
}

TEST_F(MsgWriterTest, EmptyAndLongBodies) {
    MsgMessage empty = SampleMessage();
    empty.plainBody = u"";
    const fs::path emptyFile = dir_ / "empty.msg";
    WriteMsgFile(empty, emptyFile);
    const auto emptyMail = msgtest::ReadBackWithMsgconvert(emptyFile);
    EXPECT_EQ(emptyMail.textBody.value_or(""), "");
    EXPECT_EQ(emptyMail.subject, "RE: Quarterly numbers");
    const auto emptyOle = msgtest::ReadOle(emptyFile);
    ExpectConsistentStorage(emptyOle, "", 32);
    EXPECT_EQ(emptyOle.Stream("__substg1.0_1000001F"), "");

    // Over 70,000 UTF-16 units, with characters outside the Basic Multilingual Plane.
    std::u16string body;
    for (int line = 0; body.size() <= 70500; ++line)
        body +=
            U16("Zeile " + std::to_string(line) + " \xC3\xA4\xC3\xB6\xC3\xBC \xF0\x9F\x93\x88\n");
    MsgMessage long_ = SampleMessage();
    long_.plainBody = body;
    const fs::path longFile = dir_ / "long.msg";
    WriteMsgFile(long_, longFile);

    const auto longMail = msgtest::ReadBackWithMsgconvert(longFile);
    ASSERT_TRUE(longMail.textBody);
    EXPECT_EQ(*longMail.textBody, platform::Utf16ToUtf8(body));
    const auto longOle = msgtest::ReadOle(longFile);
    ExpectConsistentStorage(longOle, "", 32);
    EXPECT_EQ(longOle.Stream("__substg1.0_1000001F").size(), body.size() * 2);
}

TEST_F(MsgWriterTest, NonAsciiSubjectAndNames) {
    MsgMessage m = SampleMessage();
    m.subject =
        U16("AW: \xC3\x9C"
            "bersicht \xE5\xA0\xB1\xE5\x91\x8A \xE2\x80\x94 caf\xC3\xA9 \xF0\x9F\x98\x80");
    m.senderName = U16("J\xC3\xBCrgen M\xC3\xBCller");
    m.senderAddress = u"juergen@example.de";
    m.recipients = {{U16("Zo\xC3\xAB Dvo\xC5\x99\xC3\xA1k"), u"zoe@example.cz"}};
    m.plainBody =
        U16("Gr\xC3\xBC\xC3\x9F"
            "e \xF0\x9F\x98\x80\n");
    const fs::path file = dir_.path() /
                          "\xC3\x9C"
                          "bersicht 41.msg";
    WriteMsgFile(m, file);

    const auto mail = msgtest::ReadBackWithMsgconvert(file);
    EXPECT_EQ(mail.subject, platform::Utf16ToUtf8(m.subject));
    EXPECT_EQ(mail.from, "J\xC3\xBCrgen M\xC3\xBCller <juergen@example.de>");
    EXPECT_EQ(mail.to, "Zo\xC3\xAB Dvo\xC5\x99\xC3\xA1k <zoe@example.cz>");
    EXPECT_EQ(mail.textBody.value_or(""),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xF0\x9F\x98\x80\n");

    // Names within Latin-1 only.
    MsgMessage latin = m;
    latin.subject = U16("R\xC3\xA9sum\xC3\xA9");
    latin.recipients = {{U16("Zo\xC3\xAB"), u"zoe@example.cz"}};
    const fs::path latinFile = dir_ / "latin.msg";
    WriteMsgFile(latin, latinFile);
    const auto latinMail = msgtest::ReadBackWithMsgconvert(latinFile);
    EXPECT_EQ(latinMail.subject, "R\xC3\xA9sum\xC3\xA9");
    EXPECT_EQ(latinMail.from, "J\xC3\xBCrgen M\xC3\xBCller <juergen@example.de>");
    EXPECT_EQ(latinMail.to, "Zo\xC3\xAB <zoe@example.cz>");
    EXPECT_EQ(latinMail.textBody.value_or(""),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xF0\x9F\x98\x80\n");

    const auto ole = msgtest::ReadOle(file);
    EXPECT_EQ(UnicodeProperty(ole, "", 0x003D), "AW: ");
    EXPECT_EQ(UnicodeProperty(ole, "", 0x0E1D), platform::Utf16ToUtf8(m.subject.substr(4)));
}

TEST_F(MsgWriterTest, ExistingTargetIsNeverReplaced) {
    const fs::path file = dir_ / "taken.msg";
    {
        std::ofstream out(file, std::ios::binary);
        out << "keep me";
    }
    try {
        WriteMsgFile(SampleMessage(), file);
        FAIL() << "an existing file was replaced";
    } catch (const MsgWriteError& e) {
        EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFile(file), "keep me");
    EXPECT_EQ(FolderListing(dir_.path()), std::vector<std::string>{"taken.msg"});

    // A dangling symbolic link is an existing name too, and its target is not created.
    const fs::path link = dir_ / "link.msg";
    fs::create_symlink(dir_ / "nowhere.msg", link);
    EXPECT_THROW(WriteMsgFile(SampleMessage(), link), MsgWriteError);
    EXPECT_FALSE(fs::exists(dir_ / "nowhere.msg"));
    EXPECT_EQ(FolderListing(dir_.path()), (std::vector<std::string>{"link.msg", "taken.msg"}));

    // So is a folder.
    fs::create_directory(dir_ / "folder.msg");
    EXPECT_THROW(WriteMsgFile(SampleMessage(), dir_ / "folder.msg"), MsgWriteError);
    EXPECT_TRUE(fs::is_empty(dir_ / "folder.msg"));
    EXPECT_EQ(FolderListing(dir_.path()).size(), 3u);
}

TEST_F(MsgWriterTest, UnwritablePlacesFailCleanly) {
    const fs::path missing = dir_ / "no such folder" / "a.msg";
    try {
        WriteMsgFile(SampleMessage(), missing);
        FAIL() << "wrote into a missing folder";
    } catch (const MsgWriteError& e) {
        EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos) << e.what();
    }

    const fs::path plainFile = dir_ / "file";
    std::ofstream(plainFile) << "x";
    EXPECT_THROW(WriteMsgFile(SampleMessage(), plainFile / "a.msg"), MsgWriteError);
    EXPECT_EQ(FolderListing(dir_.path()), std::vector<std::string>{"file"});

    if (geteuid() != 0) {  // permissions do not bind the superuser
        const fs::path locked = dir_ / "locked";
        fs::create_directory(locked);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_THROW(WriteMsgFile(SampleMessage(), locked / "a.msg"), MsgWriteError);
        fs::permissions(locked, fs::perms::owner_all);
        EXPECT_TRUE(fs::is_empty(locked));
    }
}

TEST_F(MsgWriterTest, MessagesBeyondTheFileLimitsAreRefused) {
    MsgMessage m = SampleMessage();
    m.attachments.resize(msgfile::kMaxAttachments + 1, MsgAttachment{u"a.txt", Bytes("x")});
    const fs::path file = dir_ / "many.msg";
    EXPECT_THROW(WriteMsgFile(m, file), MsgWriteError);

    MsgMessage r = SampleMessage();
    r.recipients.resize(msgfile::kMaxRecipients + 1, MsgRecipient{u"x", u"x@example.com"});
    EXPECT_THROW(WriteMsgFile(r, file), MsgWriteError);
    EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(MsgWriterTest, LongTargetNamesStillGetATemporaryFile) {
    // 250 bytes of name: the temporary name must be shortened to fit the file system.
    const std::string name = std::string(246, 'n') + ".msg";
    const fs::path file = dir_ / name;
    WriteMsgFile(SampleMessage(), file);
    EXPECT_EQ(FolderListing(dir_.path()), std::vector<std::string>{name});
    EXPECT_EQ(msgtest::ReadBackWithMsgconvert(file).subject, "RE: Quarterly numbers");
}

TEST(MsgWriterNames, SubjectPrefixFollowsTheMailClientRule) {
    EXPECT_EQ(msgfile::SubjectPrefix(u"RE: x"), u"RE: ");
    EXPECT_EQ(msgfile::SubjectPrefix(u"Fwd: x"), u"Fwd: ");
    EXPECT_EQ(msgfile::SubjectPrefix(u"\u0391\u03a0: x"), u"\u0391\u03a0: ");
    EXPECT_EQ(msgfile::SubjectPrefix(u"Four: x"), u"");
    EXPECT_EQ(msgfile::SubjectPrefix(u"R2: x"), u"");
    EXPECT_EQ(msgfile::SubjectPrefix(u"RE:x"), u"");
    EXPECT_EQ(msgfile::SubjectPrefix(u": x"), u"");
    EXPECT_EQ(msgfile::SubjectPrefix(u"RE"), u"");
}

TEST(MsgWriterNames, ShortNames) {
    EXPECT_EQ(msgfile::ShortFileName(u"report.pdf"), u"REPORT.PDF");
    EXPECT_EQ(msgfile::ShortFileName(u"archive.tar.gz"), u"ARCHIV~1.GZ");
    EXPECT_EQ(msgfile::ShortFileName(u"page.html"), u"PAGE~1.HTM");
    EXPECT_EQ(msgfile::ShortFileName(u"\u65e5\u672c.txt"), u"ATTACH~1.TXT");
    EXPECT_EQ(msgfile::ShortFileName(u"README"), u"README");
}

}  // namespace
