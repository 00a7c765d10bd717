#include "tools/edbforge/store_builder.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <string>

#include "rtf_decoder.h"
#include "store/esedb.h"
#include "test_files.h"
#include "tools/edbforge/compressed_rtf.h"
#include "tools/edbforge/scenario_json.h"

namespace edbforge {
namespace {

using testing::readFile;
using testing::TempDir;

std::string narrow(const std::u16string& s) {
    return utf16ToUtf8(s);
}

// Tables of an open store by name, and column positions by name.
struct OpenStore {
    ese::File file;
    std::map<std::string, int> tableIndex;
    std::vector<std::string> tableNames;

    explicit OpenStore(const std::filesystem::path& p) : file(p) {
        for (int i = 0; i < file.tableCount(); ++i) {
            std::string n = narrow(file.table(i).name());
            tableNames.push_back(n);
            tableIndex.emplace(n, i);
        }
    }
    ese::Table table(const std::string& name) const {
        auto it = tableIndex.find(name);
        if (it == tableIndex.end()) {
            throw std::runtime_error("no table " + name);
        }
        return file.table(it->second);
    }
};

std::map<std::string, int> columns(const ese::Table& t) {
    std::map<std::string, int> m;
    for (int i = 0; i < t.columnCount(); ++i) {
        m[narrow(t.column(i).name())] = i;
    }
    return m;
}

// Texts each followed by a zero byte, as the address blobs hold them.
std::string zeroSeparated(std::initializer_list<std::string> parts) {
    std::string s;
    for (const auto& p : parts) {
        s += p;
        s.push_back('\0');
    }
    return s;
}

std::string hex(const Bytes& b) {
    std::string s;
    for (auto c : b) {
        s += fmt::format("{:02x}", c);
    }
    return s;
}

Bytes longValueBytes(const ese::Record& r, int index) {
    EXPECT_EQ(r.valueFlags(index) & 0x04, 0x04) << "expected a long value";
    auto lv = r.longValue(index);
    return lv ? lv->data() : Bytes{};
}

std::u16string utf16FromBytes(const Bytes& b) {
    std::u16string s;
    for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
        s.push_back(static_cast<char16_t>(b[i] | b[i + 1] << 8));
    }
    return s;
}

// A small store built in code, with hostile content.
Scenario customScenario() {
    Scenario sc;
    Mailbox alice{0xb01, u"Alice Martin", {}};
    Folder inbox{0x01000000000091c1ULL, 0, u"Inbox", u"IPF.Note", {}};
    Item mail;
    mail.messageClass = u"IPM.Note";
    mail.subject = u"Budget ../../etc/passwd";
    mail.subjectPrefix = u"RE: ";
    mail.senderName = u"Bob Stone";
    mail.sender = Address{"Bob Stone", "bob.stone@contoso.com"};
    mail.recipients = {{"Alice Martin", "alice.martin@contoso.com"},
                       {"Jürgen Müller", "juergen.mueller@fabrikam.de"}};
    mail.date = filetimeFromIso("2009-03-05T14:07:09Z");
    mail.plainBody = std::u16string(70001, u'ü');
    mail.htmlBody = "<html><body><p>Hello</p></body></html>";
    mail.rtfBody = "{\\rtf1\\ansi\\deff0 Hello \\b world\\b0\\par}";
    mail.attachments = {{u"../" + std::u16string(300, u'n') + u".txt", Bytes(20000, 0x41), 0},
                        {u"second.bin", Bytes{1, 2, 3}, 0}};
    inbox.items.push_back(mail);
    Item noClass;
    noClass.subject = u"No class";
    noClass.rawCompressedRtf = Bytes{0x40, 0, 0, 0, 0x80, 0, 0, 0, 'L', 'Z', 'F', 'u'};
    inbox.items.push_back(noClass);
    Folder contacts{0x0100000000000000ULL, 0, u"Contacts", u"IPF.Contact", {}};
    Item contact;
    contact.messageClass = u"IPM.Contact";
    contact.subject = u"Bob Stone";
    contact.properties = {{"S82a0", u"Bob Stone"}, {"S3a09", u"+1 555 0100"}};
    contacts.items.push_back(contact);
    alice.folders = {inbox, contacts};
    sc.mailboxes.push_back(alice);
    sc.mailboxes.push_back({0xc01, u"Mailbox - System Attendant", {}});
    return sc;
}

TEST(edbforgeStore, FolderTablesAreNamedAfterTheFolderId) {
    EXPECT_EQ(folderTableName(0x01000000000091c1ULL), "1-91C1");
    EXPECT_EQ(folderTableName(0x0100000000000000ULL), "1-");
    EXPECT_EQ(folderTableName(0x0123456789abcdefULL), "1-23456789ABCDEF");
    EXPECT_EQ(folderTableName(0x0000000000000abcULL), "1-BC");
    EXPECT_EQ(attachmentKey(0x0100000000a00001ULL), "0100000000a00001");
}

TEST(edbforgeStore, CustomStoreReadsBackThroughLibesedb) {
    TempDir dir;
    auto path = dir / "custom.edb";
    Scenario sc = customScenario();
    StoreBuilder::build(sc, path);
    OpenStore store(path);

    for (const char* name : {"Mailbox", "Folders", "Msg", "1-23", "1-91C1", "1-"}) {
        EXPECT_EQ(store.tableIndex.count(name), 1U) << name;
    }
    std::vector<std::size_t> systemLengths;
    for (const auto& n : store.tableNames) {
        if (n.rfind("Sm", 0) == 0 || n.rfind("System", 0) == 0 || n == "Global") {
            systemLengths.push_back(n.size());
        }
    }
    for (std::size_t len : {6U, 12U, 14U, 16U}) {
        EXPECT_NE(std::find(systemLengths.begin(), systemLengths.end(), len), systemLengths.end())
            << "a system table of " << len << " characters";
    }

    // Mailboxes and folders.
    ese::Table mailboxes = store.table("Mailbox");
    auto mc = columns(mailboxes);
    ASSERT_EQ(mailboxes.recordCount(), 2);
    EXPECT_EQ(mailboxes.record(0).valueData(mc["Q6764"]), encode::u64BigEndian(0xb01));
    EXPECT_EQ(mailboxes.record(1).valueUtf16(mc["S3001"]), u"Mailbox - System Attendant");
    ese::Table folders = store.table("Folders");
    auto fc = columns(folders);
    ASSERT_EQ(folders.recordCount(), 2);
    EXPECT_EQ(folders.record(0).valueData(fc["Q6748"]),
              encode::u64BigEndian(0x01000000000091c1ULL));
    EXPECT_EQ(folders.record(0).valueData(fc["Q6764"]), encode::u64BigEndian(0xb01));
    EXPECT_EQ(folders.record(1).valueUtf16(fc["S3613"]), u"IPF.Contact");

    // The per-folder table: attachment content at 39, its name at 42.
    ese::Table inbox = store.table("1-91C1");
    ASSERT_GE(inbox.columnCount(), 43);
    EXPECT_EQ(inbox.column(kFolderAttachmentDataPosition).type(), 11U);
    EXPECT_EQ(inbox.column(kFolderAttachmentNamePosition).type(), 10U);
    ASSERT_EQ(inbox.recordCount(), 2);
    auto ic = columns(inbox);
    ese::Record row = inbox.record(0);
    const Item& mail = sc.mailboxes[0].folders[0].items[0];
    EXPECT_EQ(longValueBytes(row, kFolderAttachmentDataPosition), mail.attachments[0].content);
    EXPECT_EQ(row.valueUtf16(kFolderAttachmentNamePosition), mail.attachments[0].fileName);
    EXPECT_EQ(row.valueData(ic["T39"]), encode::u64BigEndian(*mail.date));
    EXPECT_EQ(row.valueUtf16(ic["Se1d"]), mail.subject);
    EXPECT_EQ(row.valueUtf16(ic["S3d"]), u"RE: ");
    EXPECT_EQ(row.valueUtf16(ic["S1a"]), u"IPM.Note");
    EXPECT_EQ(row.valueBoolean(ic["Be1b"]), true);
    Bytes sender = row.valueData(ic["N67be"]);
    std::string senderText(sender.begin(), sender.end());
    EXPECT_NE(senderText.find(zeroSeparated({"Bob Stone", "SMTP", "bob.stone@contoso.com"})),
              std::string::npos);
    std::uint64_t messageId = 0;
    for (std::uint8_t b : row.valueData(ic["N67b0"])) {
        messageId = messageId << 8 | b;
    }
    EXPECT_FALSE(inbox.record(1).valueUtf16(ic["S1a"]).has_value()) << "item without a class";

    // "1-23": names match the folder table's, and "Msg" N67b3 reveals the keys.
    ese::Table att = store.table("1-23");
    auto ac = columns(att);
    ASSERT_EQ(att.recordCount(), 2);
    std::vector<std::string> keys;
    for (int i = 0; i < 2; ++i) {
        ese::Record a = att.record(i);
        EXPECT_EQ(a.valueUtf16(ac["S3001"]),
                  mail.attachments[static_cast<std::size_t>(i)].fileName);
        std::uint64_t id = 0;
        for (std::uint8_t b : a.valueData(ac["Q3f88"])) {
            id = id << 8 | b;
        }
        keys.push_back(attachmentKey(id));
    }
    ese::Table msg = store.table("Msg");
    auto gc = columns(msg);
    ASSERT_EQ(msg.recordCount(), 3);
    ese::Record full = msg.record(0);
    EXPECT_EQ(full.valueData(gc["N67b0"]), encode::u64BigEndian(messageId));
    std::string n67b3 = hex(full.valueData(gc["N67b3"]));
    for (const auto& k : keys) {
        EXPECT_NE(n67b3.find(k), std::string::npos) << k << " in " << n67b3;
    }
    Bytes recipients = full.valueData(gc["N67b4"]);
    std::string rt(recipients.begin(), recipients.end());
    EXPECT_NE(rt.find(zeroSeparated({"Alice Martin", "SMTP", "alice.martin@contoso.com"})),
              std::string::npos);
    EXPECT_NE(rt.find(zeroSeparated({"J\xfcrgen M\xfcller", "SMTP"})), std::string::npos)
        << "display names are Windows-1252";
    EXPECT_EQ(utf16FromBytes(longValueBytes(full, gc["S1000"])), *mail.plainBody);
    Bytes html = longValueBytes(full, gc["N1013"]);
    EXPECT_EQ(std::string(html.begin(), html.end()), *mail.htmlBody);
    auto rtf = testing::decodeRtf(longValueBytes(full, gc["N1009"]));
    EXPECT_EQ(rtf.text, *mail.rtfBody);
    EXPECT_EQ(longValueBytes(msg.record(1), gc["N1009"]),
              *sc.mailboxes[0].folders[0].items[1].rawCompressedRtf);
    EXPECT_EQ(msg.record(2).valueUtf16(gc["S3a09"]), u"+1 555 0100");
}

TEST(edbforgeStore, BundledSampleIsRegeneratedByteForByte) {
    std::filesystem::path samples = std::filesystem::path(EDB2MSG_SOURCE_DIR) / "samples";
    TempDir dir;
    auto path = dir / "sample.edb";
    Scenario sc = loadScenario(samples / "sample-store.json");
    StoreBuilder::build(sc, path);
    auto committed = readFile(samples / "sample-store.edb");
    EXPECT_LT(committed.size(), 1024U * 1024U);
    EXPECT_TRUE(readFile(path) == committed)
        << "regenerate with: edbforge build samples/sample-store.json samples/sample-store.edb";
}

TEST(edbforgeStore, BundledSampleCoversTheStoreFeatures) {
    std::filesystem::path samples = std::filesystem::path(EDB2MSG_SOURCE_DIR) / "samples";
    Scenario sc = loadScenario(samples / "sample-store.json");
    OpenStore store(samples / "sample-store.edb");
    ese::Table mailboxes = store.table("Mailbox");
    auto mc = columns(mailboxes);
    int visible = 0;
    std::vector<std::u16string> hiddenPrefixes = {u"SMTP (", u"Mailbox - SystemMailbox{",
                                                  u"Mailbox - /o=", u"/o=",
                                                  u"Mailbox - System Attendant"};
    std::vector<bool> seen(hiddenPrefixes.size());
    for (int i = 0; i < mailboxes.recordCount(); ++i) {
        std::u16string name = mailboxes.record(i).valueUtf16(mc["S3001"]).value_or(u"");
        bool hidden = false;
        for (std::size_t p = 0; p < hiddenPrefixes.size(); ++p) {
            if (name.rfind(hiddenPrefixes[p], 0) == 0) {
                seen[p] = true;
                hidden = true;
            }
        }
        visible += hidden ? 0 : 1;
    }
    EXPECT_EQ(visible, 2);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 5);

