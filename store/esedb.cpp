#include "store/esedb.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <mutex>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "store/long_value_tree.h"
#include "store/record_reader.h"

namespace ese {

namespace detail {

// Column names and types depend on the table alone (its catalogue entries), not on the record:
// each is looked up through libesedb once per table object and kept. Lookups that fail are not
// kept, so they fail again as they did.
std::u16string LibesedbTableName(libesedb_table_t* table);

struct TableContext {
    std::shared_ptr<LongValueTrees> trees;  // null: everything through libesedb
    std::uint32_t tableId = 0;
    // Our catalogue's entry of the table, when the file's tables are taken from it; kept by
    // trees.
    const TableLayout* layout = nullptr;
    // libesedb's table object: the table at this place in libesedb's list, made on first need.
    std::shared_ptr<LibesedbFile> libesedb;
    int place = 0;
    std::mutex libesedbMutex;
    std::shared_ptr<libesedb_table_t> libesedbTable;

    const std::shared_ptr<libesedb_table_t>& LibesedbTable();
    // The columns as our catalogue gives them, where libesedb would give the same: not for a
    // table built on a template, whose columns are the template's.
    const std::vector<ColumnLayout>* OwnColumns() const {
        return layout != nullptr && !layout->templated ? &layout->columns : nullptr;
    }

    // The records as our own reader finds them, walked once per opening of the file. Null when
    // the reader does not read this table.
    std::once_flag walked;
    std::shared_ptr<TableRecords> records;

    TableRecords* Records() {
        std::call_once(walked, [this] {
            if (trees) {
                records = trees->Records(tableId);
            }
        });
        return records.get();
    }

    // A record object for the next fetch: the last one handed out, once nobody holds it any
    // more, so that a walk through the table decodes into the same buffers.
    std::shared_ptr<OwnRecord> SpareRecord();

    std::mutex mutex;
    std::optional<int> libesedbCount;  // libesedb's count of the records, once asked
    std::shared_ptr<OwnRecord> spare;
    std::vector<std::optional<std::u16string>> names;
    std::vector<std::optional<std::uint32_t>> types;

    template <class T, class Lookup>
    T Kept(std::vector<std::optional<T>>& kept, int index, Lookup&& lookup) {
        if (index >= 0) {
            std::lock_guard lock(mutex);
            const auto at = static_cast<std::size_t>(index);
            if (at < kept.size() && kept[at]) {
                return *kept[at];
            }
        }
        T value = lookup();
        if (index >= 0 && index < 65536) {
            std::lock_guard lock(mutex);
            const auto at = static_cast<std::size_t>(index);
            if (kept.size() <= at) {
                kept.resize(at + 1);
            }
            kept[at] = value;
        }
        return value;
    }
};

// A record decoded by our own reader, with libesedb's reading of the same record opened when
// something is asked that the decoded bytes do not answer for sure.
struct OwnRecord {
    DecodedRecord decoded;
    // Every Record that holds this one holds the table as well.
    TableContext* table = nullptr;
    int index = 0;
    mutable std::mutex mutex;
    mutable std::shared_ptr<const Record> witness;

    const ColumnLayout& Column(int i) const {
        const auto& columns = table->records->layout().columns;
        if (i < 0 || static_cast<std::size_t>(i) >= columns.size()) {
            throw Error("cannot read value " + std::to_string(i) + ": the record has " +
                        std::to_string(columns.size()) + " values");
        }
        return columns[static_cast<std::size_t>(i)];
    }
    ByteView Data(int i) const {
        Column(i);
        return decoded.Data(static_cast<std::size_t>(i));
    }
    std::uint8_t Flags(int i) const {
        Column(i);
        return decoded.values[static_cast<std::size_t>(i)].flags;
    }
};

std::shared_ptr<OwnRecord> TableContext::SpareRecord() {
    std::lock_guard lock(mutex);
    if (spare && spare.use_count() == 1) {
        spare->witness.reset();
    } else {
        spare = std::make_shared<OwnRecord>();
    }
    return spare;
}

struct OwnMultiValue {
    std::vector<Bytes> elements;
    std::uint32_t columnType = 0;
    std::uint32_t codepage = 0;
};

}  // namespace detail

namespace {

// The first unit of the little-endian UTF-16 text that is a NUL, a surrogate, 0xfffe or
// 0xffff; units when none is. Eight units at a time where the processor has 128-bit lanes:
// every name and subject of a store is looked at this way.
std::size_t FirstUnitToLookAt(const std::uint8_t* p, std::size_t units) {
    std::size_t i = 0;
#if defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
        const __m128i surrogateBase = _mm_set1_epi16(static_cast<short>(0xd800));
        const __m128i signBit = _mm_set1_epi16(static_cast<short>(0x8000));
        // (c - 0xd800) below 0x800 unsigned is, with the sign bit flipped, below this signed.
        const __m128i surrogateLimit = _mm_set1_epi16(static_cast<short>(0x0800 ^ 0x8000));
        const __m128i one = _mm_set1_epi16(1);
        const __m128i allOnes = _mm_set1_epi16(-1);
        const __m128i zero = _mm_setzero_si128();
        for (; i + 8 <= units; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
            const __m128i shifted = _mm_xor_si128(_mm_sub_epi16(v, surrogateBase), signBit);
            const __m128i look = _mm_or_si128(
                _mm_or_si128(_mm_cmplt_epi16(shifted, surrogateLimit), _mm_cmpeq_epi16(v, zero)),
                // 0xfffe and 0xffff alike, once the lowest bit is set
                _mm_cmpeq_epi16(_mm_or_si128(v, one), allOnes));
            if (const int mask = _mm_movemask_epi8(look); mask != 0) {
                return i +
                       static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask))) / 2;
            }
        }
    }
