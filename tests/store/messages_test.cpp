// Message index, attachments, per-folder item rows and the item loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/codepage.h"
#include "store/folders.h"
#include "store/messages.h"
#include "store/values.h"
#include "store_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace store_fixture;
using Row = std::vector<std::u16string>;

// FILETIME of 2009-03-05 14:07:09 UTC.
constexpr std::uint64_t kMarch5 = 128807356290000000ULL;

class RecordingContent : public store::ItemContentHandler {
  public:
    int ReadMsgRecord(store::StoreSession& session, const ese::Record&) override {
        read.push_back(session.state.currentItem.messageId);
        return store::kOk;
    }
    int SaveLongValueToFile(store::StoreSession&, const ese::Record& record, int index,
                            std::u16string_view name) override {
        saved.push_back(std::u16string(name));
        savedSizes.push_back(record.longValue(index) ? record.longValue(index)->data().size() : 0);
        return failSave ? store::kFailed : store::kOk;
    }
    int ExportPendingItems(store::StoreSession& session) override {
        exported.push_back(session.state.currentItem.subject);
        return store::kOk;
    }
    int WriteContactPages(store::StoreSession& session) override {
        pages.push_back(session.state.currentItem.messageId);
        return store::kOk;
    }
    std::vector<std::u16string> read, saved, exported, pages;
    std::vector<std::size_t> savedSizes;
    bool failSave = false;
};

std::vector<ef::ColumnDef> ItemColumns() {
    return {{"N67b0", ef::ColumnType::kBinary}, {"S1a", ef::ColumnType::kText},
            {"S42", ef::ColumnType::kText},     {"N67be", ef::ColumnType::kBinary},
            {"S3d", ef::ColumnType::kText},     {"Se1d", ef::ColumnType::kText},
            {"T39", ef::ColumnType::kBinary},   {"Te06", ef::ColumnType::kBinary},
            {"Be1b", ef::ColumnType::kText},    {"S1000", ef::ColumnType::kText},
            {"S80fd", ef::ColumnType::kText},   {"S3a09", ef::ColumnType::kText},
            {"S3a08", ef::ColumnType::kText},   {"S3a1c", ef::ColumnType::kText},
            {"S3a15", ef::ColumnType::kText},   {"S81b0", ef::ColumnType::kText}};
}

std::map<std::string, ef::Bytes> Item(std::uint64_t id, std::u16string_view cls,
                                      std::u16string_view subject) {
    std::map<std::string, ef::Bytes> r = {
        {"N67b0", Id(id)},
        {"S42", Utf16(u"Ann Lee")},
        {"S3d", Utf16(u"RE: ")},
        {"Se1d", Utf16(subject)},
        {"T39", ef::encode::u64BigEndian(kMarch5)},
        {"Te06", ef::encode::u64BigEndian(kMarch5 + 36000000000ULL)},
        {"Be1b", Utf16(u"yes")}};
    if (!cls.empty()) {
        r["S1a"] = Utf16(cls);
    }
    return r;
}

Table MsgTable(const std::vector<std::uint64_t>& ids) {
    Table t{"Msg", {{"N67b0", ef::ColumnType::kBinary}, {"N67b3", ef::ColumnType::kBinary}}, {}};
    for (std::uint64_t id : ids) {
        t.records.push_back({{"N67b0", Id(id)}, {"N67b3", {'0', 'a', 'b'}}});
    }
    return t;
}

class Messages : public ::testing::Test {
  protected:
    void Open(const std::vector<Table>& tables) {
        Write(dir_ / "store.edb", tables);
        ASSERT_EQ(store::OpenStore(session_, dir_ / "store.edb"), store::kOk) << session_.lastError;
        ASSERT_EQ(store::ListTables(session_), store::kOk);
        ASSERT_EQ(store::ScanTableByName(session_, u"Msg"), store::kOk) << session_.lastError;
    }

    // Lists one folder's table the way the window does, then loads its items.
    int List(std::u16string_view table, std::u16string_view folderClass) {
        session_.model.items.clear();
        session_.state.sequence = 0;
        session_.state.currentFolderClass = std::u16string(folderClass);
        const int scanned = store::ScanTableByName(session_, table);
        const int loaded = store::LoadFolderItems(session_);
        return scanned == store::kOk ? loaded : scanned;
    }

