// Long values read straight from the long-value tree against the same values read through
// libesedb: every segment, the joined bytes and the text must be the same, on written stores
// of several shapes, on damaged copies and on Windows-written files.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "store/esedb.h"
#include "store_fixture.h"
#include "support/temp_dir.h"
#include "tools/edbforge/large_store.h"

namespace {

namespace fs = std::filesystem;
namespace ef = edbforge;

struct Reading {
    bool present = false;
    std::string error;
    std::vector<ese::Bytes> segments;
    bool hasText = false;
    std::u16string text;
    std::string textError;
};

// A value that names a plain code page reads as its bytes in that code page, up to a NUL.
void ExpectPlainTextAsPromised(const ese::LongValue& value, const std::u16string& text) {
    const ese::Bytes bytes = value.data();
    std::u16string plain;
    switch (value.plainTextCodepage()) {
        case 0:
            return;
        case 1200:
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
                plain.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
            }
            break;
        case 1252:
            plain.assign(bytes.begin(), bytes.end());
            break;
        default:
            ADD_FAILURE() << "code page " << value.plainTextCodepage();
    }
    EXPECT_EQ(plain.substr(0, plain.find(u'\0')), text);
}

Reading Read(const ese::Record& record, int index) {
    Reading r;
    try {
        const std::optional<ese::LongValue> value = record.longValue(index);
        r.present = value.has_value();
        if (!value) {
            return r;
        }
        for (int s = 0; s < value->segmentCount(); ++s) {
            r.segments.push_back(value->segment(s));
        }
        const std::uint32_t type = record.columnType(index);
        if (type == ese::kText || type == ese::kLargeText) {
            r.hasText = true;
            try {
                r.text = value->text();
                ExpectPlainTextAsPromised(*value, r.text);
            } catch (const ese::Error& e) {
                r.textError = e.what();
            }
        }
    } catch (const ese::Error& e) {
        r.error = e.what();
    }
    return r;
}

// Compares every long value of every table of the file, read both ways; returns how many
// long values there were. Records are taken every `step` records. With damaged, a value that
// libesedb cannot read may still be read directly: libesedb searches the whole rest of the
// tree for the end of every value and gives up the value at the first damaged page there,
// while the direct reading needs only the pages that hold the value. Whatever both read must
// be the same.
struct Compared {
    int values = 0;
    int onlyDirect = 0;  // read directly, not through libesedb (damaged copies only)
};

