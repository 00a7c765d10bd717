// Items read in full from written stores: bodies, recipients, attachments, contact cards and
// contact pages, through the item loader and the libesedb layer.
#include "content/item_content.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "content/rtf_text.h"
#include "content/work_files.h"
#include "platform/codepage.h"
#include "store/messages.h"
#include "support/temp_dir.h"
#include "tests/store/store_fixture.h"
#include "tools/edbforge/compressed_rtf.h"

namespace {

using namespace store_fixture;
using Values = std::map<std::string, ef::Bytes>;
namespace fs = std::filesystem;

ef::Bytes Ascii(std::string_view s) {
    return ef::encode::ascii(s);
}
ef::Bytes Utf8(std::u16string_view s) {
    return Ascii(platform::Utf16ToUtf8(s));
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Utf16LeBytes(std::u16string_view text) {
    const ef::Bytes b = ef::encode::utf16(text);
    return {b.begin(), b.end()};
}

std::vector<fs::path> FilesUnder(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    return files;
}

// Columns of the "Msg" table, all tagged so that value positions follow this order.
std::vector<ef::ColumnDef> Tagged(std::vector<ef::ColumnDef> columns) {
    for (ef::ColumnDef& c : columns) {
        c.storage = ef::Storage::kTagged;
    }
    return columns;
}

std::vector<ef::ColumnDef> MailMsgColumns() {
    return Tagged({{"N67b0", ef::ColumnType::kBinary},
                   {"N67b3", ef::ColumnType::kText},
                   {"N67b4", ef::ColumnType::kLongBinary},
                   {"S1000", ef::ColumnType::kLongText},
                   {"N1009", ef::ColumnType::kLongBinary},
                   {"N1013", ef::ColumnType::kLongBinary},
                   {"S1000x", ef::ColumnType::kLongText}});
}

// A folder table listing the items by message id.
Table FolderTable(const std::string& name, const std::vector<std::uint64_t>& ids) {
    Table t{name, {{"N67b0", ef::ColumnType::kBinary}, {"Se1d", ef::ColumnType::kText}}, {}};
    for (std::uint64_t id : ids) {
        t.records.push_back({{"N67b0", Id(id)}, {"Se1d", Utf16(u"subject")}});
    }
    return t;
}

class ItemContentTest : public ::testing::Test {
  protected:
    void Open(const std::vector<Table>& tables) {
        Write(dir_ / "store.edb", tables);
        ASSERT_EQ(store::OpenStore(session_, dir_ / "store.edb"), store::kOk) << session_.lastError;
        ASSERT_EQ(store::ListTables(session_), store::kOk);
        ASSERT_EQ(store::ScanTableByName(session_, u"Msg"), store::kOk) << session_.lastError;
        ASSERT_EQ(store::ScanTableByName(session_, u"1-23"), store::kOk) << session_.lastError;
    }

    // Lists a folder table as the window does and reads its items in full.
    void List(std::u16string_view table, std::u16string_view folderClass) {
        session_.model.items.clear();
        session_.model.contacts.clear();
        session_.state.currentFolderClass = std::u16string(folderClass);
        ASSERT_EQ(store::ScanTableByName(session_, table), store::kOk) << session_.lastError;
        ASSERT_EQ(store::LoadFolderItems(session_), store::kOk) << session_.lastError;
    }

    std::vector<content::BodyPartEntry> PartsOf(std::u16string_view key) const {
        std::vector<content::BodyPartEntry> parts;
        for (const auto& p : content_.bodyParts) {
            if (p.messageKey == key) {
                parts.push_back(p);
            }
        }
        return parts;
    }

    testing_support::TempDir dir_;
    fs::path work_ = [this] {
        fs::create_directory(dir_ / "work");
        return dir_ / "work";
    }();
    RecordingHost host_;
    RecordingList list_;
    content::ItemContent content_{work_};
    store::StoreSession session_{host_, nullptr, &list_, &content_};
};

TEST_F(ItemContentTest, BodiesOfEachKindBecomeBodyParts) {
    const std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}Caf\\'e9 hello world}";
    const std::u16string plain = u"Grüße aus Köln — Ελληνικά\r\nline two";
    const std::u16string html = u"<p>Café € 日本</p>";
    Open({{"Msg",
           MailMsgColumns(),
           {{{"N67b0", Id(0x11)}, {"S1000", Utf16(plain)}},
            {{"N67b0", Id(0x22)}, {"N1009", edbforge::compressRtf(rtf)}},
            {{"N67b0", Id(0x33)}, {"N1013", Utf8(html)}},
            {{"N67b0", Id(0x44)}, {"N1013", Ascii("<p>Caf\xe9 \x80</p>")}},
            {{"N67b0", Id(0x55)}}}},
          FolderTable("1-A", {0x11, 0x22, 0x33, 0x44, 0x55})});
    List(u"1-A", u"Folder");

    ASSERT_EQ(content_.mailDetails.size(), 5u);
    const auto kinds = [&](std::size_t i) { return content_.mailDetails[i].bodyKind; };
    EXPECT_EQ(kinds(0), u"txt");
    EXPECT_EQ(kinds(1), u"txt");
    EXPECT_EQ(kinds(2), u"html");
    EXPECT_EQ(kinds(3), u"html");
    EXPECT_EQ(kinds(4), u"empty");
    EXPECT_EQ(content_.mailDetails[0].messageId, u"11");

    // UTF-16 text stays UTF-16; HTML bytes are UTF-8 when they can be, else Windows-1252.
    ASSERT_EQ(PartsOf(u"11").size(), 1u);
    EXPECT_EQ(PartsOf(u"11")[0].text, plain);
    EXPECT_EQ(PartsOf(u"11")[0].kind, u"txt");
    ASSERT_EQ(PartsOf(u"33").size(), 1u);
    EXPECT_EQ(PartsOf(u"33")[0].text, html);
    EXPECT_EQ(PartsOf(u"33")[0].kind, u"html");
    ASSERT_EQ(PartsOf(u"44").size(), 1u);
    EXPECT_EQ(PartsOf(u"44")[0].text, u"<p>Café €</p>");
    EXPECT_TRUE(PartsOf(u"55").empty());

    // Compressed RTF: one text part at segment 0, and nothing left in the work folder.
    const auto rtfParts = PartsOf(u"22");
    ASSERT_EQ(rtfParts.size(), 1u);
    EXPECT_EQ(rtfParts[0].kind, u"txt");
    EXPECT_EQ(rtfParts[0].segmentIndex, 0);
    EXPECT_EQ(rtfParts[0].text, content::RtfToText(std::string_view(rtf)).text);
    EXPECT_NE(rtfParts[0].text.find(u"Café hello world"), std::u16string::npos);
    EXPECT_TRUE(FilesUnder(work_).empty());
}

TEST_F(ItemContentTest, LongBodiesStayWholeAcrossSegments) {
    std::u16string plain;
    while (plain.size() < 70000) {
        plain += u"Zeile ä ö ü 12345 \u20ac\n";
    }
    std::u16string html = u"<html>";
    while (html.size() < 80000) {
        html += u"<p>naïve café 😀</p>";
    }
    std::string rtf = "{\\rtf1\\ansi ";
    while (rtf.size() < 90000) {
        rtf += "word\\par ";
    }
    rtf += "THE END}";
    Open({{"Msg",
           MailMsgColumns(),
           {{{"N67b0", Id(0x1)}, {"S1000", Utf16(plain)}},
            {{"N67b0", Id(0x2)}, {"N1013", Utf8(html)}},
            {{"N67b0", Id(0x3)}, {"N1009", edbforge::compressRtf(rtf)}}}},
          FolderTable("1-A", {1, 2, 3})});
    List(u"1-A", u"Folder");

    for (const auto& [key, expected] : {std::pair{u"1", plain}, std::pair{u"2", html}}) {
        const auto parts = PartsOf(key);
        ASSERT_GT(parts.size(), 1u) << "one long-value segment only";
        std::u16string joined;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            EXPECT_EQ(parts[i].segmentIndex, static_cast<int>(i));
            joined += parts[i].text;
        }
        EXPECT_EQ(joined, expected);
    }
    const auto rtfParts = PartsOf(u"3");
    ASSERT_EQ(rtfParts.size(), 1u);
    EXPECT_EQ(rtfParts[0].text, content::RtfToText(std::string_view(rtf)).text);
    EXPECT_TRUE(rtfParts[0].text.ends_with(u"THE END"));
}