    testing_support::TempDir dir_;
    RecordingHost host_;
    RecordingList list_;
    RecordingContent content_;
    store::StoreSession session_{host_, nullptr, &list_, &content_};
};

TEST_F(Messages, MailFolderListsEveryItemAndReadsEachItem) {
    Open({MsgTable({0x11, 0x22, 0x33}),
          {"1-91C1",
           ItemColumns(),
           {Item(0x11, u"", u"first"), Item(0x22, u"IPF.Note", u"second"),
            Item(0x33, u"IPM.Note", u"third")}}});
    ASSERT_EQ(List(u"1-91C1", u"IPF.Note"), store::kOk);
    EXPECT_EQ(session_.state.currentFolderClass, u"Folder");
    ASSERT_EQ(list_.rows.size(), 3u) << "real mail is of class IPM.Note and must not be lost";
    EXPECT_EQ(list_.rows[0],
              (Row{u"11", u"", u"1", u"Ann Lee;", u"RE: first", u"Mar 05, 2009 14:07:09", u"yes"}));
    EXPECT_EQ(list_.rows[1][1], u"IPF.Note");
    EXPECT_EQ(list_.rows[1][2], u"2");
    EXPECT_EQ(list_.rows[2][1], u"IPM.Note");
    ASSERT_EQ(session_.model.items.size(), 3u);
    EXPECT_EQ(session_.model.items[1].subject, u"RE: second");
    EXPECT_EQ(content_.read, (std::vector<std::u16string>{u"11", u"22", u"33"}));
    // libesedb, whose opening of a file grows with the square of its catalogue, was not needed.
    EXPECT_FALSE(session_.database->libesedbOpened());
}

TEST_F(Messages, SenderAddressIsResolvedIntoTheFromText) {
    auto item = Item(0x11, u"", u"hello");
    const std::string blob("Ann Lee\0SMTP\0ann.lee@example.com\0", 33);
    item["N67be"] = ef::Bytes(blob.begin(), blob.end());
    Open({MsgTable({0x11}), {"1-A", ItemColumns(), {item}}});
    ASSERT_EQ(List(u"1-A", u"Folder"), store::kOk);
    ASSERT_EQ(list_.rows.size(), 1u);
    EXPECT_EQ(list_.rows[0][3], u"Ann Lee;Ann Lee<ann.lee@example.com>");
    EXPECT_EQ(session_.state.currentItem.from, u"Ann Lee;Ann Lee<ann.lee@example.com>");
}

TEST_F(Messages, MissingPartsAreUnknownInTheItemList) {
    Open({MsgTable({0x11}), {"1-A", ItemColumns(), {{{"N67b0", Id(0x11)}}}}});
    ASSERT_EQ(List(u"1-A", u""), store::kOk);
    ASSERT_EQ(session_.model.items.size(), 1u);
    EXPECT_EQ(session_.model.items[0].from, u"Unknown");
    EXPECT_EQ(session_.model.items[0].subject, u"Unknown");
    EXPECT_EQ(session_.model.items[0].date, u"Unknown");
    EXPECT_EQ(list_.rows[0], (Row{u"11", u"", u"1", u"", u"", u"", u""}));
}