#endif
    for (; i < units; ++i) {
        const unsigned c = p[2 * i] | (p[2 * i + 1] << 8);
        if (c == 0 || (c >= 0xd800 && c <= 0xdfff) || c >= 0xfffe) {
            return i;
        }
    }
    return units;
}

// A UTF-16 text whose reading is beyond doubt (no byte-order mark, no unpaired surrogate, no
// 0xfffe or 0xffff): the number of its units before the first NUL; nullopt for any other.
std::optional<std::size_t> PlainUtf16Units(detail::ByteView all) {
    if (all.size() % 2 != 0 || (all.size() >= 2 && ((all[0] == 0xff && all[1] == 0xfe) ||
                                                    (all[0] == 0xfe && all[1] == 0xff)))) {
        return std::nullopt;
    }
    const std::size_t units = all.size() / 2;
    auto unit = [&](std::size_t i) {
        return static_cast<char16_t>(all[2 * i] | (all[2 * i + 1] << 8));
    };
    std::size_t end = units;
    for (std::size_t i = FirstUnitToLookAt(all.data(), units); i < units; ++i) {
        const char16_t c = unit(i);
        if (c == 0) {
            end = std::min(end, i);
        } else if (c == 0xfffe || c == 0xffff) {
            return std::nullopt;
        } else if (c >= 0xd800 && c <= 0xdbff && i + 1 < units && unit(i + 1) >= 0xdc00 &&
                   unit(i + 1) <= 0xdfff) {
            ++i;
        } else if (c >= 0xd800 && c <= 0xdfff) {
            return std::nullopt;
        }
    }
    return end;
}

// Whether a value of the column may be plain text: a text column, and not compressed (first
// byte 0x18).
bool MayBePlainText(std::uint32_t columnType, detail::ByteView all) {
    return (columnType == kText || columnType == kLargeText) && !all.empty() &&
           !(all.size() > 1 && all[0] == 0x18);
}

// The code page in which text can be read without libesedb because its reading is beyond
// doubt: UTF-16 text (code page 1200) without a byte-order mark or an unpaired surrogate, or
// ASCII text (code page 1252). 0 for compressed values (first byte 0x18) and everything else.
std::uint32_t PlainTextCodepage(std::uint32_t columnType, std::uint32_t codepage,
                                detail::ByteView all) {
    if (!MayBePlainText(columnType, all)) {
        return 0;
    }
    if (codepage == 1200) {
        return PlainUtf16Units(all) ? 1200 : 0;
    }
    if (codepage == 1252) {
        for (std::uint8_t b : all) {
            if (b >= 0x80) {
                return 0;
            }
        }
        return 1252;
    }
    return 0;
}

// The text as PlainTextCodepage reads it, up to the first NUL; nullopt when it does not.
std::optional<std::u16string> PlainText(std::uint32_t columnType, std::uint32_t codepage,
                                        detail::ByteView all) {
    if (codepage == 1200) {
        // Checked and measured up to its first NUL in one pass.
        const std::optional<std::size_t> units =
            MayBePlainText(columnType, all) ? PlainUtf16Units(all) : std::nullopt;
        if (!units) {
            return std::nullopt;
        }
        std::u16string text(*units, u'\0');
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(text.data(), all.data(), 2 * *units);
        } else {
            for (std::size_t i = 0; i < *units; ++i) {
                text[i] = static_cast<char16_t>(all[2 * i] | (all[2 * i + 1] << 8));
            }
        }
        return text;
    }
    if (PlainTextCodepage(columnType, codepage, all) == 0) {
        return std::nullopt;
    }
    std::u16string text(all.begin(), all.end());
    const auto end = text.find(u'\0');
    if (end != std::u16string::npos) {
        text.resize(end);
    }
    return text;
}

// Owns a libesedb error while a call is checked.
class ErrorSlot {
  public:
    ErrorSlot() = default;
    ErrorSlot(const ErrorSlot&) = delete;
    ErrorSlot& operator=(const ErrorSlot&) = delete;
    ~ErrorSlot() {
        if (error_ != nullptr) {
            libesedb_error_free(&error_);
        }
    }
    libesedb_error_t** operator&() { return &error_; }

    std::string text() const {
        if (error_ == nullptr) {
            return {};
        }
        char buffer[1024] = {};
        if (libesedb_error_sprint(error_, buffer, sizeof buffer) < 0) {
            return {};
        }
        // libesedb stacks messages line by line, innermost first; keep them on one line.
        std::string s(buffer);
        for (char& c : s) {
            if (c == '\n' || c == '\r') {
                c = ' ';
            }
        }
        while (!s.empty() && s.back() == ' ') {
            s.pop_back();
        }
        return s;
    }

  private:
    libesedb_error_t* error_ = nullptr;
};

[[noreturn]] void Fail(std::string_view what, const ErrorSlot& error) {
    std::string message(what);
    const std::string detail = error.text();
    if (!detail.empty()) {
        message += ": ";
        message += detail;
    }
    throw Error(message);
}

// Runs a libesedb call that returns 1 on success, 0 for "no data" and -1 on error.
// Returns true for data, false for no data.
template <class Call>
bool Check(std::string_view what, Call&& call) {
    ErrorSlot error;
    const int result = call(&error);
    if (result < 0) {
        Fail(what, error);
    }
    return result > 0;
}

std::u16string FromUtf16Buffer(const std::vector<std::uint16_t>& buffer) {
    std::u16string text(buffer.begin(), buffer.end());
    const auto end = text.find(u'\0');
    if (end != std::u16string::npos) {
        text.resize(end);
    }
    return text;
}

template <class Size, class Get>
std::u16string ReadUtf16Name(std::string_view what, Size&& size_call, Get&& get_call) {
    std::size_t size = 0;
    Check(what, [&](libesedb_error_t** e) { return size_call(&size, e); });
    if (size == 0) {
        throw Error(std::string(what) + ": empty name");
    }
    std::vector<std::uint16_t> buffer(size);
    Check(what, [&](libesedb_error_t** e) { return get_call(buffer.data(), size, e); });
    return FromUtf16Buffer(buffer);
}

}  // namespace