TEST_F(ItemContentTest, BodyKindIsThatOfTheLastBodyColumn) {
    // The same two bodies, in the two column orders.
    auto columns = MailMsgColumns();
    std::swap(columns[3], columns[5]);  // N1013 before S1000
    for (bool htmlLast : {true, false}) {
        testing_support::TempDir dir;
        RecordingHost host;
        content::ItemContent content(work_);
        store::StoreSession session(host, nullptr, &list_, &content);
        Write(dir / "s.edb",
              {{"Msg",
                htmlLast ? MailMsgColumns() : columns,
                {{{"N67b0", Id(7)}, {"S1000", Utf16(u"plain")}, {"N1013", Ascii("<b>x</b>")}}}},
               FolderTable("1-A", {7})});
        ASSERT_EQ(store::OpenStore(session, dir / "s.edb"), store::kOk);
        ASSERT_EQ(store::ListTables(session), store::kOk);
        ASSERT_EQ(store::ScanTableByName(session, u"Msg"), store::kOk);
        session.state.currentFolderClass = u"Folder";
        ASSERT_EQ(store::ScanTableByName(session, u"1-A"), store::kOk);
        ASSERT_EQ(store::LoadFolderItems(session), store::kOk);
        ASSERT_EQ(content.mailDetails.size(), 1u);
        EXPECT_EQ(content.mailDetails[0].bodyKind, htmlLast ? u"html" : u"txt");
        ASSERT_EQ(content.bodyParts.size(), 2u);
        EXPECT_EQ(content.bodyParts[htmlLast ? 1 : 0].text, u"<b>x</b>");
        EXPECT_EQ(content.bodyParts[htmlLast ? 0 : 1].text, u"plain");
    }
}