TEST_F(Messages, RowsOfEachFolderClass) {
    auto contact = Item(0x11, u"IPM.Contact", u"Ann Lee");
    contact["S3a09"] = Utf16(u"555-0100");
    contact["S3a08"] = Utf16(u"555-0101");
    contact["S3a1c"] = Utf16(u"555-0102");
    contact["S3a15"] = Utf16(u"1 Main St");
    contact["S81b0"] = Utf16(u"ann@example.com");
    auto appointment = Item(0x22, u"IPM.Appointment", u"Review");
    appointment["S80fd"] = Utf16(u"Room 4");
    auto task = Item(0x33, u"IPM.Task", u"Report");
    task["S1000"] = Utf16(u"Write it");
    Open({MsgTable({0x11, 0x22, 0x33}),
          {"1-C", ItemColumns(), {contact}},
          {"1-D", ItemColumns(), {appointment}},
          {"1-E", ItemColumns(), {task}},
          {"1-F", ItemColumns(), {task}}});
    const std::u16string date = u"Mar 05, 2009 14:07:09";
    const std::u16string later = u"Mar 05, 2009 15:07:09";

    ASSERT_EQ(List(u"1-C", u"IPF.Contact"), store::kOk);
    EXPECT_EQ(list_.rows.back(),
              (Row{u"11", u"IPM.Contact", u"1", u"RE: Ann Lee", u"RE: Ann Lee", u"RE: Ann Lee",
                   u"555-0100", u"555-0101", u"555-0102", u"1 Main St", u"ann@example.com", date}));
    EXPECT_EQ(session_.model.contacts.size(), 1u);
    EXPECT_EQ(content_.read, (std::vector<std::u16string>{u"11"}));

    ASSERT_EQ(List(u"1-D", u"IPF.Appointment"), store::kOk);
    EXPECT_EQ(list_.rows.back(), (Row{u"22", u"IPM.Appointment", u"1", u"Ann Lee;", u"RE: Review",
                                      date, later, u"Room 4"}));
    ASSERT_EQ(List(u"1-E", u"IPM.Task"), store::kOk);
    EXPECT_EQ(list_.rows.back()[7], u"Write it");
    ASSERT_EQ(List(u"1-F", u"IPF.StickyNote"), store::kOk);
    EXPECT_EQ(list_.rows.back()[7], later);
    const std::size_t rows = list_.rows.size();
    ASSERT_EQ(List(u"1-F", u"IPF.Unheard"), store::kOk);
    EXPECT_EQ(list_.rows.size(), rows);
    EXPECT_TRUE(session_.model.items.empty());
}

TEST_F(Messages, WhileSavingOnlyJournalsWriteRows) {
    Open({MsgTable({0x11, 0x22}),
          {"1-A", ItemColumns(), {Item(0x11, u"", u"mail")}},
          {"1-B", ItemColumns(), {Item(0x22, u"IPM.Activity", u"call")}}});
    session_.state.exportMode = 1;
    ASSERT_EQ(List(u"1-A", u"Folder"), store::kOk);
    EXPECT_TRUE(list_.rows.empty());
    EXPECT_EQ(content_.exported, (std::vector<std::u16string>{u"RE: mail"}));
    EXPECT_TRUE(session_.model.items.empty());  // emptied after exporting
    ASSERT_EQ(List(u"1-B", u"IPF.Journal"), store::kOk);
    ASSERT_EQ(list_.rows.size(), 1u);
    EXPECT_EQ(list_.rows[0], (Row{u"22", u"IPM.Activity", u"1", u"Ann Lee;", u"RE: call",
                                  u"Mar 05, 2009 14:07:09", u"yes"}));
}

TEST_F(Messages, ByteOrderTurnsBigEndianAtTheFirstIdentifier) {
    // "T39" ahead of every identifier column is read little-endian.
    std::vector<ef::ColumnDef> dateFirst = {{"T39", ef::ColumnType::kBinary},
                                            {"N67b0", ef::ColumnType::kBinary},
                                            {"Te06", ef::ColumnType::kBinary}};
    Open({MsgTable({}),
          {"1-A",
           dateFirst,
           {{{"T39", ef::encode::u64LittleEndian(kMarch5)},
             {"N67b0", Id(0x11)},
             {"Te06", ef::encode::u64BigEndian(kMarch5)}}}}});
    ASSERT_EQ(List(u"1-A", u"IPF.Appointment"), store::kOk);
    ASSERT_EQ(list_.rows.size(), 1u);
    EXPECT_EQ(list_.rows[0][5], u"Mar 05, 2009 14:07:09");
    EXPECT_EQ(list_.rows[0][6], u"Mar 05, 2009 14:07:09");
}

