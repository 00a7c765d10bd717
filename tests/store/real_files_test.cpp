// The reader against databases written by Windows' own database engine.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "store/session.h"
#include "store/values.h"
#include "store_fixture.h"
#include "support/temp_dir.h"

namespace {

using store::RecordValueToText;
using store::Text;

const std::vector<std::string> kFiles = {"basic", "binary", "text", "multi", "default", "index"};

using store_fixture::RecordingHost;

class RealFiles : public ::testing::Test {
  protected:
    void SetUp() override { REQUIRE_REAL_DATABASES(); }

    std::filesystem::path Database(const std::string& name) {
        return testing_support::DecompressRealDatabase(name, dir_.path());
    }

    // The first record of the file's user table (the fifth table of the catalogue).
    ese::Record FirstRecord(const std::string& name, int recordIndex = 0) {
        files_.emplace_back(Database(name));
        return files_.back().table(4).record(recordIndex);
    }

    // The value index of a column, by name.
    static int ValueIndex(const ese::Record& record, std::u16string_view column) {
        for (int i = 0; i < record.valueCount(); ++i) {
            if (record.columnName(i) == column) {
                return i;
            }
        }
        ADD_FAILURE() << "no column " << platform::Utf16ToUtf8(column);
        return -1;
    }

    static Text Decode(const ese::Record& record, std::u16string_view column) {
        return RecordValueToText(record, ValueIndex(record, column), u"<default>");
    }