    ese::Table msg = store.table("Msg");
    auto gc = columns(msg);
    int items = 0;
    int plain = 0, html = 0, rtf = 0, nonAscii = 0;
    for (const auto& m : sc.mailboxes) {
        for (const auto& f : m.folders) {
            items += static_cast<int>(f.items.size());
        }
    }
    EXPECT_GE(items, 40);
    ASSERT_EQ(msg.recordCount(), items);
    for (int i = 0; i < items; ++i) {
        ese::Record r = msg.record(i);
        plain += r.isLongValue(gc["S1000"]) ? 1 : 0;
        html += r.isLongValue(gc["N1013"]) ? 1 : 0;
        if (r.isLongValue(gc["N1009"])) {
            ++rtf;
            EXPECT_FALSE(testing::decodeRtf(longValueBytes(r, gc["N1009"])).text.empty());
        }
        std::u16string subject = r.valueUtf16(gc["S37"]).value_or(u"");
        nonAscii += std::any_of(subject.begin(), subject.end(), [](char16_t c) { return c > 0x7f; })
                        ? 1
                        : 0;
    }
    EXPECT_GT(plain, 0);
    EXPECT_GT(html, 0);
    EXPECT_GT(rtf, 0);
    EXPECT_GT(nonAscii, 0);
    EXPECT_GT(store.table("1-23").recordCount(), 3);
}

}  // namespace
}  // namespace edbforge
