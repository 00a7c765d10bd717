// Records read by our own page reader against the same records read through libesedb: every
// value of every record of every table must have the same column, type, flags and bytes, and
// the same text, multi-value elements and long-value segments, on generated stores, the bundled
// sample store and the files Windows wrote.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "fixture_stores.h"
#include "store/esedb.h"
#include "store/record_reader.h"
#include "store/session.h"
#include "store_damage.h"
#include "support/temp_dir.h"
#include "tools/edbforge/database_writer.h"
#include "tools/edbforge/large_store.h"
#include "tools/edbforge/scenario_json.h"
#include "tools/edbforge/store_builder.h"

namespace {

namespace fs = std::filesystem;

// What a value gives, read one way; errors are kept as whether there was one.
struct ValueReading {
    std::u16string name;
    std::uint32_t type = 0;
    std::uint8_t flags = 0;
    ese::Bytes data;
    std::optional<std::u16string> text;
    bool textFailed = false;
    bool multiFailed = false;
    std::vector<ese::Bytes> elements;
    std::vector<std::optional<std::u16string>> elementTexts;
    std::vector<ese::Bytes> segments;

    bool operator==(const ValueReading&) const = default;
};

bool IsText(std::uint32_t type) {
    return type == ese::kText || type == ese::kLargeText;
}

ValueReading ReadValue(const ese::Record& record, int v) {
    ValueReading r;
    r.name = record.columnName(v);
    r.type = record.columnType(v);
    r.flags = record.valueFlags(v);
    r.data = record.valueData(v);
    if (IsText(r.type) && (r.flags & (ese::kMultiValue | ese::kLongValue)) == 0) {
        try {
            r.text = record.valueUtf16(v);
        } catch (const ese::Error&) {
            r.textFailed = true;
        }
    }
    if ((r.flags & ese::kMultiValue) != 0 && (r.flags & ese::kLongValue) == 0) {
        std::optional<ese::MultiValue> multi;
        try {
            multi = record.multiValue(v);
        } catch (const ese::Error&) {
            r.multiFailed = true;
        }
        if (multi) {
            for (int i = 0; i < multi->count(); ++i) {
                r.elements.push_back(multi->valueData(i));
                if (IsText(r.type) && (r.flags & ese::kCompressed) == 0) {
                    r.elementTexts.push_back(multi->valueUtf16(i));
                }
            }
        }
    }
    if ((r.flags & ese::kLongValue) != 0 && (r.flags & ese::kMultiValue) == 0) {
        if (const auto value = record.longValue(v)) {
            for (int s = 0; s < value->segmentCount(); ++s) {
                r.segments.push_back(value->segment(s));
            }
        }
    }
    return r;
}

std::string Utf8(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

struct Tally {
    int tables = 0;   // read both ways and compared
    int ownOnly = 0;  // read by ours only: libesedb could not
    int records = 0;
    int values = 0;
};

// Compares every table of the file read both ways.
Tally ExpectSameRecords(const fs::path& path) {
    ese::File own(path, ese::LongValueReading::kDirect);
    ese::File library(path, ese::LongValueReading::kThroughLibesedb);
    Tally tally;
    EXPECT_EQ(own.tableCount(), library.tableCount());
    // Our catalogue names the tables as libesedb numbers them.
    EXPECT_EQ(own.tableNames(), library.tableNames()) << path;
    // The tables and their columns as our catalogue gives them, libesedb not opened for them.
    for (int t = 0; t < own.tableCount(); ++t) {
        const ese::Table a = own.table(t);
        const ese::Table b = library.table(t);
        SCOPED_TRACE(path.filename().string() + ", table " + Utf8(a.name()));
        EXPECT_EQ(a.name(), b.name());
        EXPECT_EQ(a.columnCount(), b.columnCount());
        for (int c = 0; c < std::min(a.columnCount(), b.columnCount()); ++c) {
            const ese::Column ca = a.column(c);
            const ese::Column cb = b.column(c);
            EXPECT_EQ(ca.name(), cb.name()) << "column " << c;
            EXPECT_EQ(ca.type(), cb.type()) << "column " << c;
            EXPECT_EQ(ca.identifier(), cb.identifier()) << "column " << c;
        }
    }
    EXPECT_FALSE(own.libesedbOpened()) << path;
    for (int t = 0; t < own.tableCount(); ++t) {
        const ese::Table a = own.table(t);
        const ese::Table b = library.table(t);
        SCOPED_TRACE(path.filename().string() + ", table " + Utf8(a.name()));
        EXPECT_TRUE(a.readsOwnRecords());
        EXPECT_EQ(a.damage(), std::vector<std::string>{});
        int count = 0;
        try {
            count = b.recordCount();
        } catch (const ese::Error& e) {
            // Past what libesedb reads: ours must still read every record whole.
            ++tally.ownOnly;
            for (int i = 0, n = a.recordCount(); i < n; ++i) {
                const ese::Record r = a.record(i);
                EXPECT_GT(r.valueCount(), 0);
                for (int v = 0; v < r.valueCount(); ++v) {
                    r.valueData(v);
                }
                ++tally.records;
            }
            continue;
        }
        ++tally.tables;
        EXPECT_EQ(a.recordCount(), count);
        for (int i = 0; i < count && i < a.recordCount(); ++i) {
            const ese::Record ra = a.record(i);
            const ese::Record rb = b.record(i);
            EXPECT_TRUE(ra.isOwn());
            EXPECT_EQ(ra.valueCount(), rb.valueCount()) << "record " << i;
            if (ra.valueCount() != rb.valueCount()) {
                continue;
            }
            for (int v = 0; v < ra.valueCount(); ++v) {
                const ValueReading x = ReadValue(ra, v);
                const ValueReading y = ReadValue(rb, v);
                EXPECT_TRUE(x == y)
                    << "record " << i << " value " << v << " (" << Utf8(y.name) << ", type "
                    << y.type << "): flags " << int(x.flags) << " / " << int(y.flags) << ", "
                    << x.data.size() << " / " << y.data.size() << " bytes";
                ++tally.values;
            }
            // Read in place, two columns at a time, the values are those of the record.
            for (int v = 0; v < ra.valueCount() && v < 256; v += 2) {
                const std::array<int, 2> columns = {v, std::min(v + 1, ra.valueCount() - 1)};
                std::array<ese::StoredValue, 2> stored;
                if (!a.storedValues(i, columns, stored)) {
                    ADD_FAILURE() << "record " << i << " cannot be read in place";
                    break;
                }
                for (std::size_t k = 0; k < columns.size(); ++k) {
                    EXPECT_EQ(stored[k].type, ra.columnType(columns[k]));
                    EXPECT_EQ(stored[k].flags, ra.valueFlags(columns[k]));
                    EXPECT_EQ(ese::Bytes(stored[k].bytes.begin(), stored[k].bytes.end()),
                              ra.valueData(columns[k]))
                        << "record " << i << " value " << columns[k];
                }
            }
            ++tally.records;
        }
    }
    return tally;
}

// Every record of every table of the file (up to 12 a table), each also with every byte spoilt
// in turn, decoded whole and for a few of its values in place: in place, a record must fail
// when the whole decoding fails, with the same reason, and give the same values otherwise.
// The number of decodings compared goes into compared.
void CompareInPlaceDecodingOnSpoiltRecords(const fs::path& path, int& compared) {
    using namespace ese::detail;
    const std::shared_ptr<PageFile> file = PageFile::Open(path);
    const std::optional<Catalogue> catalogue = file ? Catalogue::Read(file) : std::nullopt;
    if (!catalogue) {
        FAIL() << "the catalogue of " << path << " cannot be read";
    }
    for (const auto& [id, layout] : catalogue->tables()) {
        const std::size_t n = layout.columns.size();
        if (layout.templated || n == 0) {
            continue;
        }
        SCOPED_TRACE(Utf8(layout.name));
        // Fixed columns, tagged ones, some of each, one twice.
        const std::vector<std::vector<std::size_t>> wantedSets = {
            {0},
            {0, n - 1},
            {n / 2, n / 2 + 1 < n ? n / 2 + 1 : 0},
            {0, n / 3, n / 2, n - 1},
            {n - 1, n - 1}};
        TableRecords records(file, layout);
        std::array<ValueSlot, kMostValuesAtOnce> slots;
        std::array<ByteView, 1> data;
        for (std::size_t r = 0; r < 12 && r < records.count(); ++r) {
            const std::array<std::size_t, 1> first = {0};
            ASSERT_EQ(records.ValuesFrom(r, first, slots, data), 1u);
            const ese::Bytes record(data[0].begin(), data[0].end());
            for (std::size_t at = 0; at <= record.size(); ++at) {
                for (const int spoil : {0x01, 0x40, 0xff}) {
                    ese::Bytes bytes = record;
                    if (at < record.size()) {
                        bytes[at] =
                            static_cast<std::uint8_t>(spoil == 0xff ? spoil : bytes[at] ^ spoil);
                    } else if (spoil != 0x01) {
                        continue;  // the record as it is, once
                    }
                    DecodedRecord whole;
                    std::string wholeWhy;
                    const bool wholeOk = DecodeRecord(bytes, layout, *file, whole, wholeWhy);
                    for (const std::vector<std::size_t>& wanted : wantedSets) {
                        std::string why;
                        const bool ok = DecodeValues(bytes, layout, *file,
                                                     WantedValues(layout, wanted), slots, why);
                        ++compared;
                        ASSERT_EQ(ok, wholeOk)
                            << "record " << r << ", byte " << at << ": " << (ok ? wholeWhy : why);
                        if (!ok) {
                            ASSERT_EQ(why, wholeWhy) << "record " << r << ", byte " << at;
                            continue;
                        }
                        for (std::size_t k = 0; k < wanted.size(); ++k) {
                            const ValueSlot& a = slots[k];
                            const ValueSlot& b = whole.values[wanted[k]];
                            ASSERT_TRUE(a.offset == b.offset && a.size == b.size &&
                                        a.flags == b.flags)
                                << "record " << r << ", byte " << at << ", column "
                                << Utf8(layout.columns[wanted[k]].name) << ": " << a.offset << "+"
                                << a.size << " / " << b.offset << "+" << b.size;
                        }
                    }
                }
            }
        }
    }
}

int ExpectInPlaceDecodingAgreesOnSpoiltRecords(const fs::path& path) {
    int compared = 0;
    CompareInPlaceDecodingOnSpoiltRecords(path, compared);
    return compared;
}

// The records of a table, each as its values' bytes.
std::vector<std::vector<ese::Bytes>> RecordBytes(const ese::Table& table) {
    std::vector<std::vector<ese::Bytes>> records;
    for (int i = 0; i < table.recordCount(); ++i) {
        const ese::Record r = table.record(i);
        std::vector<ese::Bytes> values;
        for (int v = 0; v < r.valueCount(); ++v) {
            values.push_back(r.valueData(v));
        }
        records.push_back(std::move(values));
    }
    return records;
}

// What a table gives read as a scan reads a large one on two cores: its two parts read at
// once, each with read(part), then joined; the table read on its own when they do not join.
template <class Read>
struct PartsRead {
    std::invoke_result_t<Read, const ese::Table&> records;
    std::vector<std::string> damage;  // the table's, after
    bool joined = false;
};
template <class Read>
PartsRead<Read> ReadInParts(const ese::Table& table, Read read) {
    const std::vector<ese::Table> parts = table.parts(2);
    std::array<decltype(PartsRead<Read>::records), 2> found;
    std::array<bool, 2> whole{};
    auto readPart = [&](std::size_t k) {
        try {
            found[k] = read(parts[k]);
            whole[k] = true;
        } catch (const ese::Error&) {
            // A part with nothing to read but damage: the table reads on its own.
        }
    };
    if (parts.size() == 2) {
        std::thread second(readPart, 1);
        readPart(0);
        second.join();
    }
    PartsRead<Read> result;
    result.joined = whole[0] && whole[1] && table.joinParts(parts);
    if (result.joined) {
        result.records = std::move(found[0]);
        result.records.insert(result.records.end(), found[1].begin(), found[1].end());
    } else {
        result.records = read(table);
    }
    result.damage = table.damage();
    return result;
}

int TableNamed(const ese::File& file, const std::string& name) {
    for (int t = 0; t < file.tableCount(); ++t) {
        if (Utf8(file.table(t).name()) == name) {
            return t;
        }
    }
    return -1;
}

TEST(OwnRecordReader, ReadsEveryValueOfGeneratedStoresAsLibesedbDoes) {
    testing_support::TempDir dir;
    const fs::path sample = fs::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.edb";
    const Tally onSample = ExpectSameRecords(sample);
    damaged::WriteSmallStore(dir / "small.edb");
    const Tally onSmall = ExpectSameRecords(dir / "small.edb");
    edbforge::LargeStoreOptions options;
    options.messages = 600;
    options.bigFolderItems = 200;
    options.writer.pageSize = 8192;
    edbforge::writeLargeStore(dir / "large8k.edb", options);
    const Tally onLarge = ExpectSameRecords(dir / "large8k.edb");
    for (const Tally& t : {onSample, onSmall, onLarge}) {
        EXPECT_GT(t.tables, 5);
        EXPECT_GT(t.values, 1000);
        EXPECT_EQ(t.ownOnly, 0);
    }
}

TEST(OwnRecordReader, TheSampleStoreReadsTheSameInEveryFormatRevisionAndPageSize) {
    // The bundled scenario written as the engines of Exchange 2000 and 2003, 2003 SP1 and today
    // write it, and today's on pages of 8, 16 and 32 KiB: every table but the catalogue holds the
    // same records in each. libesedb is the witness wherever it reads the layout whole; it reads
    // only the first tagged value of a record of revision 2, which is then checked against
    // today's file instead.
    testing_support::TempDir dir;
    const edbforge::Scenario scenario =
        edbforge::loadScenario(fs::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.json");
    struct Variant {
        std::uint32_t revision;
        std::uint32_t pageSize;
    };
    const Variant variants[] = {{0x14, 4096}, {0x02, 4096},  {0x09, 4096}, {0x0b, 4096},
                                {0x14, 8192}, {0x14, 16384}, {0x14, 32768}};
    std::map<std::string, std::vector<std::vector<ese::Bytes>>> today;
    for (const Variant& v : variants) {
        SCOPED_TRACE("revision " + std::to_string(v.revision) + ", pages of " +
                     std::to_string(v.pageSize));
        edbforge::Scenario written = scenario;
        written.options.formatRevision = v.revision;
        written.options.pageSize = v.pageSize;
        const fs::path path =
            dir / ("r" + std::to_string(v.revision) + "-" + std::to_string(v.pageSize) + ".edb");
        edbforge::StoreBuilder::build(written, path);
        if (v.revision != 0x02) {
            const Tally tally = ExpectSameRecords(path);
            EXPECT_GT(tally.values, 1000);
        }
        EXPECT_GT(ExpectInPlaceDecodingAgreesOnSpoiltRecords(path), 10000);
        if (v.revision == 0x09) {
            // A flipped bit is named with the checksum of that engine.
            damaged::Bytes bytes = damaged::ReadFileBytes(path);
            const damaged::PageMap map = damaged::PageMap::Of(bytes);
            const damaged::Page page =
                map.Select([](const damaged::Page& p) { return p.isTableData(); }).front();
            damaged::FlipBit(bytes, map.OffsetOf(page) + 200, 1);
            damaged::WriteFileBytes(dir / "flipped.edb", bytes);
            ese::File flipped(dir / "flipped.edb");
            std::vector<std::string> damage;
            for (int t = 0; t < flipped.tableCount() && damage.empty(); ++t) {
                damage = flipped.table(t).damage();
            }
            ASSERT_EQ(damage.size(), 1u);
            EXPECT_EQ(damage[0], "page " + std::to_string(page.number) +
                                     " fails its XOR checksum (the format before ECC): it is "
                                     "damaged");
        }
        ese::File file(path);
        for (int t = 0; t < file.tableCount(); ++t) {
            const ese::Table table = file.table(t);
            const std::string name = Utf8(table.name());
            if (name.starts_with("MSysObjects")) {
                continue;  // each engine's catalogue describes itself
            }
            EXPECT_TRUE(table.readsOwnRecords()) << name;
            const auto records = RecordBytes(table);
            if (today.size() < static_cast<std::size_t>(file.tableCount()) && v.revision == 0x14 &&
                v.pageSize == 4096) {
                today[name] = records;
            } else {
                EXPECT_TRUE(records == today[name]) << name;
            }
        }
    }
    EXPECT_GT(today.size(), 10u);

    // A column type that the engine of revision 9 did not have is named, not guessed at.
    edbforge::WriterOptions options;
    options.formatRevision = 0x09;
    {
        edbforge::DatabaseWriter db(dir / "anachronism.edb", options);
        edbforge::TableWriter& table =
            db.addTable({"Odd", {{"Count", edbforge::ColumnType::kUnsignedLong}}});
        edbforge::Record r = table.newRecord();
        r.set(0, edbforge::encode::u32(7));
        table.append(r);
        db.finish();
    }
    ese::File odd(dir / "anachronism.edb");
    const ese::Table table = odd.table(TableNamed(odd, "Odd"));
    EXPECT_EQ(table.damage(),
              std::vector<std::string>{"column \"Count\" has type 14, which format revision 9 does "
                                       "not know"});
    EXPECT_EQ(table.record(0).valueData(0), edbforge::encode::u32(7));
}

TEST(OwnRecordReader, ReadsEveryValueOfWindowsWrittenFilesAsLibesedbDoes) {
    REQUIRE_REAL_DATABASES();
    testing_support::TempDir dir;
    for (const char* name : {"basic", "binary", "text", "multi", "default", "index"}) {
        const fs::path path = testing_support::DecompressRealDatabase(name, dir.path());
        const Tally tally = ExpectSameRecords(path);
        EXPECT_GE(tally.tables, 5) << name;
        EXPECT_GT(ExpectInPlaceDecodingAgreesOnSpoiltRecords(path), 1000) << name;
    }
}

TEST(OwnRecordReader, NamesDamagedPagesAndReadsEveryOtherPage) {
    testing_support::TempDir dir;
    const fs::path whole = dir / "small.edb";
    damaged::WriteSmallStore(whole);
    const damaged::Bytes bytes = damaged::ReadFileBytes(whole);
    const damaged::PageMap map = damaged::PageMap::Of(bytes);
    const auto owners = damaged::TreeOwners(whole);
    std::vector<damaged::Page> inbox;
    std::uint32_t otherTree = 0;
    for (const damaged::Page& p :
         map.Select([](const damaged::Page& p) { return p.isTableData(); })) {
        const auto owner = owners.find(p.object);
        if (owner != owners.end() && owner->second.table == u"1-1001") {
            inbox.push_back(p);
        } else if (owner != owners.end() && owner->second.table == u"Msg") {
            otherTree = p.object;
        }
    }
    ASSERT_GE(inbox.size(), 3u);
    ASSERT_NE(otherTree, 0u);
    const damaged::Page& hit = inbox[1];
    const std::vector<std::vector<ese::Bytes>> all = [&] {
        ese::File file(whole);
        return RecordBytes(file.table(TableNamed(file, "1-1001")));
    }();

    struct Case {
        const char* what;
        std::function<void(damaged::Bytes&)> damage;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"a flipped bit",
         [&](damaged::Bytes& b) { damaged::FlipBit(b, map.OffsetOf(hit) + 900, 3); }, "checksum"},
        {"a link into another tree",
         [&](damaged::Bytes& b) {
             const std::size_t at = map.OffsetOf(hit) + 24;
             for (int i = 0; i < 4; ++i) {
                 b[at + i] = static_cast<std::uint8_t>(otherTree >> (8 * i));
             }
             damaged::RepairPageChecksums(b, map, hit);
         },
         "belongs to another tree"},
        {"a page linked twice",
         [&](damaged::Bytes& b) {
             // The branch links this page where it linked the leaf after it.
             const std::vector<damaged::Page> branches = map.Select(
                 [&](const damaged::Page& p) { return p.object == hit.object && !p.isLeaf(); });
             ASSERT_EQ(branches.size(), 1u);
             const std::size_t begin = map.OffsetOf(branches[0]) + damaged::kPageHeaderSize;
             const auto end = static_cast<std::ptrdiff_t>(begin + map.pageSize - 64);
             std::array<std::uint8_t, 4> after{}, link{};
             for (int i = 0; i < 4; ++i) {
                 after[i] = static_cast<std::uint8_t>(inbox[2].number >> (8 * i));
                 link[i] = static_cast<std::uint8_t>(hit.number >> (8 * i));
             }
             const auto at = std::search(b.begin() + static_cast<std::ptrdiff_t>(begin),
                                         b.begin() + end, after.begin(), after.end());
             ASSERT_NE(at, b.begin() + end);
             std::copy(link.begin(), link.end(), at);
             damaged::RepairPageChecksums(b, map, branches[0]);
         },
         "linked twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        damaged::Bytes copy = bytes;
        c.damage(copy);
        const fs::path path = dir / "damaged.edb";
        damaged::WriteFileBytes(path, copy);
        ese::File file(path);
        const ese::Table table = file.table(TableNamed(file, "1-1001"));
        const std::vector<std::vector<ese::Bytes>> read = RecordBytes(table);
        const std::vector<std::string> damage = table.damage();
        ASSERT_EQ(damage.size(), 1u);
        const std::string& reason = damage.front();
        EXPECT_NE(reason.find("page " + std::to_string(hit.number)), std::string::npos) << reason;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        // Only the records of the damaged page are missing, the others are whole and in order.
        EXPECT_LT(read.size(), all.size());
        EXPECT_GE(read.size(), all.size() - all.size() / 2);
        std::size_t at = 0;
        for (const auto& record : read) {
            while (at < all.size() && all[at] != record) {
                ++at;
            }
            ASSERT_LT(at, all.size()) << "a record that the undamaged table does not hold";
            ++at;
        }
        // Read in two parts at once: the same records and the same damage, whether the parts
        // join or the table then walks on its own.
        {
            ese::File again(path);
            const auto parts = ReadInParts(again.table(TableNamed(again, "1-1001")), RecordBytes);
            EXPECT_EQ(parts.records, read);
            EXPECT_EQ(parts.damage, damage);
        }
        // The scan names the table and the page and still lists the other items.
        store::NullScanHost host;
        store::StoreSession session(host);
        ASSERT_EQ(store::OpenStore(session, path), store::kOk);
        ASSERT_EQ(store::ListTables(session), store::kOk);
        session.state.currentFolderClass = u"IPF.Note";
        EXPECT_EQ(store::ScanTableByName(session, u"1-1001"), store::kFailed);
        EXPECT_NE(session.lastError.find("table \"1-1001\": page " + std::to_string(hit.number)),
                  std::string::npos)
            << session.lastError;
        EXPECT_EQ(session.model.items.size(), read.size());
    }
}

// Takes the file's pages out of the system's memory, so that it is read from the disk as a
// store opened for the first time is.
void Evict(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fdatasync(fd), 0);
    EXPECT_EQ(::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), 0);
    ::close(fd);
}

TEST(OwnRecordReader, ReadsATableOfMoreLeafPagesThanLibesedbTakes) {
    // libesedb refuses a table whose tree has more than 16,384 leaf pages. Records of 1.5 KiB
    // put two on each 4 KiB page: 34,000 of them fill 17,000 leaves.
    testing_support::TempDir dir;
    const fs::path path = dir / "many-leaves.edb";
    constexpr std::uint32_t kRecords = 34000;
    {
        edbforge::DatabaseWriter db(path);
        edbforge::TableWriter& table =
            db.addTable({"Big",
                         {{"Id", edbforge::ColumnType::kLong},
                          {"Pad", edbforge::ColumnType::kLongBinary, edbforge::Storage::kTagged}}});
        for (std::uint32_t i = 0; i < kRecords; ++i) {
            edbforge::Record r = table.newRecord();
            r.set(0, edbforge::encode::u32(i));
            r.set(1, edbforge::Bytes(1500, static_cast<std::uint8_t>(i)),
                  edbforge::Placement::kInline);
            table.append(r);
        }
        db.finish();
    }
    ese::File library(path, ese::LongValueReading::kThroughLibesedb);
    const int big = library.tableCount() - 1;
    ASSERT_EQ(Utf8(library.table(big).name()), "Big");
    EXPECT_THROW(library.table(big).recordCount(), ese::Error);

    // Walked as a scan walks it, by rising position with no count asked for first, from the
    // disk: the walk asks for the pages ahead of it.
    Evict(path);
    ese::File own(path);
    const ese::Table table = own.table(big);
    const int estimate = table.recordCountEstimate();
    EXPECT_GE(estimate, static_cast<int>(kRecords) / 2);
    EXPECT_LE(estimate, 2 * static_cast<int>(kRecords));
    std::uint32_t i = 0;
    for (; table.hasRecord(static_cast<int>(i)); ++i) {
        const ese::Record r = table.record(static_cast<int>(i));
        ASSERT_EQ(r.value32(0), i);
        const ese::Bytes pad = r.valueData(1);
        ASSERT_EQ(pad, ese::Bytes(1500, static_cast<std::uint8_t>(i))) << "record " << i;
    }
    EXPECT_EQ(i, kRecords);
    EXPECT_EQ(table.recordCount(), static_cast<int>(kRecords));
    EXPECT_EQ(table.damage(), std::vector<std::string>{});

    // Read in two parts at once, each on a thread of its own, and joined: every record once,
    // in order, and the table then finds each record by its position.
    ese::File again(path);
    const ese::Table whole = again.table(big);
    EXPECT_GE(whole.recordCountEstimate(), static_cast<int>(kRecords) / 2);  // a walk begun
    const auto parts = ReadInParts(whole, [](const ese::Table& part) {
        std::vector<std::uint32_t> ids;
        for (int n = 0; part.hasRecord(n); ++n) {
            ids.push_back(part.record(n).value32(0).value_or(0xffffffffU));
        }
        return ids;
    });
    ASSERT_TRUE(parts.joined);
    std::vector<std::uint32_t> all(kRecords);
    std::iota(all.begin(), all.end(), 0U);
    EXPECT_EQ(parts.records, all);
    EXPECT_EQ(parts.damage, std::vector<std::string>{});
    EXPECT_EQ(whole.recordCount(), static_cast<int>(kRecords));
    for (const std::uint32_t n : {0U, 16999U, 17000U, kRecords - 1}) {
        EXPECT_EQ(whole.record(static_cast<int>(n)).value32(0), n);
    }
    // A walk that has reached its end is not shared out again.
    EXPECT_TRUE(whole.parts(2).empty());
}

TEST(OwnRecordReader, ReadsTheWindowsWrittenTableThatLibesedbCannot) {
    // 64,993 tagged and fixed columns "ColumnN" on 32 KiB pages, spread over 16 records: the
    // file holds each column in exactly one record, with the value N. libesedb cannot read a
    // record of this table, so every value is checked against that rule instead.
    REQUIRE_REAL_DATABASES();
    testing_support::TempDir dir;
    const fs::path path = testing_support::DecompressRealDatabase("large", dir.path());
    ese::File library(path, ese::LongValueReading::kThroughLibesedb);
    EXPECT_THROW(library.table(4).record(0).valueCount(), ese::Error);

    ese::File own(path);
    const ese::Table table = own.table(4);
    ASSERT_EQ(Utf8(table.name()), "large");
    ASSERT_EQ(table.recordCount(), 16);
    std::vector<int> seen(64993, 0);
    for (int i = 0; i < table.recordCount(); ++i) {
        const ese::Record record = table.record(i);
        ASSERT_EQ(record.valueCount(), 64994);
        EXPECT_EQ(record.value32(0), static_cast<std::uint32_t>(i + 1));
        for (int v = 1; v < record.valueCount(); ++v) {
            if (record.valueData(v).empty()) {
                continue;
            }
            const std::string name = Utf8(record.columnName(v));
            ASSERT_TRUE(name.starts_with("Column")) << name;
            const int n = std::stoi(name.substr(6));
            ASSERT_TRUE(n >= 0 && n < 64993) << name;
            ++seen[static_cast<std::size_t>(n)];
            EXPECT_EQ(record.value16(v), static_cast<std::uint16_t>(n)) << name;
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 64993);
    EXPECT_EQ(table.damage(), std::vector<std::string>{});
}

}  // namespace