// --- LongValue -------------------------------------------------------------------------

// A long value read from the long-value tree, with what its text needs.
struct LongValue::Read {
    std::vector<Bytes> segments;
    Record record;
    int index = 0;
    std::uint32_t columnType = 0;
    std::uint32_t codepage = 0;

    std::uint32_t PlainCodepage(const Bytes& all) const {
        return PlainTextCodepage(columnType, codepage, all);
    }

    Bytes Joined() const {
        Bytes all;
        for (const Bytes& s : segments) {
            all.insert(all.end(), s.begin(), s.end());
        }
        return all;
    }

    // The text as PlainCodepage reads it, up to the first NUL.
    std::optional<std::u16string> PlainText() const {
        return ese::PlainText(columnType, codepage, Joined());
    }
};

LongValue::LongValue(std::vector<Bytes> segments, const Record& record, int index,
                     std::uint32_t codepage)
    : read_(std::make_shared<const Read>(
          Read{std::move(segments), record, index, record.columnType(index), codepage})) {}

int LongValue::segmentCount() const {
    if (read_) {
        return static_cast<int>(read_->segments.size());
    }
    int count = 0;
    Check("cannot count the segments of a long value", [&](libesedb_error_t** e) {
        return libesedb_long_value_get_number_of_data_segments(handle_.get(), &count, e);
    });
    return count;
}

Bytes LongValue::segment(int index) const {
    if (read_) {
        if (index < 0 || static_cast<std::size_t>(index) >= read_->segments.size()) {
            throw Error("cannot read the size of a long-value segment: no such segment");
        }
        return read_->segments[static_cast<std::size_t>(index)];
    }
    std::size_t size = 0;
    Check("cannot read the size of a long-value segment", [&](libesedb_error_t** e) {
        return libesedb_long_value_get_data_segment_size(handle_.get(), index, &size, e);
    });
    Bytes data(size);
    if (size > 0) {
        Check("cannot read a long-value segment", [&](libesedb_error_t** e) {
            return libesedb_long_value_get_data_segment(handle_.get(), index, data.data(), size, e);
        });
    }
    return data;
}

Bytes LongValue::data() const {
    Bytes all;
    const int count = segmentCount();
    for (int i = 0; i < count; ++i) {
        const Bytes part = segment(i);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::uint32_t LongValue::plainTextCodepage() const {
    return read_ ? read_->PlainCodepage(read_->Joined()) : 0;
}

std::u16string LongValue::text() const {
    if (read_) {
        if (auto text = read_->PlainText()) {
            return *std::move(text);
        }
        const std::optional<LongValue> value = read_->record.libesedbLongValue(read_->index);
        if (!value) {
            throw Error("cannot read the text of a long value: libesedb finds no such value");
        }
        return value->text();
    }
    std::size_t size = 0;
    Check("cannot read the text size of a long value", [&](libesedb_error_t** e) {
        return libesedb_long_value_get_utf16_string_size(handle_.get(), &size, e);
    });
    if (size == 0) {
        return {};
    }
    std::vector<std::uint16_t> buffer(size);
    Check("cannot read the text of a long value", [&](libesedb_error_t** e) {
        return libesedb_long_value_get_utf16_string(handle_.get(), buffer.data(), size, e);
    });
    return FromUtf16Buffer(buffer);
}

// --- MultiValue ------------------------------------------------------------------------

int MultiValue::count() const {
    if (own_) {
        return static_cast<int>(own_->elements.size());
    }
    int count = 0;
    Check("cannot count the elements of a multi-value", [&](libesedb_error_t** e) {
        return libesedb_multi_value_get_number_of_values(handle_.get(), &count, e);
    });
    return count;
}

std::uint32_t MultiValue::columnType() const {
    if (own_) {
        return own_->columnType;
    }
    std::uint32_t type = 0;
    Check("cannot read the column type of a multi-value", [&](libesedb_error_t** e) {
        return libesedb_multi_value_get_column_type(handle_.get(), &type, e);
    });
    return type;
}

Bytes MultiValue::valueData(int index) const {
    if (own_) {
        if (index < 0 || static_cast<std::size_t>(index) >= own_->elements.size()) {
            throw Error("cannot read a multi-value element: no element " + std::to_string(index));
        }
        return own_->elements[static_cast<std::size_t>(index)];
    }
    std::size_t size = 0;
    Check("cannot read the size of a multi-value element", [&](libesedb_error_t** e) {
        return libesedb_multi_value_get_value_data_size(handle_.get(), index, &size, e);
    });
    Bytes data(size);
    if (size > 0) {
        Check("cannot read a multi-value element", [&](libesedb_error_t** e) {
            return libesedb_multi_value_get_value_data(handle_.get(), index, data.data(), size, e);
        });
    }
    return data;
}

std::optional<std::u16string> MultiValue::valueUtf16(int index) const {
    if (own_) {
        const Bytes element = valueData(index);
        if (element.empty()) {
            return std::nullopt;
        }
        if (auto text = PlainText(own_->columnType, own_->codepage, element)) {
            return text;
        }
        throw Error("cannot read the text of a multi-value element: not plain text");
    }
    std::size_t size = 0;
    if (!Check("cannot read the text size of a multi-value element",
               [&](libesedb_error_t** e) {
                   return libesedb_multi_value_get_value_utf16_string_size(handle_.get(), index,
                                                                           &size, e);
               }) ||
        size == 0) {
        return std::nullopt;
    }
    std::vector<std::uint16_t> buffer(size);
    Check("cannot read the text of a multi-value element", [&](libesedb_error_t** e) {
        return libesedb_multi_value_get_value_utf16_string(handle_.get(), index, buffer.data(),
                                                           size, e);
    });
    return FromUtf16Buffer(buffer);
}

// --- Record ----------------------------------------------------------------------------

template <class T, class Fallback>
std::optional<T> Record::OwnFixed(int index, Fallback&& fallback) const {
    const detail::ByteView data = own_->Data(index);
    if (data.empty()) {
        return std::nullopt;
    }
    if (data.size() != sizeof(T) || own_->Flags(index) != 0) {
        return fallback();
    }
    T value{};
    std::memcpy(&value, data.data(), sizeof(T));  // stored little-endian, as this machine is
    return value;
}

std::optional<MultiValue> Record::DecodedMultiValue(int index) const {
    const std::uint8_t flags = own_->Flags(index);
    if ((flags & kMultiValue) == 0 ||
        (flags & (kCompressed | kLongValue | kMultiValueOffsets)) != 0) {
        return std::nullopt;
    }
    const detail::ByteView data = own_->Data(index);
    if (data.size() < 2) {
        return std::nullopt;
    }
    const std::size_t first = detail::Le16(data.data()) & 0x7fffU;
    if (first == 0 || first % 2 != 0 || first > data.size()) {
        return std::nullopt;
    }
    auto element = std::make_shared<detail::OwnMultiValue>();
    const detail::ColumnLayout& column = own_->Column(index);
    element->columnType = column.type;
    element->codepage = column.codepage;
    const std::size_t count = first / 2;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t begin = detail::Le16(data.data() + 2 * k) & 0x7fffU;
        const std::size_t end =
            k + 1 < count ? (detail::Le16(data.data() + 2 * k + 2) & 0x7fffU) : data.size();
        if (begin < first || end < begin || end > data.size()) {
            return std::nullopt;
        }
        element->elements.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(begin),
                                       data.begin() + static_cast<std::ptrdiff_t>(end));
        if ((column.type == kText || column.type == kLargeText) && end > begin &&
            PlainTextCodepage(column.type, column.codepage, element->elements.back()) == 0) {
            return std::nullopt;
        }
    }
    return MultiValue(std::move(element));
}