TEST_F(Messages, JoinReadsEveryIndexEntryOfAnIdAndStepsTheProgressBar) {
    std::vector<std::uint64_t> ids;
    std::vector<std::map<std::string, ef::Bytes>> items;
    for (std::uint64_t i = 1; i <= 149; ++i) {
        ids.push_back(i);
        items.push_back(Item(i, u"", u"item"));
    }
    ids.push_back(7);  // a second index entry for item 7
    Open({MsgTable(ids), {"1-A", ItemColumns(), items}});
    host_.positions.clear();
    ASSERT_EQ(List(u"1-A", u"Folder"), store::kOk);
    EXPECT_EQ(content_.read.size(), 150u);
    EXPECT_EQ(std::count(content_.read.begin(), content_.read.end(), u"7"), 2);
    // The table scan steps the bar once per record (0..100, 0, 1..48), then the loader
    // starts at 0 and runs 1..100, 0, 1..50, and ends at 0.
    std::vector<int> loader(host_.positions.begin() + 150, host_.positions.end());
    std::vector<int> expected = {0};
    for (int i = 1; i <= 100; ++i)
        expected.push_back(i);
    expected.push_back(0);
    for (int i = 1; i <= 50; ++i)
        expected.push_back(i);
    expected.push_back(0);
    EXPECT_EQ(loader, expected);
}

TEST_F(Messages, AttachmentColumnsFromPosition39AreSaved) {
    // All tagged, so that value positions follow the declaration.
    std::vector<ef::ColumnDef> columns;
    for (int i = 0; i < 43; ++i) {
        columns.push_back({"X" + std::to_string(i),
                           i == 39 ? ef::ColumnType::kLongBinary : ef::ColumnType::kText,
                           ef::Storage::kTagged});
    }
    columns[0].name = "N67b0";
    columns[0].type = ef::ColumnType::kBinary;
    const std::string content(3000, 'z');
    Open({MsgTable({1, 2}),
          {"1-A",
           columns,
           {{{"N67b0", Id(1)},
             {"X39", ef::Bytes(content.begin(), content.end())},
             {"X42", Utf16(u"report.pdf")}},
            {{"N67b0", Id(2)}}}},
          {"1-B",
           std::vector<ef::ColumnDef>(columns.begin(), columns.begin() + 40),
           {{{"N67b0", Id(1)}, {"X39", ef::Bytes(content.begin(), content.end())}}}}});
    ASSERT_EQ(List(u"1-A", u"Folder"), store::kOk);
    EXPECT_EQ(content_.saved, (std::vector<std::u16string>{u"report.pdf"}));
    EXPECT_EQ(content_.savedSizes, (std::vector<std::size_t>{3000}));
    // Fewer than 43 values: no name at 42, nothing saved.
    ASSERT_EQ(List(u"1-B", u"Folder"), store::kOk);
    EXPECT_EQ(content_.saved.size(), 1u);
    // A failed save ends the table's walk.
    content_.failSave = true;
    EXPECT_EQ(store::ScanTableByName(session_, u"1-A"), store::kFailed);
}

TEST_F(Messages, IndexAndAttachmentTables) {
    // Values that need more than their own bytes: keys kept as a long value, a name that only
    // libesedb reads (single-byte text beyond ASCII).
    Table msg = MsgTable({0x1000000000091c1});
    msg.columns[1].type = ef::ColumnType::kLongBinary;
    msg.records.push_back({{"N67b0", Id(0x2)}, {"N67b3", ef::Bytes(5000, '0')}});
    const auto ansi = [](std::string_view text) { return ef::Bytes(text.begin(), text.end()); };
    Open({msg,
          {"1-23",
           {{"Q3f88", ef::ColumnType::kBinary},
            {"S3001", ef::ColumnType::kText, ef::Storage::kAuto, false, 1252}},
           {{{"Q3f88", Id(0xabc)}, {"S3001", ansi("a.doc")}},
            {{"Q3f88", Id(0xdef)}},
            {{"Q3f88", Id(0x123)}, {"S3001", ansi("caf\xe9\t.txt")}}}}});
    ASSERT_EQ(store::ScanTableByName(session_, u"1-23"), store::kOk);
    ASSERT_EQ(session_.model.messages().size(), 2u);
    EXPECT_EQ(session_.model.messages()[0].messageId, u"1000000000091c1");
    EXPECT_EQ(session_.model.messages()[0].attachmentKeys, u"306162");
    EXPECT_EQ(session_.model.messages()[1].messageId, u"2");
    EXPECT_TRUE(session_.model.messages()[1].attachmentKeys.empty());  // long values are not shown
    ASSERT_EQ(session_.model.attachments.size(), 3u);
    EXPECT_EQ(session_.model.attachments[0].key, u"0abc");
    EXPECT_EQ(session_.model.attachments[0].name, u"a.doc");
    EXPECT_EQ(session_.model.attachments[1].name, u"def");  // the id stands in for the name
    EXPECT_EQ(session_.model.attachments[1].recordIndex, 1);
    EXPECT_EQ(session_.model.attachments[2].key, u"0123");
    EXPECT_EQ(session_.model.attachments[2].name, u"caf\u00e9.txt");
    EXPECT_EQ(session_.state.sequence, 3);
}

