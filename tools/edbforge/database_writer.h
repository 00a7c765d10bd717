// Streaming writer of ESE database files (format 0x620), in the revision the engine of a given
// time wrote: 2 (ESE97, whose stores Exchange 2000 took over), 9 (ESE98 of Exchange 2000 and
// 2003), 0x0b (Exchange 2003 SP1 and 2007: ECC page checksums) or 0x14 (Exchange 2013 and
// later, the default). Pages are of 4 or 8 KiB, or in revision 0x14 also of 16 or 32 KiB (with
// the longer page header, 15-bit page tags and a flags byte on every tagged value).
//
// A DatabaseWriter owns the output file. Tables are declared with addTable(); their records are
// then streamed in with TableWriter::append(), in the order they are to be stored. Each table is
// a B+ tree of leaf pages under branch pages; long values go to the table's long-value tree.
// Nothing but the open page of each tree level is kept in memory, so tables of any size can be
// written. finish() writes the catalogue, the root pages and both file headers.
//
// Column positions as libesedb reports them follow the column identifiers: fixed columns first,
// then variable ones, then tagged ones, each group in declaration order (see
// TableWriter::readerPosition).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace edbforge {

using Bytes = std::vector<std::uint8_t>;

enum class ColumnType : std::uint32_t {
    kBoolean = 1,
    kUnsignedByte = 2,
    kShort = 3,
    kLong = 4,
    kCurrency = 5,
    kFloat = 6,
    kDouble = 7,
    kDateTime = 8,
    kBinary = 9,
    kText = 10,
    kLongBinary = 11,
    kLongText = 12,
    kUnsignedLong = 14,
    kLongLong = 15,
    kGuid = 16,
    kUnsignedShort = 17,
};

// Size in bytes of a fixed-size column type; 0 for binary and text types.
std::uint32_t fixedSizeOf(ColumnType type);

enum class Storage {
    kAuto,      // fixed for fixed-size types, variable for Binary and Text, tagged otherwise
    kFixed,     // only for fixed-size types
    kVariable,  // only for Binary and Text
    kTagged,
};

struct ColumnDef {
    std::string name;
    ColumnType type = ColumnType::kBinary;
    Storage storage = Storage::kAuto;
    bool multiValued = false;  // tagged columns only
    // Code page of text columns: 1200 (UTF-16 little-endian) or 1252. 0 picks 1200 for text.
    std::uint32_t codepage = 0;
};

struct TableDef {
    std::string name;
    std::vector<ColumnDef> columns;
};

// Where a LongBinary or LongText value is stored.
enum class Placement {
    kAuto,       // in the record when small, else in the long-value tree
    kInline,     // in the record (the record must still fit in a page)
    kSeparated,  // always in the long-value tree
};

// One column value of a record: a single value or, for multi-valued columns, several.
struct Value {
    std::vector<Bytes> elements;
    Placement placement = Placement::kAuto;
};

// A record in the making: values by column index (the index in TableDef::columns).
class Record {
  public:
    explicit Record(std::size_t columnCount) : values_(columnCount) {}
    Record& set(std::size_t column, Bytes data, Placement placement = Placement::kAuto);
    Record& setMulti(std::size_t column, std::vector<Bytes> elements);
    Record& clear(std::size_t column);
    const std::vector<std::optional<Value>>& values() const { return values_; }

  private:
    std::vector<std::optional<Value>> values_;
};

// Byte encodings of the column types, as ESE stores them (little-endian).
namespace encode {
Bytes boolean(bool v);
Bytes u8(std::uint8_t v);
Bytes i16(std::int16_t v);
Bytes u16(std::uint16_t v);
Bytes i32(std::int32_t v);
Bytes u32(std::uint32_t v);
Bytes i64(std::int64_t v);
Bytes f32(float v);
Bytes f64(double v);
Bytes utf16(std::u16string_view text);  // UTF-16 little-endian, no terminator
Bytes ascii(std::string_view text);     // the bytes of the text, no terminator
Bytes u64BigEndian(std::uint64_t v);    // Exchange identifiers
Bytes u64LittleEndian(std::uint64_t v);
}  // namespace encode

class DatabaseWriter;