const Record& Record::Witness() const {
    std::lock_guard lock(own_->mutex);
    if (!own_->witness && own_->table->records->recovered() > 0) {
        // libesedb numbers the records its walk from the root finds; ours are not those.
        throw Error(
            "cannot read the value: the table's records were recovered from its leaf "
            "pages, and libesedb cannot read them");
    }
    if (!own_->witness) {
        libesedb_record_t* handle = nullptr;
        const std::shared_ptr<libesedb_table_t>& table = own_->table->LibesedbTable();
        Check("cannot read a record through libesedb", [&](libesedb_error_t** e) {
            return libesedb_table_get_record(table.get(), own_->index, &handle, e);
        });
        own_->witness = std::make_shared<const Record>(handle, table);
    }
    return *own_->witness;
}

int Record::valueCount() const {
    if (own_) {
        return static_cast<int>(own_->decoded.values.size());
    }
    int count = 0;
    Check("cannot count the values of a record", [&](libesedb_error_t** e) {
        return libesedb_record_get_number_of_values(handle_.get(), &count, e);
    });
    return count;
}

std::uint32_t Record::columnType(int index) const {
    if (own_) {
        return own_->Column(index).type;
    }
    auto lookup = [&] {
        std::uint32_t type = 0;
        Check("cannot read the column type of a value", [&](libesedb_error_t** e) {
            return libesedb_record_get_column_type(handle_.get(), index, &type, e);
        });
        return type;
    };
    return table_ ? table_->Kept(table_->types, index, lookup) : lookup();
}

std::u16string Record::columnName(int index) const {
    if (own_) {
        return own_->Column(index).name;
    }
    auto lookup = [&] {
        return ReadUtf16Name(
            "cannot read the column name of a value",
            [&](std::size_t* size, libesedb_error_t** e) {
                return libesedb_record_get_utf16_column_name_size(handle_.get(), index, size, e);
            },
            [&](std::uint16_t* buffer, std::size_t size, libesedb_error_t** e) {
                return libesedb_record_get_utf16_column_name(handle_.get(), index, buffer, size, e);
            });
    };
    return table_ ? table_->Kept(table_->names, index, lookup) : lookup();
}

std::uint8_t Record::valueFlags(int index) const {
    if (own_) {
        return own_->Flags(index);
    }
    std::uint8_t flags = 0;
    Check("cannot read the flags of a value", [&](libesedb_error_t** e) {
        return libesedb_record_get_value_data_flags(handle_.get(), index, &flags, e);
    });
    return flags;
}

Bytes Record::valueData(int index) const {
    if (own_) {
        const detail::ByteView data = own_->Data(index);
        return Bytes(data.begin(), data.end());
    }
    std::size_t size = 0;
    if (!Check("cannot read the size of a value", [&](libesedb_error_t** e) {
            return libesedb_record_get_value_data_size(handle_.get(), index, &size, e);
        })) {
        return {};
    }
    Bytes data(size);
    if (size > 0) {
        Check("cannot read a value", [&](libesedb_error_t** e) {
            return libesedb_record_get_value_data(handle_.get(), index, data.data(), size, e);
        });
    }
    return data;
}

std::span<const std::uint8_t> Record::valueBytes(int index, Bytes& storage) const {
    if (own_) {
        return own_->Data(index);
    }
    storage = valueData(index);
    return storage;
}

namespace {
template <class T, class Call>
std::optional<T> Typed(std::string_view what, Call&& call) {
    T value{};
    if (!Check(what, [&](libesedb_error_t** e) { return call(&value, e); })) {
        return std::nullopt;
    }
    return value;
}
}  // namespace