Compared ExpectSameLongValues(const fs::path& path, int step = 1, bool damaged = false) {
    ese::File direct(path, ese::LongValueReading::kDirect);
    ese::File library(path, ese::LongValueReading::kThroughLibesedb);
    Compared compared;
    EXPECT_EQ(direct.tableCount(), library.tableCount());
    for (int t = 0; t < direct.tableCount(); ++t) {
        const ese::Table a = direct.table(t);
        const ese::Table b = library.table(t);
        int records = 0;
        try {
            records = a.recordCount();
        } catch (const ese::Error&) {
            continue;
        }
        for (int i = 0; i < records; i += step) {
            std::optional<ese::Record> ra;
            std::optional<ese::Record> rb;
            try {
                ra.emplace(a.record(i));
                rb.emplace(b.record(i));
            } catch (const ese::Error&) {
                continue;
            }
            for (int v = 0; v < ra->valueCount(); ++v) {
                const std::uint8_t flags = ra->valueFlags(v);
                if ((flags & ese::kLongValue) == 0) {
                    continue;
                }
                SCOPED_TRACE("table " + std::to_string(t) + " record " + std::to_string(i) +
                             " value " + std::to_string(v));
                const Reading x = Read(*ra, v);
                const Reading y = Read(*rb, v);
                ++compared.values;
                if (damaged && x.present && x.error.empty() && (!y.present || !y.error.empty())) {
                    ++compared.onlyDirect;
                    continue;
                }
                EXPECT_EQ(x.present, y.present);
                EXPECT_EQ(x.error.empty(), y.error.empty()) << x.error << " | " << y.error;
                EXPECT_EQ(x.segments, y.segments);
                EXPECT_EQ(x.hasText, y.hasText);
                EXPECT_EQ(x.text, y.text);
                EXPECT_EQ(x.textError.empty(), y.textError.empty())
                    << x.textError << " | " << y.textError;
            }
        }
    }
    return compared;
}

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Text long values of both code pages with the contents whose reading is not plain: non-ASCII
// single bytes, a compression marker, a byte-order mark, surrogates paired and unpaired, a NUL
// inside, several segments, and values too small to leave the record.
fs::path WriteTextStore(const fs::path& path, std::uint32_t pageSize) {
    ef::WriterOptions options;
    options.pageSize = pageSize;
    ef::DatabaseWriter db(path, options);
    ef::TableWriter& t =
        db.addTable({"Texts",
                     {{"Id", ef::ColumnType::kLong, ef::Storage::kFixed, false, 0},
                      {"Unicode", ef::ColumnType::kLongText, ef::Storage::kTagged, false, 1200},
                      {"Ansi", ef::ColumnType::kLongText, ef::Storage::kTagged, false, 1252},
                      {"Bytes", ef::ColumnType::kLongBinary, ef::Storage::kTagged, false, 0}}});
    const std::string longAscii(3 * pageSize, 'a');
    std::u16string longUnicode;
    for (std::size_t i = 0; i < 2 * pageSize; ++i) {
        longUnicode.push_back(static_cast<char16_t>(u'a' + i % 26));
    }
    const std::vector<ef::Bytes> unicode = {
        ef::encode::utf16(u"plain Unicode text of a body"),
        ef::encode::utf16(u"a fox \U0001F98A in a body"),
        ef::encode::utf16(std::u16string(u"unpaired \xD83E here")),
        ef::encode::utf16(std::u16string(u"low \xDC00 first")),
        ef::encode::utf16(std::u16string(u"\xFEFF starts with a mark")),
        ef::encode::utf16(std::u16string(u"\x0018 starts like compressed text")),
        ef::encode::utf16(std::u16string(u"before\0after", 12)),
        ef::encode::utf16(longUnicode),
        {'o', 0, 'd', 0, 'd'},
        // Units read eight at a time: what must be looked at on both sides of a block's edge.
        ef::encode::utf16(u"0123456\U0001F98A paired across"),
        ef::encode::utf16(std::u16string(u"01234567\xDC00")),
        ef::encode::utf16(std::u16string(u"0123456789abcdef\xD83E")),
        ef::encode::utf16(std::u16string(u"012345678\xFFFE nine")),
        ef::encode::utf16(std::u16string(u"0123456789ab\0cdefghijklm", 25)),
        ef::encode::utf16(std::u16string(u"01234567\xFFFF"
                                         u"89abcdefgh")),
    };
    const std::vector<ef::Bytes> ansi = {
        ef::encode::ascii("plain ASCII text of a body"),
        ef::encode::ascii("caf\xe9 and \x80uro"),
        ef::encode::ascii("\x18 compressed marker"),
        ef::encode::ascii(std::string("before\0after", 12)),
        ef::encode::ascii(longAscii),
        ef::encode::ascii("\x81\x8d\x8f\x90\x9d undefined bytes"),
        ef::encode::ascii("x"),
        ef::encode::ascii("short"),
        ef::encode::ascii("\xff\xfe"),
        ef::encode::ascii("0123456789abcdef\xe9"),
        ef::encode::ascii("01234567"),
        ef::encode::ascii(std::string("0123456789\0ab", 13)),
        ef::encode::ascii("0123456789abcdefg"),
        ef::encode::ascii("\x7f and more"),
        ef::encode::ascii("fifteen letters"),
    };
    for (std::size_t i = 0; i < unicode.size(); ++i) {
        ef::Record r = t.newRecord();
        r.set(0, ef::encode::i32(static_cast<std::int32_t>(i)));
        r.set(1, unicode[i], ef::Placement::kSeparated);
        r.set(2, ansi[i], ef::Placement::kSeparated);
        r.set(3, ef::Bytes(ansi[i].begin(), ansi[i].end()), ef::Placement::kSeparated);
        t.append(r);
    }
    db.finish();
    return path;
}

class LongValues : public ::testing::Test {
  protected:
    testing_support::TempDir dir_;
};

