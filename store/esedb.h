// Thin RAII layer over libesedb. Every libesedb failure becomes an ese::Error whose text
// names the operation and carries libesedb's own error message.
#pragma once

#include <libesedb.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ese {

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
template <class T, int (*Free)(T**, libesedb_error_t**)>
struct Deleter {
    void operator()(T* p) const noexcept {
        if (p != nullptr) {
            Free(&p, nullptr);
        }
    }
};
template <class T, int (*Free)(T**, libesedb_error_t**)>
using Handle = std::unique_ptr<T, Deleter<T, Free>>;
}  // namespace detail

class LongValue {
public:
    explicit LongValue(libesedb_long_value_t* handle) : handle_(handle) {}
    int segmentCount() const;
    Bytes segment(int index) const;
    // All segments concatenated, as stored (compressed values stay compressed).
    Bytes data() const;
    // The value as text, decompressed; for text columns only (code page of the column).
    std::u16string text() const;

private:
    detail::Handle<libesedb_long_value_t, libesedb_long_value_free> handle_;
};

class MultiValue {
public:
    explicit MultiValue(libesedb_multi_value_t* handle) : handle_(handle) {}
    int count() const;
    std::uint32_t columnType() const;
    // Raw bytes of one element; an empty vector when the element holds no data.
    Bytes valueData(int index) const;
    // One element as UTF-16 text, without the terminating NUL; nullopt when it has no text.
    std::optional<std::u16string> valueUtf16(int index) const;

private:
    detail::Handle<libesedb_multi_value_t, libesedb_multi_value_free> handle_;
};

class Record {
public:
    explicit Record(libesedb_record_t* handle) : handle_(handle) {}
    int valueCount() const;
    std::uint32_t columnType(int index) const;
    std::u16string columnName(int index) const;
    std::uint8_t valueFlags(int index) const;
    // Stored bytes of a value (for long values: the long-value key); empty when it has no data.
    Bytes valueData(int index) const;

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

    libesedb_record_t* get() const { return handle_.get(); }

private:
    detail::Handle<libesedb_record_t, libesedb_record_free> handle_;
};

class Column {
public:
    explicit Column(libesedb_column_t* handle) : handle_(handle) {}
    std::u16string name() const;
    std::uint32_t type() const;
    std::uint32_t identifier() const;

private:
    detail::Handle<libesedb_column_t, libesedb_column_free> handle_;
};

class Table {
public:
    explicit Table(libesedb_table_t* handle) : handle_(handle) {}
    std::u16string name() const;
    int columnCount() const;
    Column column(int index) const;
    int recordCount() const;
    Record record(int index) const;

    libesedb_table_t* get() const { return handle_.get(); }

private:
    detail::Handle<libesedb_table_t, libesedb_table_free> handle_;
};

// An ESE database opened read-only. Single-byte names and texts use Windows-1252.
class File {
public:
    File();
    explicit File(const std::filesystem::path& path) : File() { open(path); }
    ~File();
    File(File&&) noexcept = default;
    File& operator=(File&&) noexcept = default;

    void open(const std::filesystem::path& path);
    void close();
    bool isOpen() const { return open_; }

    int tableCount() const;
    Table table(int index) const;

private:
    detail::Handle<libesedb_file_t, libesedb_file_free> handle_;
    bool open_ = false;
};

}  // namespace ese