std::optional<bool> Record::valueBoolean(int index) const {
    if (own_) {
        const detail::ByteView data = own_->Data(index);
        if (data.empty()) {
            return std::nullopt;
        }
        if (data.size() == 1 && own_->Flags(index) == 0) {
            return data[0] != 0;
        }
        return Witness().valueBoolean(index);
    }
    auto v = Typed<std::uint8_t>("cannot read a boolean value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_boolean(handle_.get(), index, out, e);
    });
    if (!v) {
        return std::nullopt;
    }
    return *v != 0;
}

std::optional<std::uint8_t> Record::value8(int index) const {
    if (own_) {
        return OwnFixed<std::uint8_t>(index, [&] { return Witness().value8(index); });
    }
    return Typed<std::uint8_t>("cannot read an 8-bit value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_8bit(handle_.get(), index, out, e);
    });
}

std::optional<std::uint16_t> Record::value16(int index) const {
    if (own_) {
        return OwnFixed<std::uint16_t>(index, [&] { return Witness().value16(index); });
    }
    return Typed<std::uint16_t>("cannot read a 16-bit value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_16bit(handle_.get(), index, out, e);
    });
}

std::optional<std::uint32_t> Record::value32(int index) const {
    if (own_) {
        return OwnFixed<std::uint32_t>(index, [&] { return Witness().value32(index); });
    }
    return Typed<std::uint32_t>("cannot read a 32-bit value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_32bit(handle_.get(), index, out, e);
    });
}

std::optional<std::uint64_t> Record::value64(int index) const {
    if (own_) {
        return OwnFixed<std::uint64_t>(index, [&] { return Witness().value64(index); });
    }
    return Typed<std::uint64_t>("cannot read a 64-bit value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_64bit(handle_.get(), index, out, e);
    });
}

std::optional<std::uint64_t> Record::valueFiletime(int index) const {
    if (own_) {
        return OwnFixed<std::uint64_t>(index, [&] { return Witness().valueFiletime(index); });
    }
    return Typed<std::uint64_t>("cannot read a date value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_filetime(handle_.get(), index, out, e);
    });
}

std::optional<float> Record::valueFloat32(int index) const {
    if (own_) {
        return OwnFixed<float>(index, [&] { return Witness().valueFloat32(index); });
    }
    return Typed<float>("cannot read a single-precision value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_floating_point_32bit(handle_.get(), index, out, e);
    });
}

std::optional<double> Record::valueFloat64(int index) const {
    if (own_) {
        return OwnFixed<double>(index, [&] { return Witness().valueFloat64(index); });
    }
    return Typed<double>("cannot read a double-precision value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_floating_point_64bit(handle_.get(), index, out, e);
    });
}

std::optional<std::u16string> Record::valueUtf16(int index) const {
    if (own_) {
        const detail::ByteView data = own_->Data(index);
        if (data.empty()) {
            return std::nullopt;
        }
        const std::uint8_t flags = own_->Flags(index);
        const detail::ColumnLayout& column = own_->Column(index);
        if (flags == 0 || flags == kVariableSize) {
            if (auto text = PlainText(column.type, column.codepage, data)) {
                return text;
            }
        }
        return Witness().valueUtf16(index);
    }
    std::size_t size = 0;
    if (!Check("cannot read the text size of a value", [&](libesedb_error_t** e) {
            return libesedb_record_get_value_utf16_string_size(handle_.get(), index, &size, e);
        })) {
        return std::nullopt;
    }
    if (size == 0) {
        return std::u16string();
    }
    std::vector<std::uint16_t> buffer(size);
    Check("cannot read the text of a value", [&](libesedb_error_t** e) {
        return libesedb_record_get_value_utf16_string(handle_.get(), index, buffer.data(), size, e);
    });
    return FromUtf16Buffer(buffer);
}

bool Record::isLongValue(int index) const {
    if (own_) {
        return (own_->Flags(index) & kLongValue) != 0;
    }
    return Check("cannot tell whether a value is a long value", [&](libesedb_error_t** e) {
        return libesedb_record_is_long_value(handle_.get(), index, e);
    });
}

bool Record::isMultiValue(int index) const {
    if (own_) {
        return (own_->Flags(index) & kMultiValue) != 0;
    }
    return Check("cannot tell whether a value is a multi-value", [&](libesedb_error_t** e) {
        return libesedb_record_is_multi_value(handle_.get(), index, e);
    });
}

std::optional<LongValue> Record::longValue(int index) const {
    if (table_ && table_->trees) {
        const std::shared_ptr<detail::LongValueTrees>& trees = table_->trees;
        std::uint8_t flags = 0;
        std::uint32_t columnId = 0;
        Bytes key;
        try {
            flags = valueFlags(index);
            if ((flags & kLongValue) != 0 && (flags & kMultiValue) == 0) {
                key = valueData(index);
            }
        } catch (const Error&) {
            key.clear();  // libesedb gives its own answer below
        }
        if (own_ && key.size() == 4) {
            columnId = own_->Column(index).id;
        } else if (own_ || libesedb_record_get_column_identifier(handle_.get(), index, &columnId,
                                                                 nullptr) != 1) {
            key.clear();
        }
        if (key.size() == 4) {
            std::string missing;
            if (auto segments = trees->Segments(table_->tableId, key, &missing)) {
                if (!missing.empty()) {
                    // Column names are the store's ASCII property names ("S1000", "J3701").
                    std::string column;
                    for (const char16_t c : columnName(index)) {
                        column.push_back(c < 0x80 ? static_cast<char>(c) : '?');
                    }
                    trees->NoteLoss("column " + column + ": " + missing);
                }
                return LongValue(std::move(*segments), *this, index,
                                 trees->ColumnCodepage(table_->tableId, columnId));
            }
        }
    }
    return libesedbLongValue(index);
}