    testing_support::TempDir dir_;
    std::vector<ese::File> files_;
};

TEST_F(RealFiles, ScanDriverWalksEveryTableOfEveryFile) {
    for (const std::string& name : kFiles) {
        SCOPED_TRACE(name);
        RecordingHost host;
        store::StoreSession session(host);
        ASSERT_EQ(store::OpenStore(session, Database(name)), store::kOk) << session.lastError;
        ASSERT_EQ(store::ListTables(session), store::kOk) << session.lastError;
        ASSERT_GE(session.model.tables.size(), 5u);
        EXPECT_EQ(platform::Utf16ToUtf8(session.model.tables[4].name), name);
        std::size_t steps = 0;
        for (const store::TableEntry& table : session.model.tables) {
            EXPECT_EQ(store::ScanTableByName(session, table.name), store::kOk) << session.lastError;
            // One progress step per record, and one more each time the bar starts over.
            const int count = session.database->table(table.catalogIndex).recordCount();
            steps += static_cast<std::size_t>(count + (count > 0 ? (count - 1) / 100 : 0));
        }
        EXPECT_EQ(host.positions.size(), steps);
        EXPECT_EQ(store::CloseStore(session), store::kOk);
        EXPECT_EQ(store::FreeStore(session), store::kOk);
    }
}

TEST_F(RealFiles, RecordsBeyondLibesedbAreScannedThroughOurOwnReader) {
    // Records of 64,994 columns on 32 KiB pages are beyond libesedb; our reader scans them.
    store::NullScanHost host;
    store::StoreSession session(host);
    ASSERT_EQ(store::OpenStore(session, Database("large")), store::kOk) << session.lastError;
    ASSERT_EQ(store::ListTables(session), store::kOk);
    const std::size_t tables = session.model.tables.size();
    EXPECT_EQ(store::ScanTableByName(session, u"large"), store::kOk) << session.lastError;
    EXPECT_EQ(session.model.tables.size(), tables);
}

TEST_F(RealFiles, GenericDecoderGivesTextForEveryValue) {
    for (const std::string& name : kFiles) {
        SCOPED_TRACE(name);
        ese::File file(Database(name));
        for (int t = 0; t < file.tableCount(); ++t) {
            const ese::Table table = file.table(t);
            for (int r = 0; r < table.recordCount(); ++r) {
                const ese::Record record = table.record(r);
                for (int v = 0; v < record.valueCount(); ++v) {
                    EXPECT_TRUE(RecordValueToText(record, v, u"").has_value())
                        << platform::Utf16ToUtf8(table.name()) << " record " << r << " column "
                        << platform::Utf16ToUtf8(record.columnName(v));
                }
            }
        }
    }
}

TEST_F(RealFiles, ScalarColumnsDecodeByType) {
    const ese::Record first = FirstRecord("basic", 0);
    EXPECT_EQ(Decode(first, u"Bit"), u"false");
    EXPECT_EQ(Decode(first, u"UnsignedByte"), u"213");
    EXPECT_EQ(Decode(first, u"Short"), u"-1337");
    EXPECT_EQ(Decode(first, u"Long"), u"4281595959");  // type 4 prints unsigned
    EXPECT_EQ(Decode(first, u"Currency"), u"1337133713371337");
    EXPECT_EQ(Decode(first, u"IEEESingle"), u"1.000000");
    EXPECT_EQ(Decode(first, u"IEEEDouble"), u"13371337.133713");
    EXPECT_EQ(Decode(first, u"DateTime"), u"Mar 01, 1999 00:00:00");
    EXPECT_EQ(Decode(first, u"UnsignedLong"), u"13371337");
    EXPECT_EQ(Decode(first, u"LongLong"), u"-13371337");
    EXPECT_EQ(Decode(first, u"GUID"), u"f10a363f6667dc469af20dacf295c2a1");
    EXPECT_EQ(Decode(first, u"UnsignedShort"), u"1337");

    const ese::Record second = FirstRecord("basic", 1);
    EXPECT_EQ(Decode(second, u"Bit"), u"true");  // stored as 0xff
    EXPECT_EQ(Decode(second, u"UnsignedByte"), u"255");
    EXPECT_EQ(Decode(second, u"Currency"), u"-1339133913391339");
    EXPECT_EQ(Decode(second, u"IEEESingle"), u"-2.000000");
    // Columns without a value give the caller's default.
    EXPECT_EQ(Decode(second, u"UnsignedLong"), u"<default>");
    EXPECT_EQ(Decode(second, u"GUID"), u"<default>");
}

TEST_F(RealFiles, TextColumnsAreCleanedAndLongValuesGiveTheDefault) {
    const ese::Record record = FirstRecord("text");
    EXPECT_EQ(Decode(record, u"ASCII"), u"Simple ASCII text");
    EXPECT_EQ(Decode(record, u"Unicode"), u"Simple Unicode text \U0001F98A");
    EXPECT_EQ(Decode(record, u"TaggedASCII"), u"Tagged ASCII text");
    EXPECT_EQ(Decode(record, u"LongTinyASCII"), u"Tiny ASCII");
    EXPECT_EQ(Decode(record, u"NullableASCII"), u"<default>");
    for (const char16_t* column :
         {u"LongASCII", u"LongUnicode", u"LongCompressedASCII", u"LongCompressedUnicode",
          u"MaxLongUnicode", u"MaxLongCompressedUnicode"}) {
        EXPECT_EQ(Decode(record, column), u"<default>") << platform::Utf16ToUtf8(column);
    }
}

TEST_F(RealFiles, SevenBitCompressedTextIsUnpacked) {
    const ese::Record record = FirstRecord("text");
    const int index = ValueIndex(record, u"MaxLongCompressedASCII");
    EXPECT_EQ(record.valueFlags(index), 0x03);
    EXPECT_EQ(
        RecordValueToText(record, index, u""),
        u"Max long compressed ASCII text that can be a bit longer " + std::u16string(900, u'a'));
}

TEST_F(RealFiles, LongValuesAreReadInFull) {
    const ese::Record record = FirstRecord("text");
    const std::map<std::u16string, std::u16string> expected = {
        {u"LongASCII", u"Long ASCII text "},
        {u"LongUnicode", u"Long Unicode text \U0001F98A "},
        {u"LongCompressedASCII", u"Long compressed ASCII text "},
        {u"LongCompressedUnicode", u"Long compressed Unicode text \U0001F98A "},
        {u"MaxLongUnicode", u"Max long Unicode text that can be a bit longer \U0001F98A "},
        {u"MaxLongCompressedUnicode",
         u"Max long compressed Unicode text that can be a bit longer \U0001F98A "},
    };
    int longValues = 0;
    for (int v = 0; v < record.valueCount(); ++v) {
        if ((record.valueFlags(v) & ese::kLongValue) == 0) {
            continue;
        }
        ++longValues;
        const std::u16string column = record.columnName(v);
        SCOPED_TRACE(platform::Utf16ToUtf8(column));
        ASSERT_TRUE(expected.contains(column));
        const std::u16string& prefix = expected.at(column);
        const std::size_t as = column.starts_with(u"Max") ? 900 : 1024;
        auto value = record.longValue(v);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->text(), prefix + std::u16string(as, u'a'));
        EXPECT_GE(value->segmentCount(), 1);
        EXPECT_FALSE(value->data().empty());
    }
    EXPECT_EQ(longValues, 6);
}

