// Thin RAII layer over libesedb. Every libesedb failure becomes an ese::Error whose text
// names the operation and carries libesedb's own error message.
#pragma once

#include <libesedb.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ese {

namespace detail {
class LibesedbFile;
class LongValueTrees;
struct TableContext;
struct OwnRecord;
struct OwnMultiValue;
}  // namespace detail

class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

using Bytes = std::vector<std::uint8_t>;

// ESE column types as libesedb reports them.
enum ColumnType : std::uint32_t {
    kNull = 0,
    kBoolean = 1,
    kInteger8Unsigned = 2,
    kInteger16Signed = 3,
    kInteger32Signed = 4,
    kCurrency = 5,
    kFloat32 = 6,
    kFloat64 = 7,
    kDateTime = 8,
    kBinary = 9,
    kText = 10,
    kLargeBinary = 11,
    kLargeText = 12,
    kSuperLarge = 13,
    kInteger32Unsigned = 14,
    kInteger64Signed = 15,
    kGuid = 16,
    kInteger16Unsigned = 17,
};

// Value flags as libesedb reports them.
enum ValueFlags : std::uint8_t {
    kVariableSize = 0x01,
    kCompressed = 0x02,
    kLongValue = 0x04,
    kMultiValue = 0x08,
    kMultiValueOffsets = 0x10,
};

namespace detail {
// A libesedb object kept alive by everything derived from it: a record keeps its table, a
// table its file, so no object outlives what libesedb reads it through.
using Owner = std::shared_ptr<const void>;

template <class T, int (*Free)(T**, libesedb_error_t**)>
std::shared_ptr<T> Adopt(T* handle, Owner owner) {
    return std::shared_ptr<T>(handle, [owner = std::move(owner)](T* p) {
        if (p != nullptr) {
            Free(&p, nullptr);
        }
    });
}
}  // namespace detail

class Record;

class LongValue {
  public:
    LongValue(libesedb_long_value_t* handle, detail::Owner owner)
        : handle_(detail::Adopt<libesedb_long_value_t, libesedb_long_value_free>(
              handle, std::move(owner))) {}
    // Segments read from the long-value tree; the record and the column's code page serve
    // text() (0: not known).
    LongValue(std::vector<Bytes> segments, const Record& record, int index, std::uint32_t codepage);
    int segmentCount() const;
    Bytes segment(int index) const;
    // All segments concatenated, as stored (compressed values stay compressed).
    Bytes data() const;
    // The value as text, decompressed; for text columns only (code page of the column).
    std::u16string text() const;
    // 1200 when text() is the value's bytes read as UTF-16 little-endian up to the first NUL,
    // 1252 when it is the bytes as ASCII up to the first NUL; 0 when libesedb has to read it.
    std::uint32_t plainTextCodepage() const;

  private:
    struct Read;
    std::shared_ptr<libesedb_long_value_t> handle_;
    std::shared_ptr<const Read> read_;  // instead of handle_
};

class MultiValue {
  public:
    MultiValue(libesedb_multi_value_t* handle, detail::Owner owner)
        : handle_(detail::Adopt<libesedb_multi_value_t, libesedb_multi_value_free>(
              handle, std::move(owner))) {}
    // Elements read from the record's own bytes.
    explicit MultiValue(std::shared_ptr<const detail::OwnMultiValue> own) : own_(std::move(own)) {}
    int count() const;
    std::uint32_t columnType() const;
    // Raw bytes of one element; an empty vector when the element holds no data.
    Bytes valueData(int index) const;
    // One element as UTF-16 text, without the terminating NUL; nullopt when it has no text.
    std::optional<std::u16string> valueUtf16(int index) const;

  private:
    std::shared_ptr<libesedb_multi_value_t> handle_;
    std::shared_ptr<const detail::OwnMultiValue> own_;  // instead of handle_
};

class Record {
  public:
    Record(libesedb_record_t* handle, detail::Owner owner,
           std::shared_ptr<detail::TableContext> table = nullptr)
        : handle_(detail::Adopt<libesedb_record_t, libesedb_record_free>(handle, std::move(owner))),
          table_(std::move(table)) {}
    // A record decoded from the table's pages by our own reader.
    Record(std::shared_ptr<const detail::OwnRecord> own,
           std::shared_ptr<detail::TableContext> table)
        : table_(std::move(table)), own_(std::move(own)) {}
    int valueCount() const;
    std::uint32_t columnType(int index) const;
    std::u16string columnName(int index) const;
    std::uint8_t valueFlags(int index) const;
    // Stored bytes of a value (for long values: the long-value key); empty when it has no data.
    Bytes valueData(int index) const;
    // The same bytes without a copy where the record holds them itself, else read into storage:
    // good while both the record and storage last unchanged.
    std::span<const std::uint8_t> valueBytes(int index, Bytes& storage) const;