std::optional<LongValue> Record::libesedbLongValue(int index) const {
    if (own_) {
        return Witness().libesedbLongValue(index);
    }
    libesedb_long_value_t* handle = nullptr;
    if (!Check("cannot open a long value", [&](libesedb_error_t** e) {
            return libesedb_record_get_long_value(handle_.get(), index, &handle, e);
        })) {
        return std::nullopt;
    }
    return LongValue(handle, handle_);
}

std::optional<MultiValue> Record::multiValue(int index) const {
    if (own_) {
        if (auto own = DecodedMultiValue(index)) {
            return own;
        }
        return Witness().multiValue(index);
    }
    libesedb_multi_value_t* handle = nullptr;
    if (!Check("cannot open a multi-value", [&](libesedb_error_t** e) {
            return libesedb_record_get_multi_value(handle_.get(), index, &handle, e);
        })) {
        return std::nullopt;
    }
    return MultiValue(handle, handle_);
}

// --- Column, Table ---------------------------------------------------------------------

Table::Table(std::shared_ptr<detail::TableContext> context) : context_(std::move(context)) {}

libesedb_table_t* Table::get() const {
    return context_->LibesedbTable().get();
}

bool Table::readsOwnRecords() const {
    return context_->Records() != nullptr;
}

std::vector<Table> Table::parts(int count) const {
    detail::TableRecords* records = context_->Records();
    if (records == nullptr || count < 2) {
        return {};
    }
    std::vector<Table> parts;
    for (std::shared_ptr<detail::TableRecords>& walk :
         records->Split(static_cast<std::size_t>(count))) {
        auto part = std::make_shared<detail::TableContext>();
        part->trees = context_->trees;
        part->tableId = context_->tableId;
        part->layout = context_->layout;
        part->libesedb = context_->libesedb;
        part->place = context_->place;
        std::call_once(part->walked, [&] { part->records = std::move(walk); });
        parts.emplace_back(std::move(part));
    }
    return parts;
}

bool Table::joinParts(std::span<const Table> parts) const {
    detail::TableRecords* records = context_->Records();
    if (records == nullptr) {
        return false;
    }
    std::vector<std::shared_ptr<detail::TableRecords>> walks;
    for (const Table& part : parts) {
        walks.push_back(part.context_->records);
    }
    return records->Join(walks);
}

Table::Reading Table::reading() const {
    Reading result;
    if (const detail::TableRecords* records = context_->Records()) {
        for (const detail::PageDamage& d : records->damage()) {
            result.unreadable.emplace_back(d.number, d.reason);
        }
        result.pagesRead = records->pagesRead();
        result.recovered = records->recovered();
    }
    return result;
}

std::vector<std::string> Table::damage() const {
    std::vector<std::string> reasons;
    if (const detail::TableRecords* records = context_->Records()) {
        for (const detail::PageDamage& d : records->damage()) {
            reasons.push_back(d.reason);
        }
        const auto& unknown = records->layout().unknownToItsEngine;
        reasons.insert(reasons.end(), unknown.begin(), unknown.end());
    }
    return reasons;
}

std::u16string Column::name() const {
    if (!handle_) {
        return name_;
    }
    return ReadUtf16Name(
        "cannot read a column name",
        [&](std::size_t* size, libesedb_error_t** e) {
            return libesedb_column_get_utf16_name_size(handle_.get(), size, e);
        },
        [&](std::uint16_t* buffer, std::size_t size, libesedb_error_t** e) {
            return libesedb_column_get_utf16_name(handle_.get(), buffer, size, e);
        });
}

std::uint32_t Column::type() const {
    if (!handle_) {
        return type_;
    }
    std::uint32_t type = 0;
    Check("cannot read a column type",
          [&](libesedb_error_t** e) { return libesedb_column_get_type(handle_.get(), &type, e); });
    return type;
}

std::uint32_t Column::identifier() const {
    if (!handle_) {
        return identifier_;
    }
    std::uint32_t id = 0;
    Check("cannot read a column identifier", [&](libesedb_error_t** e) {
        return libesedb_column_get_identifier(handle_.get(), &id, e);
    });
    return id;
}

std::u16string Table::name() const {
    if (context_->layout != nullptr) {
        return context_->layout->name;
    }
    return detail::LibesedbTableName(get());
}

int Table::columnCount() const {
    if (const auto* columns = context_->OwnColumns()) {
        return static_cast<int>(columns->size());
    }
    int count = 0;
    Check("cannot count the columns of a table", [&](libesedb_error_t** e) {
        return libesedb_table_get_number_of_columns(get(), &count, 0, e);
    });
    return count;
}

Column Table::column(int index) const {
    if (const auto* columns = context_->OwnColumns()) {
        if (index < 0 || static_cast<std::size_t>(index) >= columns->size()) {
            throw Error("cannot read a column: the table has " + std::to_string(columns->size()) +
                        " columns, not " + std::to_string(index + 1));
        }
        const detail::ColumnLayout& column = (*columns)[static_cast<std::size_t>(index)];
        return Column(column.name, column.type, column.id);
    }
    const std::shared_ptr<libesedb_table_t>& table = context_->LibesedbTable();
    libesedb_column_t* handle = nullptr;
    Check("cannot read a column", [&](libesedb_error_t** e) {
        return libesedb_table_get_column(table.get(), index, &handle, 0, e);
    });
    return Column(handle, table);
}