TEST_F(ItemContentTest, RecipientsAndAttachmentNames) {
    const std::string recipients("Bob Roe\0SMTP\0bob.roe@example.com\0", 33);
    Open({{"Msg",
           MailMsgColumns(),
           {{{"N67b0", Id(1)}, {"N67b3", Utf16(u"xx0abc--0def----")}, {"N67b4", Ascii(recipients)}},
            {{"N67b0", Id(2)}, {"N67b3", Utf16(u"0abc-0def-12345")}},  // 15 characters
            {{"N67b0", Id(3)}, {"N67b3", Utf16(u"no keys in here at all")}}}},
          {"1-23",
           {{"Q3f88", ef::ColumnType::kBinary}, {"S3001", ef::ColumnType::kText}},
           {{{"Q3f88", Id(0xabc)}, {"S3001", Utf16(u"a.doc")}},
            {{"Q3f88", Id(0x123)}, {"S3001", Utf16(u"other.txt")}},
            {{"Q3f88", Id(0xdef)}, {"S3001", Utf16(u"b/../c.pdf")}}}},
          FolderTable("1-A", {1, 2, 3})});
    List(u"1-A", u"Folder");
    ASSERT_EQ(content_.mailDetails.size(), 3u);
    const auto& first = content_.mailDetails[0];
    ASSERT_TRUE(first.recipients);
    EXPECT_NE(first.recipients->find(u"bob.roe@example.com"), std::u16string::npos);
    ASSERT_EQ(first.recipientList.size(), 1u);
    EXPECT_EQ(first.recipientList[0].name, u"Bob Roe");
    EXPECT_EQ(first.recipientList[0].address, u"bob.roe@example.com");
    // The names as the store holds them; only their work files have safe names.
    EXPECT_EQ(first.attachmentNames, u"a.doc;b/../c.pdf;");
    using Attachment = content::MailDetailEntry::Attachment;
    EXPECT_EQ(first.attachments,
              (std::vector<Attachment>{{u"a.doc", u"a.doc"},
                                       {u"b/../c.pdf", content::SafeWorkFileName(u"b/../c.pdf")}}));
    EXPECT_EQ(first.subject, u"subject");
    EXPECT_FALSE(content_.mailDetails[1].attachmentNames);
    EXPECT_FALSE(content_.mailDetails[1].recipients);
    EXPECT_EQ(content_.mailDetails[2].attachmentNames, u"");
}

// A folder table whose records carry an attachment: content at value 39, name at value 42.
Table AttachmentFolder(const std::vector<std::pair<std::u16string, std::string>>& files) {
    std::vector<ef::ColumnDef> columns;
    for (int i = 0; i < 43; ++i) {
        columns.push_back({"X" + std::to_string(i),
                           i == 39 ? ef::ColumnType::kLongBinary : ef::ColumnType::kText,
                           ef::Storage::kTagged});
    }
    columns[0] = {"N67b0", ef::ColumnType::kBinary, ef::Storage::kTagged};
    Table t{"1-A", columns, {}};
    std::uint64_t id = 1;
    for (const auto& [name, bytes] : files) {
        t.records.push_back({{"N67b0", Id(id++)}, {"X39", Ascii(bytes)}, {"X42", Utf16(name)}});
    }
    return t;
}