TEST_F(Messages, AnIndexOfManyLeavesHoldsEveryRecordInOrder) {
    // Enough records for a tree of many leaves, which a scan may read in parts at once: ids
    // kept as numbers and as text, keys found in place and keys that need the whole record, in
    // every stretch of the table.
    constexpr int kRecords = 6000;
    Table msg{
        "Msg", {{"N67b0", ef::ColumnType::kBinary}, {"N67b3", ef::ColumnType::kLongBinary}}, {}};
    const auto keysOf = [](int i) -> std::u16string {
        return i % 7 == 0 && i % 97 != 5 ? u"6162" : u"";
    };
    for (int i = 0; i < kRecords; ++i) {
        std::map<std::string, ef::Bytes> r;
        if (i % 10 != 3) {
            r["N67b0"] = Id(static_cast<std::uint64_t>(i) + 1);
        }
        if (i % 97 == 5) {
            r["N67b3"] = ef::Bytes(5000, '0');  // a long value: the record is read whole
        } else if (i % 7 == 0) {
            r["N67b3"] = {'a', 'b'};
        }
        msg.records.push_back(std::move(r));
    }
    Open({msg});
    const store::MessageIndex& index = session_.model.messages();
    ASSERT_EQ(index.size(), static_cast<std::size_t>(kRecords));
    for (int i = 0; i < kRecords; ++i) {
        const store::MessageEntry entry = index[static_cast<std::size_t>(i)];
        ASSERT_EQ(entry.recordIndex, i);
        std::u16string id;
        if (i % 10 != 3) {
            store::AppendLowerHex(static_cast<std::uint64_t>(i) + 1, id);
        }
        ASSERT_EQ(entry.messageId, id) << i;
        ASSERT_EQ(entry.attachmentKeys, keysOf(i)) << i;
    }
    EXPECT_EQ(session_.model.MessagesWithId(u"1770"), std::vector<std::size_t>{6000 - 1});
    EXPECT_EQ(session_.model.MessagesWithId(u"").size(), static_cast<std::size_t>(kRecords / 10));
}