int Table::recordCount() const {
    if (const detail::TableRecords* records = context_->Records()) {
        if (records->count() == 0 && !records->damage().empty()) {
            // Nothing could be read: the first damaged page tells why.
            const detail::PageDamage& first = records->damage().front();
            switch (first.trouble) {
                case detail::PageTrouble::kPastTheEnd:
                    throw Error("its records lie on page " + std::to_string(first.number) +
                                " and on, past the end of the file, which holds " +
                                std::to_string(context_->trees->PageCount()) +
                                " pages: the file is cut short");
                case detail::PageTrouble::kZeros:
                    throw Error("its records lie on page " + std::to_string(first.number) +
                                ", which holds only zeros");
                default:
                    throw Error("its records could not be read: " + first.reason);
            }
        }
        return static_cast<int>(records->count());
    }
    int count = 0;
    Check("cannot count the records of a table", [&](libesedb_error_t** e) {
        return libesedb_table_get_number_of_records(get(), &count, e);
    });
    // libesedb counts no records, without an error, in a table whose pages are gone.
    if (count == 0 && context_->trees) {
        if (const auto lost = context_->trees->LostRecordPage(context_->tableId)) {
            if (lost->pastTheEnd) {
                throw Error("its records lie on page " + std::to_string(lost->number) +
                            " and on, past the end of the file, which holds " +
                            std::to_string(context_->trees->PageCount()) +
                            " pages: the file is cut short");
            }
            throw Error("its records lie on page " + std::to_string(lost->number) +
                        ", which holds only zeros");
        }
    }
    return count;
}

int Table::recordCountEstimate() const {
    if (const detail::TableRecords* records = context_->Records()) {
        return static_cast<int>(
            std::min<std::size_t>(records->Estimate(), std::numeric_limits<int>::max()));
    }
    return recordCount();
}

bool Table::hasRecord(int index) const {
    if (index < 0) {
        return false;
    }
    if (const detail::TableRecords* records = context_->Records()) {
        // Past the last record, the count throws what keeps the table from being read.
        return records->Has(static_cast<std::size_t>(index)) || index < recordCount();
    }
    std::unique_lock lock(context_->mutex);
    if (!context_->libesedbCount) {
        lock.unlock();
        const int count = recordCount();
        lock.lock();
        context_->libesedbCount = count;
    }
    return index < *context_->libesedbCount;
}

Record Table::record(int index) const {
    if (detail::TableRecords* records = context_->Records()) {
        std::shared_ptr<detail::OwnRecord> own = context_->SpareRecord();
        std::string why;
        if (index < 0 || !records->Record(static_cast<std::size_t>(index), own->decoded, why)) {
            throw Error("cannot read a record: " + (why.empty() ? "no such record" : why));
        }
        own->table = context_.get();
        own->index = index;
        return Record(std::move(own), context_);
    }
    const std::shared_ptr<libesedb_table_t>& table = context_->LibesedbTable();
    libesedb_record_t* handle = nullptr;
    Check("cannot read a record", [&](libesedb_error_t** e) {
        return libesedb_table_get_record(table.get(), index, &handle, e);
    });
    return Record(handle, table, context_);
}

int Table::storedValuesFrom(int first, std::span<const int> columns,
                            std::span<StoredValue> out) const {
    detail::TableRecords* records = context_->Records();
    constexpr std::size_t kMost = detail::kMostValuesAtOnce;
    constexpr std::size_t kRecords = 64;
    if (records == nullptr || first < 0 || columns.empty() || columns.size() > kMost) {
        return 0;
    }
    const auto& layout = records->layout().columns;
    std::array<std::size_t, kMost> positions;
    std::array<std::uint32_t, kMost> types;
    std::array<std::uint32_t, kMost> codepages;
    for (std::size_t k = 0; k < columns.size(); ++k) {
        if (columns[k] < 0 || static_cast<std::size_t>(columns[k]) >= layout.size()) {
            return 0;
        }
        positions[k] = static_cast<std::size_t>(columns[k]);
        types[k] = layout[positions[k]].type;
        codepages[k] = layout[positions[k]].codepage;
    }
    const std::size_t width = columns.size();
    const std::size_t most = std::min(out.size() / width, kRecords);
    // Room for a leaf's worth, made once for each thread: every record's slots are filled
    // afresh by the decoding.
    thread_local std::array<detail::ValueSlot, kMost * kRecords> slots;
    thread_local std::array<detail::ByteView, kRecords> data;
    const std::size_t n =
        records->ValuesFrom(static_cast<std::size_t>(first), std::span(positions.data(), width),
                            std::span(slots.data(), most * width), std::span(data.data(), most));
    for (std::size_t r = 0; r < n; ++r) {
        for (std::size_t k = 0; k < width; ++k) {
            const detail::ValueSlot& slot = slots[r * width + k];
            out[r * width + k] = {types[k], slot.flags, data[r].subspan(slot.offset, slot.size),
                                  codepages[k]};
        }
    }
    return static_cast<int>(n);
}

std::optional<std::u16string> StoredText(const StoredValue& value) {
    if (value.bytes.empty() || value.flags > kVariableSize) {
        return std::nullopt;
    }
    return PlainText(value.type, value.codepage, value.bytes);
}

// --- File ------------------------------------------------------------------------------

namespace detail {

// libesedb's opening of one file, made on first need or at once; kept by everything read
// through it. A failed opening fails the same way every time it is asked for.
class LibesedbFile {
  public:
    explicit LibesedbFile(std::filesystem::path path) : path_(std::move(path)) {}
    ~LibesedbFile() = default;
    LibesedbFile(const LibesedbFile&) = delete;
    LibesedbFile& operator=(const LibesedbFile&) = delete;

    const std::shared_ptr<libesedb_file_t>& Handle() {
        std::lock_guard lock(mutex_);
        if (!handle_) {
            if (closed_) {
                throw Error("cannot open the database: it was closed");
            }
            if (!failure_.empty()) {
                throw Error(failure_);
            }
            try {
                handle_ = OpenFile();
            } catch (const Error& e) {
                failure_ = e.what();
                throw;
            }
        }
        return handle_;
    }
    bool opened() const {
        std::lock_guard lock(mutex_);
        return handle_ != nullptr;
    }
    // Closes libesedb's file, which objects still held keep but must not read.
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        if (handle_) {
            auto handle = std::exchange(handle_, nullptr);
            Check("cannot close the database",
                  [&](libesedb_error_t** e) { return libesedb_file_close(handle.get(), e); });
        }
    }