TEST_F(ItemContentTest, AttachmentContentsLandInTheWorkFolderUnderSafeNames) {
    const std::u16string longName = std::u16string(150, u'ä') + u".pdf";  // 304 UTF-8 bytes
    const std::vector<std::pair<std::u16string, std::string>> files = {
        {u"report.pdf", std::string(70000, 'r') + "end"},
        {u"../x", "escape one"},
        {u"../../y", "escape two"},
        {u"/tmp/abs", "absolute"},
        {u"dir/file \"quoted\"|<>.txt", "separators"},
        {u"..", "dots"},
        {longName, "long"},
        {std::u16string(150, u'ä') + u"other.pdf", "long too"},
    };
    std::vector<ef::Bytes> names;
    Open({{"Msg", MailMsgColumns(), {}}, AttachmentFolder(files)});
    List(u"1-A", u"Folder");

    for (const auto& [name, bytes] : files) {
        const std::u16string safe = content::SafeWorkFileName(name);
        EXPECT_EQ(ReadFile(work_ / safe), bytes) << platform::Utf16ToUtf8(name);
        EXPECT_LE(content::Utf8Length(safe), content::kMaxStoredFileNameBytes);
    }
    const auto inWork = FilesUnder(work_);
    EXPECT_EQ(inWork.size(), files.size());  // long names that share a start stay apart
    for (const fs::path& p : inWork) {
        EXPECT_EQ(p.parent_path(), work_);
    }
    EXPECT_FALSE(fs::exists(dir_ / "x"));
    EXPECT_FALSE(fs::exists(dir_.path().parent_path() / "y"));
    EXPECT_FALSE(fs::exists("/tmp/abs"));
    EXPECT_EQ(FilesUnder(dir_.path()).size(), inWork.size() + 2);  // + store.edb, work/
}

TEST_F(ItemContentTest, AttachmentNamesFindTheSavedFiles) {
    const std::u16string hostile = u"../we;ird:na*me?.doc";
    Open({{"Msg", MailMsgColumns(), {{{"N67b0", Id(1)}, {"N67b3", Utf16(u"--------0abc----")}}}},
          {"1-23",
           {{"Q3f88", ef::ColumnType::kBinary}, {"S3001", ef::ColumnType::kText}},
           {{{"Q3f88", Id(0xabc)}, {"S3001", Utf16(hostile)}}}},
          AttachmentFolder({{hostile, "payload"}})});
    List(u"1-A", u"Folder");
    ASSERT_EQ(content_.mailDetails.size(), 1u);
    EXPECT_EQ(content_.mailDetails[0].attachmentNames, hostile + u";");
    ASSERT_EQ(content_.mailDetails[0].attachments,
              (std::vector<content::MailDetailEntry::Attachment>{
                  {hostile, content::SafeWorkFileName(hostile)}}));
    EXPECT_EQ(ReadFile(work_ / content::SafeWorkFileName(hostile)), "payload");
}

std::vector<ef::ColumnDef> ContactMsgColumns() {
    return Tagged({{"N67b0", ef::ColumnType::kBinary},
                   {"S3a06", ef::ColumnType::kText},
                   {"S3a16", ef::ColumnType::kText},
                   {"S82a0", ef::ColumnType::kText},
                   {"S3a5c", ef::ColumnType::kText},
                   {"S3a2a", ef::ColumnType::kText},
                   {"S809e", ef::ColumnType::kText},
                   {"S81b0", ef::ColumnType::kText},
                   {"S3a29", ef::ColumnType::kText}});
}

TEST_F(ItemContentTest, ContactPagesFollowThePageOrderAndEscapeValues) {
    Open({{"Msg",
           ContactMsgColumns(),
           {{{"N67b0", Id(1)},
             {"S3a06", Utf16(u"Lee")},
             {"S3a16", Utf16(u"<script>alert(\"x\")</script> & Co")},
             {"S82a0", Utf16(u"Ann Lee")},
             {"S3a5c", Utf16(u"CA")},
             {"S3a2a", Utf16(u"11111")},
             {"S809e", Utf16(u"22222")},
             {"S81b0", Utf16(u"ann&lee@example.com")},
             {"S3a29", Utf16(u"1 Main St")}},
            {{"N67b0", Id(2)}, {"S82a0", Utf16(u"Bo")}}}},
          FolderTable("1-C", {1, 2})});
    List(u"1-C", u"IPF.Contact");
    ASSERT_EQ(content_.contactCards.size(), 2u);
    EXPECT_TRUE(content_.mailDetails.empty());
    const auto& card = content_.contactCards[0];
    EXPECT_EQ(card.messageId, u"1");
    EXPECT_EQ(card.values[content::kStreet], u"1 Main St");
    EXPECT_EQ(card.page,
              u"<br><b>Full Name: </b>Ann Lee<br>"
              u"<b>Last Name: </b>Lee<br>"
              u"<b>E-Mail: </b>ann&amp;lee@example.com<br>"
              u"<b>Company Name: </b>&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; Co<br>"
              u"<b>Business Postal Code: </b>22222<br>"
              u"<b>Home Address State </b>CA<br>");
    // Captures never carry over to the next record.
    EXPECT_EQ(content_.contactCards[1].page, u"<br><b>Full Name: </b>Bo<br>");
}