TEST(MessageIndex, FindsEveryEntryOfAnIdBeforeAndAfterItIsSealed) {
    store::StoreModel model;
    model.AddMessage({u"a1", 10, u""});
    model.AddMessage({u"b2", 11, u"3061"});
    model.AddMessage({u"a1", 12, u""});
    const auto expectFound = [&](const std::vector<std::size_t>& a1) {
        EXPECT_EQ(model.MessagesWithId(u"a1"), a1);
        EXPECT_EQ(model.MessagesWithId(u"b2"), std::vector<std::size_t>{1});
        // Neither a part of an id nor ids run together are an id.
        EXPECT_TRUE(model.MessagesWithId(u"a").empty());
        EXPECT_TRUE(model.MessagesWithId(u"a1b2").empty());
        EXPECT_TRUE(model.MessagesWithId(u"").empty());
    };
    expectFound({0, 2});
    model.messages().Seal();
    expectFound({0, 2});
    // Added after the seal: found after the sealed ones, and again once sealed with them.
    model.AddMessage({u"a1", 13, u"3062"});
    expectFound({0, 2, 3});
    model.messages().Seal();
    expectFound({0, 2, 3});
    ASSERT_EQ(model.messages().size(), 4u);
    EXPECT_EQ(model.messages()[1].messageId, u"b2");
    EXPECT_EQ(model.messages()[1].attachmentKeys, u"3061");
    EXPECT_EQ(model.messages()[3].recordIndex, 13);
    EXPECT_EQ(model.messages()[3].attachmentKeys, u"3062");
    EXPECT_TRUE(model.messages()[2].attachmentKeys.empty());

    // Ids that are numbers in hex digits are kept as numbers, any other as text: the text
    // given is the text found, and a number's other spellings are other ids.
    model.messages().Add(0x00a1ULL, 14, u"");
    model.AddMessage({u"00a1", 15, u"3063"});
    model.AddMessage({u"A1", 16, u""});
    model.AddMessage({u"", 17, u""});
    model.AddMessage({u"10000000000000000", 18, u""});  // past 64 bits
    model.messages().Add(0xffffffffffffffffULL, 19, u"3064");
    model.messages().Add(0, 20, u"");
    for (const bool sealed : {false, true}) {
        if (sealed) {
            model.messages().Seal();
        }
        EXPECT_EQ(model.MessagesWithId(u"a1"), (std::vector<std::size_t>{0, 2, 3, 4}));
        EXPECT_EQ(model.MessagesWithId(u"00a1"), std::vector<std::size_t>{5});
        EXPECT_EQ(model.MessagesWithId(u"A1"), std::vector<std::size_t>{6});
        EXPECT_EQ(model.MessagesWithId(u""), std::vector<std::size_t>{7});
        EXPECT_EQ(model.MessagesWithId(u"10000000000000000"), std::vector<std::size_t>{8});
        EXPECT_EQ(model.MessagesWithId(u"ffffffffffffffff"), std::vector<std::size_t>{9});
        EXPECT_EQ(model.MessagesWithId(u"0"), std::vector<std::size_t>{10});
        EXPECT_TRUE(model.MessagesWithId(u"00").empty());
    }
    const std::vector<std::u16string> ids = {
        u"a1", u"00a1", u"A1", u"", u"10000000000000000", u"ffffffffffffffff", u"0"};
    for (std::size_t k = 0; k < ids.size(); ++k) {
        EXPECT_EQ(model.messages()[4 + k].messageId, ids[k]);
        EXPECT_EQ(model.messages()[4 + k].recordIndex, static_cast<std::int32_t>(14 + k));
    }
    EXPECT_EQ(model.messages()[5].attachmentKeys, u"3063");
    EXPECT_EQ(model.messages()[9].attachmentKeys, u"3064");
    EXPECT_TRUE(model.messages()[10].attachmentKeys.empty());
}