  private:
    std::shared_ptr<libesedb_file_t> OpenFile() const {
        libesedb_file_t* raw = nullptr;
        Check("cannot create a database file object",
              [&](libesedb_error_t** e) { return libesedb_file_initialize(&raw, e); });
        // The last holder closes (when still open) and frees the file object.
        std::shared_ptr<libesedb_file_t> handle(raw, [](libesedb_file_t* p) {
            libesedb_file_close(p, nullptr);
            libesedb_file_free(&p, nullptr);
        });
        Check("cannot open the database", [&](libesedb_error_t** e) {
            return libesedb_file_open(handle.get(), path_.c_str(), LIBESEDB_OPEN_READ, e);
        });
        return handle;
    }

    const std::filesystem::path path_;
    mutable std::mutex mutex_;
    std::shared_ptr<libesedb_file_t> handle_;
    std::string failure_;
    bool closed_ = false;
};

std::u16string LibesedbTableName(libesedb_table_t* table) {
    return ReadUtf16Name(
        "cannot read a table name",
        [&](std::size_t* size, libesedb_error_t** e) {
            return libesedb_table_get_utf16_name_size(table, size, e);
        },
        [&](std::uint16_t* buffer, std::size_t size, libesedb_error_t** e) {
            return libesedb_table_get_utf16_name(table, buffer, size, e);
        });
}

const std::shared_ptr<libesedb_table_t>& TableContext::LibesedbTable() {
    std::lock_guard lock(libesedbMutex);
    if (!libesedbTable) {
        const std::shared_ptr<libesedb_file_t>& file = libesedb->Handle();
        libesedb_table_t* handle = nullptr;
        Check("cannot read a table of the catalogue", [&](libesedb_error_t** e) {
            return libesedb_file_get_table(file.get(), place, &handle, e);
        });
        std::shared_ptr<libesedb_table_t> table =
            Adopt<libesedb_table_t, libesedb_table_free>(handle, file);
        if (layout != nullptr) {
            // Our catalogue and libesedb's must name the same table at this place.
            const std::u16string name = LibesedbTableName(table.get());
            if (name != layout->name) {
                throw Error("libesedb gives the table \"" + std::string(name.begin(), name.end()) +
                            "\" at the place of \"" +
                            std::string(layout->name.begin(), layout->name.end()) +
                            "\" in the catalogue");
            }
        }
        libesedbTable = std::move(table);
    }
    return libesedbTable;
}

}  // namespace detail

File::File() = default;

File::~File() = default;

void File::open(const std::filesystem::path& path, LongValueReading reading, Recovery recovery) {
    close();
    auto libesedb = std::make_shared<detail::LibesedbFile>(path);
    std::shared_ptr<detail::LongValueTrees> trees;
    if (reading == LongValueReading::kDirect || recovery == Recovery::kEveryPage) {
        trees = detail::LongValueTrees::Open(path);
    }
    std::vector<std::uint32_t> ownTables;
    if (trees) {
        if (auto ids = trees->TableIds()) {
            ownTables = std::move(*ids);
        }
    }
    if (ownTables.empty()) {
        libesedb->Handle();  // libesedb's tables: opened now, and its failure is the open's
    }
    libesedb_ = std::move(libesedb);
    trees_ = std::move(trees);
    ownTables_ = std::move(ownTables);
    open_ = true;
    static std::atomic<std::uint64_t> openings{0};
    openId_ = ++openings;
    if (trees_ && recovery == Recovery::kEveryPage) {
        trees_->EnableRecovery();
    }
}

std::vector<std::string> File::TakeLosses() {
    return trees_ ? trees_->TakeLosses() : std::vector<std::string>{};
}

bool File::libesedbOpened() const {
    return libesedb_ && libesedb_->opened();
}

void File::close() {
    if (!open_) {
        return;
    }
    open_ = false;
    openId_ = 0;
    trees_.reset();
    ownTables_.clear();
    std::exchange(libesedb_, nullptr)->Close();
}

int File::tableCount() const {
    if (!ownTables_.empty()) {
        return static_cast<int>(ownTables_.size());
    }
    if (!libesedb_) {
        throw Error("cannot count the tables of the database: it is not open");
    }
    int count = 0;
    Check("cannot count the tables of the database", [&](libesedb_error_t** e) {
        return libesedb_file_get_number_of_tables(libesedb_->Handle().get(), &count, e);
    });
    return count;
}

std::vector<std::u16string> File::tableNames() const {
    std::vector<std::u16string> names;
    if (!ownTables_.empty()) {
        names.reserve(ownTables_.size());
        for (std::uint32_t id : ownTables_) {
            names.push_back(trees_->Layout(id)->name);
        }
        return names;
    }
    const int count = tableCount();
    names.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        names.push_back(table(i).name());
    }
    return names;
}

Table File::table(int index) const {
    if (!libesedb_) {
        throw Error("cannot read a table of the catalogue: the database is not open");
    }
    auto context = std::make_shared<detail::TableContext>();
    context->libesedb = libesedb_;
    context->place = index;
    if (!ownTables_.empty()) {
        if (index < 0 || static_cast<std::size_t>(index) >= ownTables_.size()) {
            throw Error("cannot read a table of the catalogue: it holds " +
                        std::to_string(ownTables_.size()) + " tables, not " +
                        std::to_string(index + 1));
        }
        context->tableId = ownTables_[static_cast<std::size_t>(index)];
        context->layout = trees_->Layout(context->tableId);
        context->trees = trees_;
        return Table(std::move(context));
    }
    const std::shared_ptr<libesedb_table_t>& table = context->LibesedbTable();
    if (trees_ && libesedb_table_get_identifier(table.get(), &context->tableId, nullptr) == 1) {
        context->trees = trees_;
    }
    return Table(std::move(context));
}

}  // namespace ese