TEST_F(ItemContentTest, ContactPagesAreSavedWithoutOverwriting) {
    const std::u16string longName(120, u'é');  // 240 UTF-8 bytes
    Open({{"Msg",
           ContactMsgColumns(),
           {{{"N67b0", Id(1)}, {"S82a0", Utf16(u"A:B")}},
            {{"N67b0", Id(2)}, {"S82a0", Utf16(u"A:B")}},
            {{"N67b0", Id(3)}, {"S82a0", Utf16(u"Ann \"Q\"\t/\\")}, {"S3a06", Utf16(u"*Lee?")}},
            {{"N67b0", Id(4)}, {"S82a0", Utf16(longName)}}}},
          FolderTable("1-C", {1, 2, 3, 4})});
    const fs::path out = dir_ / "saved";
    fs::create_directory(out);
    {
        std::ofstream taken(out / "A-B41.html");  // 41: the sequence's first number
        taken << "keep me";
    }
    content_.setSaveFolder(out);
    session_.state.exportMode = 1;
    List(u"1-C", u"IPM.Contact");

    EXPECT_TRUE(content_.contactCards.empty());
    EXPECT_EQ(ReadFile(out / "A-B41.html"), "keep me");
    // The sequence goes on 18467, 6334, 26500, 19169.
    EXPECT_EQ(ReadFile(out / "A-B18467.html"), Utf16LeBytes(u"<br><b>Full Name: </b>A:B<br>"));
    EXPECT_TRUE(fs::exists(out / "A-B6334.html"));
    std::vector<fs::path> saved;
    std::string quoted;
    for (const auto& e : fs::directory_iterator(out)) {
        saved.push_back(e.path());
        if (e.path().filename().string().ends_with("26500.html")) {
            quoted = e.path().filename().string();
        }
    }
    EXPECT_TRUE(quoted.starts_with("Ann -Q-")) << quoted;
    EXPECT_TRUE(quoted.ends_with("-Lee-26500.html")) << quoted;
    EXPECT_EQ(quoted.find_first_of("\"\t/\\*?"), std::string::npos) << quoted;
    // Each page has its vCard beside it under the same name.
    EXPECT_EQ(saved.size(), 9u);
    for (const fs::path& file : saved) {
        if (file.extension() == ".html" && file.filename() != "A-B41.html") {
            EXPECT_TRUE(fs::exists(fs::path(file).replace_extension(".vcf"))) << file;
        }
    }
    const std::string longSaved =
        platform::Utf16ToUtf8(content::SavedFileName(longName, 19169, u".html"));
    EXPECT_LE(longSaved.size(), content::kMaxStoredFileNameBytes);
    EXPECT_TRUE(fs::exists(out / longSaved));
    EXPECT_TRUE(FilesUnder(work_).empty());
}

TEST_F(ItemContentTest, DamagedBodiesGiveWhatCanBeRead) {
    const ef::Bytes whole = edbforge::compressRtf("{\\rtf1\\ansi {\\b bold} text that runs on}");
    const ef::Bytes cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
    Open({{"Msg",
           MailMsgColumns(),
           {{{"N67b0", Id(1)}, {"N1009", cut}},
            {{"N67b0", Id(2)}, {"N1009", edbforge::compressRtf("{\\rtf1 a}}}}{{{{ b")}},
            {{"N67b0", Id(3)}, {"N1009", Ascii("LZFu")}},
            {{"N67b0", Id(4)},
             {"N1013", Ascii(std::string_view("a\0b\x01"
                                              "c\td",
                                              7))}}}},
          FolderTable("1-A", {1, 2, 3, 4})});
    List(u"1-A", u"Folder");
    ASSERT_EQ(content_.mailDetails.size(), 4u);
    for (std::u16string key : {u"1", u"2", u"3"}) {
        const auto parts = PartsOf(key);
        ASSERT_EQ(parts.size(), 1u) << platform::Utf16ToUtf8(key);
        EXPECT_EQ(parts[0].kind, u"txt");
    }
    EXPECT_EQ(PartsOf(u"2")[0].text, u"a");
    EXPECT_EQ(PartsOf(u"3")[0].text, u"");
    EXPECT_EQ(PartsOf(u"4")[0].text, u"abc\td");
    EXPECT_TRUE(FilesUnder(work_).empty());
}

}  // namespace