// An index of a real store's size: its lookup runs to the most buckets, and it grows past the
// room reserved for it after it was sealed.
TEST(MessageIndex, FindsEveryIdOfAnIndexOfMegabytes) {
    store::StoreModel model;
    constexpr std::uint64_t kFirst = 150'000;
    constexpr std::uint64_t kAll = 400'000;
    auto idOf = [](std::uint64_t i) { return (i % 100'000) * 0x9e3779b97f4aULL + 1; };
    model.messages().Reserve(kFirst);
    for (std::uint64_t i = 0; i < kAll; ++i) {
        model.messages().Add(idOf(i), static_cast<std::int32_t>(i), i % 1000 == 0 ? u"0a" : u"");
        if (i + 1 == kFirst) {
            model.messages().Seal();
        }
    }
    // The last ones are found before they are sealed too.
    for (const bool sealed : {false, true}) {
        if (sealed) {
            model.messages().Seal();
        }
        for (std::uint64_t i = 0; i < 100'000; i += 997) {
            std::u16string id;
            store::AppendLowerHex(idOf(i), id);
            EXPECT_EQ(model.MessagesWithId(id),
                      (std::vector<std::size_t>{i, i + 100'000, i + 200'000, i + 300'000}))
                << i;
        }
    }
    ASSERT_EQ(model.messages().size(), kAll);
    for (std::uint64_t i = 0; i < kAll; i += 1009) {
        const store::MessageEntry entry = model.messages()[i];
        EXPECT_EQ(entry.recordIndex, static_cast<std::int32_t>(i));
        EXPECT_EQ(entry.attachmentKeys, i % 1000 == 0 ? u"0a" : u"");
    }
    EXPECT_TRUE(model.MessagesWithId(u"2").empty());
}

TEST_F(Messages, AbsentFolderTableListsNothing) {
    Open({MsgTable({1})});
    EXPECT_EQ(List(u"1-FFFF", u"Folder"), store::kOk);
    EXPECT_TRUE(list_.rows.empty());
    EXPECT_TRUE(content_.read.empty());
}

// A table that the database gives otherwise at a listed place is never read under the listed
// name.
TEST_F(Messages, NoTableIsReadUnderAnothersName) {
    Open({MsgTable({0x11}), {"1-91C1", ItemColumns(), {Item(0x11, u"IPM.Note", u"only")}}});
    auto& tables = session_.model.tables;
    const auto entry = [&](std::u16string_view name) {
        return std::find_if(tables.begin(), tables.end(),
                            [&](const store::TableEntry& e) { return e.name == name; });
    };
    const auto msg = entry(u"Msg");
    const auto folder = entry(u"1-91C1");
    ASSERT_NE(msg, tables.end());
    ASSERT_NE(folder, tables.end());
    std::swap(msg->catalogIndex, folder->catalogIndex);

    // The folder's scan and the index scan fail in words, with nothing listed.
    session_.state.currentFolderClass = u"IPF.Note";
    EXPECT_EQ(store::ScanTableByName(session_, u"1-91C1"), store::kFailed);
    EXPECT_NE(session_.lastError.find("gives the table \"Msg\" where the list has \"1-91C1\""),
              std::string::npos)
        << session_.lastError;
    EXPECT_TRUE(list_.rows.empty());
    EXPECT_TRUE(session_.model.items.empty());
    EXPECT_EQ(store::ScanTableByName(session_, u"Msg"), store::kFailed);
    EXPECT_THROW((void)store::OpenListedTable(session_, *msg), ese::Error);

    // Listed with the right places, then the item load meets a wrong "Msg": it fails, and no
    // record of the folder's table is read as an item.
    std::swap(msg->catalogIndex, folder->catalogIndex);
    ASSERT_EQ(List(u"1-91C1", u"IPF.Note"), store::kOk) << session_.lastError;
    ASSERT_EQ(content_.read.size(), 1u);
    content_.read.clear();
    std::swap(msg->catalogIndex, folder->catalogIndex);
    EXPECT_EQ(store::LoadFolderItems(session_), store::kFailed);
    EXPECT_NE(session_.lastError.find("table \"Msg\""), std::string::npos) << session_.lastError;
    EXPECT_TRUE(content_.read.empty());
}

TEST(DamagedStore, ScanFailsInWordsWithoutCrashing) {
    testing_support::TempDir dir;
    std::vector<std::map<std::string, ef::Bytes>> items;
    for (std::uint64_t i = 1; i <= 400; ++i) {
        items.push_back(Item(i, u"", u"item number " + std::u16string(40, u'x')));
    }
    const auto good = Write(dir / "good.edb", {MsgTable({1, 2, 3}), {"1-A", ItemColumns(), items}});
    const auto size = std::filesystem::file_size(good);
    int failures = 0;
    for (double cut : {0.3, 0.5, 0.7, 0.9}) {
        for (bool overwrite : {false, true}) {
            const auto bad = dir / "bad.edb";
            std::filesystem::copy_file(good, bad,
                                       std::filesystem::copy_options::overwrite_existing);
            const auto at = static_cast<std::uintmax_t>(static_cast<double>(size) * cut);
            if (overwrite) {
                std::fstream f(bad, std::ios::in | std::ios::out | std::ios::binary);
                f.seekp(static_cast<std::streamoff>(at));
                const std::string junk(8192, '\x5a');
                f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
            } else {
                std::filesystem::resize_file(bad, at);
            }
            RecordingHost host;
            store::StoreSession session(host);
            int result = store::OpenStore(session, bad);
            if (result == store::kOk) {
                result = store::ListTables(session);
            }
            if (result == store::kOk) {
                session.state.currentFolderClass = u"Folder";
                result = std::min(store::ScanTableByName(session, u"Msg"),
                                  store::ScanTableByName(session, u"1-A"));
            }
            if (result != store::kOk) {
                ++failures;
                EXPECT_FALSE(session.lastError.empty()) << cut << " " << overwrite;
            }
        }
    }
    EXPECT_GT(failures, 0);
}

}  // namespace