TEST_F(RealFiles, UncompressedLongBinaryBytesAreExact) {
    const ese::Record record = FirstRecord("binary");
    const int index = ValueIndex(record, u"LongBinary");
    // Short enough to be stored in the record itself.
    const std::string expected = "test long binary data " + std::string(1000, 'a');
    EXPECT_EQ(record.valueData(index), ese::Bytes(expected.begin(), expected.end()));
    EXPECT_EQ(store::BytesToAnsiText(record, index), platform::Cp1252ToUtf16(expected));
}

TEST_F(RealFiles, MultiValuesGiveTheirLastElement) {
    const ese::Record first = FirstRecord("multi", 0);
    EXPECT_EQ(Decode(first, u"ASCII"),
              u"Some ASCII text that has multiple values, this is value 3");
    EXPECT_EQ(Decode(first, u"Unicode"),
              u"Some Unicode text that has multiple values, this is value 3 "
              u"\U0001F98A\U0001F98A\U0001F98A");
    // Non-text elements are shown as hex: Long [0, -2147483647, 2147483647].
    EXPECT_EQ(Decode(first, u"Long"), u"ffffff7f");

    const ese::Record second = FirstRecord("multi", 1);
    EXPECT_EQ(Decode(second, u"LongASCII"), u"Tiny ASCII 2");
    // The single-byte reader takes the first element instead.
    EXPECT_EQ(store::AnsiValueToText(second, ValueIndex(second, u"LongASCII")), u"Tiny ASCII 1");
}

TEST_F(RealFiles, NameDrivenDecodersRefuseOtherColumnTypes) {
    const ese::Record record = FirstRecord("basic");
    // Currency is accepted as an identifier column; its 8 bytes read in either order.
    const int currency = ValueIndex(record, u"Currency");
    EXPECT_EQ(store::IdentifierToText(record, currency, 'l', std::nullopt), u"4c01db400b0c9");
    EXPECT_EQ(store::IdentifierToText(record, currency, 'b', std::nullopt), u"c9b000b41dc00400");
    EXPECT_EQ(store::IdentifierToText(record, currency, 'x', std::nullopt), std::nullopt);
    // A 32-bit column is no identifier, date, integer or GUID column.
    const int longColumn = ValueIndex(record, u"Long");
    EXPECT_EQ(store::IdentifierToText(record, longColumn, 'b', u"d"), std::nullopt);
    EXPECT_EQ(store::FiletimeBytesToText(record, longColumn, 'b'), std::nullopt);
    EXPECT_EQ(store::Integer32ToText(record, longColumn, 'b'), std::nullopt);
    EXPECT_EQ(store::GuidToText(record, ValueIndex(record, u"GUID"), 'l'), std::nullopt);
    EXPECT_EQ(store::RawBinaryValue(record, longColumn), std::nullopt);
}

}  // namespace