class TableWriter {
  public:
    const TableDef& definition() const { return def_; }
    // Appends one record after those already written. Throws std::invalid_argument when a value
    // does not suit its column or the record cannot fit in a page.
    void append(const Record& record);
    Record newRecord() const { return Record(def_.columns.size()); }
    std::uint64_t recordCount() const { return records_; }
    // The position (value index) libesedb gives the column with this declaration index.
    int readerPosition(std::size_t column) const { return readerPos_[column]; }
    int columnIndex(std::string_view name) const;  // declaration index, -1 when absent

    ~TableWriter();
    TableWriter(const TableWriter&) = delete;
    TableWriter& operator=(const TableWriter&) = delete;

  private:
    friend class DatabaseWriter;
    struct Impl;
    TableWriter(DatabaseWriter& db, TableDef def, std::uint32_t objid);

    DatabaseWriter& db_;
    TableDef def_;
    std::vector<std::uint16_t> ids_;  // ESE column identifier per declaration index
    std::vector<int> readerPos_;
    std::uint32_t objid_;
    std::uint64_t records_ = 0;
    std::unique_ptr<Impl> impl_;
};

// The format revisions the writer can produce (format version 0x620 for all).
inline constexpr std::uint32_t kRevisionEse97 = 0x02;  // tagged values one after the other
inline constexpr std::uint32_t kRevisionEse98 = 0x09;  // tagged values behind an offset array
inline constexpr std::uint32_t kRevisionEccChecksums = 0x0b;  // page checksums with ECC
inline constexpr std::uint32_t kRevisionExchange2013 = 0x14;

// Whether the writer can produce this revision (one of the four above).
bool isSupportedRevision(std::uint32_t revision);

struct WriterOptions {
    std::uint32_t pageSize = 4096;  // 4096 or 8192; 16384 or 32768 in revision 0x14
    // Format revision of the file: one of the four above.
    std::uint32_t formatRevision = kRevisionExchange2013;
    // FILETIME of the creation stamps in the file header; fixed so that output is reproducible.
    std::uint64_t creationTime = 0x01d3c5a8e1a7c000ULL;  // 2018-03-05 10:00:00 UTC
    std::uint32_t signatureRandom = 0x45444246;
    // Long values up to this size stay in the record when their placement is Auto.
    std::uint32_t inlineLongValueLimit = 1024;
    // Pages kept right after the shadow catalogue's root for the other pages of both
    // catalogues, near the start of the file as the engine keeps them, so that a copy cut
    // short still opens. 0: the catalogues go after everything else; pages they need beyond
    // the kept ones go there too.
    std::uint32_t cataloguePages = 0;
    // The file header's database state says the engine was not shut down cleanly, as a store
    // copied from a crashed server or without its logs replayed says.
    bool dirtyShutdown = false;
};

class DatabaseWriter {
  public:
    DatabaseWriter(const std::filesystem::path& path, WriterOptions options = {});
    ~DatabaseWriter();
    DatabaseWriter(const DatabaseWriter&) = delete;
    DatabaseWriter& operator=(const DatabaseWriter&) = delete;

    // Declares a table. Tables appear in the catalogue in the order they were added.
    TableWriter& addTable(TableDef def);
    // Writes the catalogue, all pending pages and the headers, and closes the file.
    void finish();

    const WriterOptions& options() const { return options_; }
    std::uint64_t pagesWritten() const;

    // Internal page store shared by the trees.
    struct Io;

  private:
    friend class TableWriter;
    WriterOptions options_;
    std::unique_ptr<Io> io_;
    std::vector<std::unique_ptr<TableWriter>> tables_;
    std::uint32_t nextObjid_ = 4;
    bool finished_ = false;
};

// Checksums of database pages, exposed for tests.
// XOR-32 from offset 4 seeded with 0x89abcdef: the file header's, and that of every page of a
// revision before 0x0b (which holds the page number at offset 4).
std::uint32_t headerChecksum(const std::uint8_t* page, std::size_t size);
// XOR-32 (seeded with the page number) and ECC-32 of a page in the new record format.
std::pair<std::uint32_t, std::uint32_t> pageChecksums(const std::uint8_t* page, std::size_t size,
                                                      std::uint32_t pageNumber);
// The same of each quarter of a 16 or 32 KiB page, whose header holds four: the first quarter's
// (from offset 8) at offset 0, the others' at 40, 48 and 56.
std::array<std::pair<std::uint32_t, std::uint32_t>, 4> largePageChecksums(const std::uint8_t* page,
                                                                          std::size_t size,
                                                                          std::uint32_t pageNumber);

}  // namespace edbforge
