// Value decoding and the scan driver on databases written by the fixture writer.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "store/session.h"
#include "store/values.h"
#include "store_fixture.h"
#include "support/temp_dir.h"
#include "tools/edbforge/database_writer.h"

namespace {

namespace ef = edbforge;
using store::Text;

using store_fixture::RecordingHost;

// One table "Values" with one record holding the crafted values below.
class Decoders : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_ / "values.edb";
        ef::DatabaseWriter db(path_);
        ef::TableDef def{"Values",
                         {{"Flag", ef::ColumnType::kBoolean},
                          {"Small", ef::ColumnType::kShort},
                          {"SmallUnsigned", ef::ColumnType::kUnsignedShort},
                          {"Whole", ef::ColumnType::kLong},
                          {"WholeUnsigned", ef::ColumnType::kUnsignedLong},
                          {"Big", ef::ColumnType::kLongLong},
                          {"Money", ef::ColumnType::kCurrency},
                          {"Q6748", ef::ColumnType::kBinary},
                          {"T39", ef::ColumnType::kBinary},
                          {"Epoch", ef::ColumnType::kBinary},
                          {"Count", ef::ColumnType::kBinary},
                          {"Guid", ef::ColumnType::kBinary},
                          {"Empty", ef::ColumnType::kBinary},
                          {"Odd", ef::ColumnType::kBinary},
                          {"Ansi", ef::ColumnType::kBinary},
                          {"S3001", ef::ColumnType::kText},
                          {"Narrow", ef::ColumnType::kText, ef::Storage::kAuto, false, 1252},
                          {"Many", ef::ColumnType::kText, ef::Storage::kTagged, true},
                          {"ManyBinary", ef::ColumnType::kBinary, ef::Storage::kTagged, true},
                          {"Body", ef::ColumnType::kLongText},
                          {"Absent", ef::ColumnType::kText}}};
        ef::TableWriter& table = db.addTable(def);
        ef::Record r = table.newRecord();
        auto set = [&](std::string_view column, ef::Bytes bytes) {
            r.set(static_cast<std::size_t>(table.columnIndex(column)), std::move(bytes));
        };
        set("Flag", {0x02});
        set("Small", ef::encode::u16(0xFFFF));
        set("SmallUnsigned", ef::encode::u16(0xFFFF));
        set("Whole", ef::encode::i32(-1));
        set("WholeUnsigned", ef::encode::u32(4000000000u));
        set("Big", ef::encode::i64(-5));
        set("Money", ef::encode::i64(0x1000000000289));
        set("Q6748", {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x91, 0xc1});
        set("T39", ef::encode::u64BigEndian(128807356290000000ULL));  // Mar 05, 2009 14:07:09
        set("Epoch", ef::encode::u64LittleEndian(0));
        set("Count", {0x00, 0x00, 0x01, 0x02});
        set("Guid", {0xf1, 0x0a, 0x36, 0x3f, 0x66, 0x67, 0xdc, 0x46, 0x9a, 0xf2, 0x0d, 0xac, 0xf2,
                     0x95, 0xc2, 0xa1});
        set("Odd", {0x01, 0x02, 0x03});
        set("Ansi", {'c', 'a', 'f', 0xe9, 0x00, 'x'});
        set("S3001", ef::encode::utf16(u"a\tb\\c"));
        set("Narrow", ef::encode::ascii("caf\xe9"));
        r.setMulti(static_cast<std::size_t>(table.columnIndex("Many")),
                   {ef::encode::utf16(u"x"), ef::encode::utf16(u"y")});
        r.setMulti(static_cast<std::size_t>(table.columnIndex("ManyBinary")),
                   {{0xaa}, {0xbb, 0xcc}});
        r.set(static_cast<std::size_t>(table.columnIndex("Body")),
              ef::encode::utf16(std::u16string(5000, u'b')), ef::Placement::kSeparated);
        table.append(r);
        db.finish();

        file_.emplace(path_);
        for (int t = 0; t < file_->tableCount(); ++t) {
            if (file_->table(t).name() == u"Values") {
                record_.emplace(file_->table(t).record(0));
            }
        }
        ASSERT_TRUE(record_.has_value());
        for (int i = 0; i < record_->valueCount(); ++i) {
            positions_[platform::Utf16ToUtf8(record_->columnName(i))] = i;
        }
    }

    int At(const std::string& column) {
        EXPECT_TRUE(positions_.contains(column)) << column;
        return positions_[column];
    }
    Text Generic(const std::string& column) {
        return store::RecordValueToText(*record_, At(column), u"<default>");
    }

    testing_support::TempDir dir_;
    std::filesystem::path path_;
    std::optional<ese::File> file_;
    std::optional<ese::Record> record_;
    std::map<std::string, int> positions_;
};