TEST_F(LongValues, TextsOfEveryKindReadTheSameAsThroughLibesedb) {
    for (std::uint32_t pageSize : {4096U, 8192U}) {
        SCOPED_TRACE("page size " + std::to_string(pageSize));
        const fs::path path =
            WriteTextStore(dir_ / ("texts-" + std::to_string(pageSize) + ".edb"), pageSize);
        EXPECT_EQ(ExpectSameLongValues(path).values, 45);
        // The texts come out as stored: the plain ones, checked by hand.
        ese::File file(path);
        const ese::Record first = file.table(file.tableCount() - 1).record(0);
        EXPECT_EQ(first.longValue(1)->text(), u"plain Unicode text of a body");
        EXPECT_EQ(first.longValue(2)->text(), u"plain ASCII text of a body");
        const ese::Record withNul = file.table(file.tableCount() - 1).record(6);
        EXPECT_EQ(withNul.longValue(1)->text(), u"before");
        // Only texts beyond doubt are read without libesedb.
        EXPECT_EQ(first.longValue(1)->plainTextCodepage(), 1200u);
        EXPECT_EQ(first.longValue(2)->plainTextCodepage(), 1252u);
        EXPECT_EQ(first.longValue(3)->plainTextCodepage(), 0u);
        const ese::Record odd = file.table(file.tableCount() - 1).record(2);
        EXPECT_EQ(odd.longValue(1)->plainTextCodepage(), 0u);  // an unpaired surrogate
        EXPECT_EQ(odd.longValue(2)->plainTextCodepage(), 0u);  // starts like a compressed value
        EXPECT_EQ(withNul.longValue(1)->data().size(), 24u);
        const ese::Record across = file.table(file.tableCount() - 1).record(9);
        EXPECT_EQ(across.longValue(1)->text(), u"0123456\U0001F98A paired across");
        EXPECT_EQ(across.longValue(1)->plainTextCodepage(), 1200u);
        for (int unreadable : {10, 11, 12, 14}) {
            EXPECT_EQ(file.table(file.tableCount() - 1)
                          .record(unreadable)
                          .longValue(1)
                          ->plainTextCodepage(),
                      0u)
                << "record " << unreadable;
        }
        const ese::Record lateNul = file.table(file.tableCount() - 1).record(13);
        EXPECT_EQ(lateNul.longValue(1)->text(), u"0123456789ab");
    }
}

TEST_F(LongValues, BodiesAndAttachmentsOfAGeneratedStoreReadTheSame) {
    // Enough items for long-value trees of three levels in 4 KiB pages.
    for (std::uint32_t pageSize : {4096U, 8192U}) {
        SCOPED_TRACE("page size " + std::to_string(pageSize));
        ef::LargeStoreOptions options;
        options.messages = 700;
        options.bigFolderItems = 100;
        options.writer.pageSize = pageSize;
        const fs::path path = dir_ / ("generated-" + std::to_string(pageSize) + ".edb");
        const ef::LargeStoreStats stats = ef::writeLargeStore(path, options);
        ASSERT_GT(stats.attachments, 0u);
        // Every fifth record: libesedb's own reading of a whole store this size takes minutes.
        EXPECT_GT(ExpectSameLongValues(path, 5).values, 200);
    }
}

TEST_F(LongValues, TheSampleStoreReadsTheSame) {
    EXPECT_GT(
        ExpectSameLongValues(fs::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.edb").values,
        40);
}

TEST_F(LongValues, DamagedLongValuePagesGiveWhatLibesedbGivesAndMayGiveMore) {
    ef::LargeStoreOptions options;
    options.messages = 60;
    options.bigFolderItems = 20;
    options.mailboxes = 1;
    const fs::path original = dir_ / "original.edb";
    ef::writeLargeStore(original, options);
    const std::vector<std::uint8_t> bytes = ReadFile(original);
    const std::size_t pageSize = options.writer.pageSize;
    int damaged = 0;
    int onlyDirect = 0;
    for (std::size_t page = 2; (page + 1) * pageSize <= bytes.size(); ++page) {
        const std::uint8_t* p = bytes.data() + page * pageSize;
        const std::uint32_t flags = p[36] | (p[37] << 8) | (p[38] << 16) | (p[39] << 24);
        if ((flags & 0x80) == 0 || page % 5 != 0) {
            continue;  // long-value pages only, a fifth of them
        }
        // The next-page link, the tag count, a value's first bytes, the middle, the last tag.
        for (std::size_t at :
             {std::size_t{20}, std::size_t{34}, std::size_t{44}, pageSize / 2, pageSize - 3}) {
            std::vector<std::uint8_t> copy = bytes;
            copy[page * pageSize + at] ^= 0x5a;
            const fs::path path = dir_ / "damaged.edb";
            WriteFile(path, copy);
            SCOPED_TRACE("page " + std::to_string(page - 1) + ", byte " + std::to_string(at));
            onlyDirect += ExpectSameLongValues(path, 1, true).onlyDirect;
            ++damaged;
        }
    }
    EXPECT_GT(damaged, 10);
    // A page that libesedb trips over on its search past a value no longer costs that value.
    EXPECT_GT(onlyDirect, 0);
}

TEST_F(LongValues, WindowsWrittenFilesReadTheSame) {
    REQUIRE_REAL_DATABASES();
    int compared = 0;
    for (const char* name : {"basic", "binary", "text", "multi", "default", "index"}) {
        const fs::path gz =
            *testing_support::RealDatabaseFolder() / (std::string(name) + ".edb.gz");
        if (!fs::exists(gz)) {
            continue;
        }
        SCOPED_TRACE(name);
        compared +=
            ExpectSameLongValues(testing_support::DecompressRealDatabase(name, dir_.path())).values;
    }
    EXPECT_GT(compared, 0);
}

}  // namespace