    // Typed getters: nullopt when the value has no data; Error on failure.
    std::optional<bool> valueBoolean(int index) const;
    std::optional<std::uint8_t> value8(int index) const;
    std::optional<std::uint16_t> value16(int index) const;
    std::optional<std::uint32_t> value32(int index) const;
    std::optional<std::uint64_t> value64(int index) const;
    std::optional<std::uint64_t> valueFiletime(int index) const;
    std::optional<float> valueFloat32(int index) const;
    std::optional<double> valueFloat64(int index) const;
    // UTF-16 text without the terminating NUL. nullopt when the value has no data.
    std::optional<std::u16string> valueUtf16(int index) const;

    bool isLongValue(int index) const;
    bool isMultiValue(int index) const;
    // nullopt when the record holds no such value.
    std::optional<LongValue> longValue(int index) const;
    std::optional<MultiValue> multiValue(int index) const;

    // True for a record decoded by our own reader.
    bool isOwn() const { return own_ != nullptr; }

  private:
    friend class LongValue;
    std::optional<LongValue> libesedbLongValue(int index) const;
    // libesedb's reading of an own record, for what our reader does not vouch for; opened on
    // first need. Error when libesedb cannot read it.
    const Record& Witness() const;
    // A fixed-size value of an own record from its bytes; the fallback answers when they do
    // not have the size of T.
    template <class T, class Fallback>
    std::optional<T> OwnFixed(int index, Fallback&& fallback) const;
    // A multi-value of an own record from its bytes; nullopt when libesedb must read it.
    std::optional<MultiValue> DecodedMultiValue(int index) const;

    std::shared_ptr<libesedb_record_t> handle_;
    // What the records of one table share: column names and types once looked up, and where
    // long values are read from. Null: everything through libesedb.
    std::shared_ptr<detail::TableContext> table_;
    std::shared_ptr<const detail::OwnRecord> own_;  // instead of handle_
};

// One value of a record as stored, read in place without a record object.
struct StoredValue {
    std::uint32_t type = 0;
    std::uint8_t flags = 0;
    std::span<const std::uint8_t> bytes;  // empty when the record holds no data for it
    std::uint32_t codepage = 0;           // of a text column
};

// A stored text value as Record::valueUtf16 gives it, where its reading is beyond doubt without
// libesedb (plain UTF-16 or ASCII text); nullopt for any other value: the record reads it.
std::optional<std::u16string> StoredText(const StoredValue& value);

class Column {
  public:
    Column(libesedb_column_t* handle, detail::Owner owner)
        : handle_(
              detail::Adopt<libesedb_column_t, libesedb_column_free>(handle, std::move(owner))) {}
    // A column as our own catalogue reader gives it.
    Column(std::u16string name, std::uint32_t type, std::uint32_t identifier)
        : name_(std::move(name)), type_(type), identifier_(identifier) {}
    std::u16string name() const;
    std::uint32_t type() const;
    std::uint32_t identifier() const;

  private:
    std::shared_ptr<libesedb_column_t> handle_;  // null: the values below
    std::u16string name_;
    std::uint32_t type_ = 0;
    std::uint32_t identifier_ = 0;
};

class Table {
  public:
    // What the table is read through: libesedb's table object, or our own catalogue's entry
    // with libesedb's object made on first need; see File.
    explicit Table(std::shared_ptr<detail::TableContext> context);
    std::u16string name() const;
    int columnCount() const;
    Column column(int index) const;
    // The records are read by our own reader where it can, else through libesedb. A table
    // with damaged pages gives the records of the pages that could be read; damage() names
    // the others. Error when no record can be read and pages are damaged.
    int recordCount() const;
    // True when the table has a record at this position, as recordCount() would tell; our
    // reader walks only as far as that, so a walk by rising position reads each page once.
    bool hasRecord(int index) const;
    // About as many records as the table holds, read quickly, for making room before a walk.
    int recordCountEstimate() const;
    Record record(int index) const;
    // The values of these columns (record value indexes, at most four) of the records from
    // first on that lie on its page, found in place, for a walk that needs only a few: as
    // record() would give their type, flags and bytes, record after record in out, as many
    // records as it holds (up to 64); good until the next read of this table (a record, its count,
    // its damage). The number of records read: 0 when our own reader does not read the table, and
    // it stops before a record it cannot decode, whose record() says why.
    int storedValuesFrom(int first, std::span<const int> columns, std::span<StoredValue> out) const;
    // The same for one record: false when it is not read.
    bool storedValues(int index, std::span<const int> columns, std::span<StoredValue> out) const {
        return out.size() >= columns.size() &&
               storedValuesFrom(index, columns, out.first(columns.size())) == 1;
    }
    // The pages of the record tree that could not be read, each with its reason; then what
    // the table holds that the engine of its format revision did not know.
    std::vector<std::string> damage() const;
    // True when our own reader reads the records.
    bool readsOwnRecords() const;