TEST_F(Decoders, GenericDecoderByColumnType) {
    EXPECT_EQ(Generic("Flag"), u"true");  // any non-zero byte
    EXPECT_EQ(Generic("Small"), u"-1");
    EXPECT_EQ(Generic("SmallUnsigned"), u"65535");
    EXPECT_EQ(Generic("Whole"), u"4294967295");  // type 4 prints unsigned
    EXPECT_EQ(Generic("WholeUnsigned"), u"4000000000");
    EXPECT_EQ(Generic("Big"), u"-5");
    EXPECT_EQ(Generic("Q6748"), u"01000000000091c1");
    EXPECT_EQ(Generic("S3001"), u"abc");
    EXPECT_EQ(Generic("Narrow"), u"caf\u00e9");
    EXPECT_EQ(Generic("Many"), u"y");
    EXPECT_EQ(Generic("ManyBinary"), u"bbcc");
    EXPECT_EQ(Generic("Body"), u"<default>");  // long values are not shown
    EXPECT_EQ(Generic("Empty"), u"<default>");
    EXPECT_EQ(Generic("Absent"), u"<default>");
    EXPECT_EQ(store::RecordValueToText(*record_, record_->valueCount(), u"d"), std::nullopt);
}

TEST_F(Decoders, IdentifiersInEitherByteOrder) {
    EXPECT_EQ(store::IdentifierToText(*record_, At("Q6748"), 'b', std::nullopt),
              u"1000000000091c1");
    EXPECT_EQ(store::IdentifierToText(*record_, At("Q6748"), 'l', std::nullopt),
              u"c191000000000001");
    EXPECT_EQ(store::IdentifierToText(*record_, At("Q6748"), 'x', std::nullopt), std::nullopt);
    EXPECT_EQ(store::IdentifierToText(*record_, At("Empty"), 'b', u"none"), u"none");
    EXPECT_EQ(store::IdentifierToText(*record_, At("Odd"), 'b', u"none"), std::nullopt);
    EXPECT_EQ(store::IdentifierToText(*record_, At("Money"), 'l', std::nullopt), u"1000000000289");
}

TEST_F(Decoders, TimesIntegersGuidsAndSingleByteText) {
    EXPECT_EQ(store::FiletimeBytesToText(*record_, At("T39"), 'b'), u"Mar 05, 2009 14:07:09");
    EXPECT_EQ(store::FiletimeBytesToText(*record_, At("Epoch"), 'l'), u"Jan 01, 1601 00:00:00");
    EXPECT_EQ(store::FiletimeBytesToText(*record_, At("Odd"), 'l'), std::nullopt);
    EXPECT_EQ(store::FiletimeBytesToText(*record_, At("Empty"), 'l'), std::nullopt);
    EXPECT_EQ(store::Integer32ToText(*record_, At("Count"), 'b'), u"258");
    EXPECT_EQ(store::Integer32ToText(*record_, At("Count"), 'l'), u"33619968");
    EXPECT_EQ(store::GuidToText(*record_, At("Guid"), 'l'),
              u"3f360af1-6766-46dc-9af2-0dacf295c2a1");
    EXPECT_EQ(store::BytesToAnsiText(*record_, At("Ansi")), u"caf\u00e9");
    EXPECT_EQ(store::AnsiValueToText(*record_, At("Ansi")), u"caf\u00e9");
    EXPECT_EQ(store::RawBinaryValue(*record_, At("Odd")), (ese::Bytes{1, 2, 3}));
    EXPECT_EQ(store::RawBinaryValue(*record_, At("S3001")), std::nullopt);
}

TEST_F(Decoders, LongValueIsReadInFullThroughTheLayer) {
    const int body = At("Body");
    EXPECT_TRUE(record_->valueFlags(body) & ese::kLongValue);
    auto value = record_->longValue(body);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->text(), std::u16string(5000, u'b'));
    EXPECT_EQ(value->data().size(), 10000u);
}

// A database with one table of the given name and record count.
std::filesystem::path TableOf(const std::filesystem::path& dir, const std::string& name,
                              int records) {
    const auto path = dir / (name + ".edb");
    ef::DatabaseWriter db(path);
    ef::TableWriter& table = db.addTable({name, {{"Id", ef::ColumnType::kLong}}});
    for (int i = 0; i < records; ++i) {
        ef::Record r = table.newRecord();
        r.set(0, ef::encode::i32(i));
        table.append(r);
    }
    db.finish();
    return path;
}

TEST(ScanDriver, ProgressRunsToHundredAndStartsOver) {
    testing_support::TempDir dir;
    RecordingHost host;
    store::StoreSession session(host);
    ASSERT_EQ(store::OpenStore(session, TableOf(dir.path(), "Global", 250)), store::kOk);
    ASSERT_EQ(store::ListTables(session), store::kOk);
    ASSERT_EQ(store::ScanTableByName(session, u"Global"), store::kOk) << session.lastError;
    std::vector<int> expected;
    for (int i = 0; i <= 100; ++i)
        expected.push_back(i);
    for (int i = 0; i <= 100; ++i)
        expected.push_back(i);
    for (int i = 0; i <= 49; ++i)
        expected.push_back(i);
    EXPECT_EQ(host.positions, expected);
    EXPECT_TRUE(session.model.mailboxes.empty());
}

TEST(ScanDriver, MissingTableIsNoError) {
    testing_support::TempDir dir;
    RecordingHost host;
    store::StoreSession session(host);
    ASSERT_EQ(store::OpenStore(session, TableOf(dir.path(), "Folders", 3)), store::kOk);
    ASSERT_EQ(store::ListTables(session), store::kOk);
    EXPECT_EQ(store::ScanTableByName(session, u"1-23"), store::kOk);
    EXPECT_EQ(store::ScanTableByName(session, u"folders"), store::kOk);  // case counts
    EXPECT_TRUE(host.positions.empty());
}

}  // namespace