    // Tables that each read a stretch of this table's records, for reading them on threads of
    // their own: positions count from 0 in each, and part k's records follow those of part
    // k - 1. Empty when our own reader does not read the table, its walk has met damage or
    // reached its end, or its tree cannot be shared out that many ways.
    std::vector<Table> parts(int count) const;
    // Takes what the parts found, each read to its end (hasRecord false), as this table's own
    // walk: its records and damage are then theirs, in order. False when they cannot stand
    // for it (a page met by two of them); this table then walks on its own.
    bool joinParts(std::span<const Table> parts) const;

    // What reading the records took: the pages our reader could not use, by number and reason;
    // with recovery, the leaf pages read and the records found only by reading every page.
    struct Reading {
        std::vector<std::pair<std::uint32_t, std::string>> unreadable;
        std::size_t pagesRead = 0;
        std::size_t recovered = 0;
    };
    Reading reading() const;

    // libesedb's table object, made (and the file opened by libesedb) on first need.
    libesedb_table_t* get() const;

  private:
    std::shared_ptr<detail::TableContext> context_;
};

// How long values are read. libesedb looks every segment up from the root of the long-value
// tree and searches the whole rest of the tree for the end of the value; Direct reads the
// segments from the tree's leaves in key order and leaves to libesedb only what it cannot
// vouch for (see store/long_value_tree.h). Both give the same values.
enum class LongValueReading { kDirect, kThroughLibesedb };

// How the records of a damaged store are found: from each table's root only, or also on every
// leaf page of the file that names the table, whatever became of the pages above it (see
// store/page_census.h).
enum class Recovery { kOff, kEveryPage };

// An ESE database opened read-only. Single-byte names and texts use Windows-1252.
//
// Where our own reader reads the catalogue whole, every table and column named in plain ASCII,
// the tables and their columns are taken from it, and libesedb opens the file only when
// something needs it: a table built on a template, a value our reader leaves to it. libesedb
// reads the whole catalogue when it opens a file, in time that grows with the square of its
// size (seconds for a thousand mailboxes). Otherwise libesedb opens the file at once and gives
// the tables, and a file it cannot open fails to open.
class File {
  public:
    File();
    explicit File(const std::filesystem::path& path,
                  LongValueReading reading = LongValueReading::kDirect)
        : File() {
        open(path, reading);
    }
    ~File();
    File(File&&) noexcept = default;
    File& operator=(File&&) noexcept = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    void open(const std::filesystem::path& path,
              LongValueReading reading = LongValueReading::kDirect,
              Recovery recovery = Recovery::kOff);
    // Tables and records still held keep the file object, but must not be read after close.
    void close();
    bool isOpen() const { return open_; }
    // A number of this opening of a file, never given to another opening in this process;
    // 0 while closed. Tables kept across calls are only good for the opening they came from.
    std::uint64_t openId() const { return openId_; }

    int tableCount() const;
    Table table(int index) const;
    // The names of the tables, by index as table() takes it: from our own catalogue reader
    // where it lists the tables (see above), else from libesedb, which builds a whole table
    // object for each name.
    std::vector<std::u16string> tableNames() const;

    // What long values recovery could bring back only in part, said since the last call, in
    // words: the column and what is lost of it. Emptied by the call.
    std::vector<std::string> TakeLosses();

    // Whether libesedb has opened the file so far.
    bool libesedbOpened() const;

  private:
    std::shared_ptr<detail::LibesedbFile> libesedb_;
    std::shared_ptr<detail::LongValueTrees> trees_;
    std::vector<std::uint32_t> ownTables_;  // object ids by index; empty: libesedb's tables
    bool open_ = false;
    std::uint64_t openId_ = 0;
};

}  // namespace ese
