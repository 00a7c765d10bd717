#include "store/esedb.h"

#include <atomic>
#include <mutex>
#include <string_view>

#include "store/long_value_tree.h"

namespace ese {

namespace detail {

// Column names and types depend on the table alone (its catalogue entries), not on the record:
// each is looked up through libesedb once per table object and kept. Lookups that fail are not
// kept, so they fail again as they did.
struct TableContext {
    std::shared_ptr<LongValueTrees> trees;  // null: long values through libesedb
    std::uint32_t tableId = 0;

    std::mutex mutex;
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

}  // namespace detail

namespace {

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

    // The code page in which the text can be read without libesedb because its reading is
    // beyond doubt: UTF-16 text (code page 1200) without a byte-order mark or an unpaired
    // surrogate, or ASCII text (code page 1252). 0 for compressed values (first byte 0x18) and
    // everything else, which go to libesedb.
    std::uint32_t PlainCodepage(const Bytes& all) const {
        if ((columnType != kText && columnType != kLargeText) || all.empty() ||
            (all.size() > 1 && all[0] == 0x18)) {
            return 0;
        }
        if (codepage == 1200) {
            if (all.size() % 2 != 0 || (all[0] == 0xff && all[1] == 0xfe) ||
                (all[0] == 0xfe && all[1] == 0xff)) {
                return 0;
            }
            const std::size_t units = all.size() / 2;
            auto unit = [&](std::size_t i) {
                return static_cast<char16_t>(all[2 * i] | (all[2 * i + 1] << 8));
            };
            for (std::size_t i = 0; i < units; ++i) {
                const char16_t c = unit(i);
                if (c == 0xfffe || c == 0xffff) {
                    return 0;
                }
                if (c >= 0xd800 && c <= 0xdbff && i + 1 < units && unit(i + 1) >= 0xdc00 &&
                    unit(i + 1) <= 0xdfff) {
                    ++i;
                } else if (c >= 0xd800 && c <= 0xdfff) {
                    return 0;
                }
            }
            return 1200;
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

    Bytes Joined() const {
        Bytes all;
        for (const Bytes& s : segments) {
            all.insert(all.end(), s.begin(), s.end());
        }
        return all;
    }

    // The text as PlainCodepage reads it, up to the first NUL.
    std::optional<std::u16string> PlainText() const {
        const Bytes all = Joined();
        const std::uint32_t plain = PlainCodepage(all);
        if (plain == 0) {
            return std::nullopt;
        }
        std::u16string text;
        if (plain == 1200) {
            text.resize(all.size() / 2);
            for (std::size_t i = 0; i < text.size(); ++i) {
                text[i] = static_cast<char16_t>(all[2 * i] | (all[2 * i + 1] << 8));
            }
        } else {
            text.assign(all.begin(), all.end());
        }
        const auto end = text.find(u'\0');
        if (end != std::u16string::npos) {
            text.resize(end);
        }
        return text;
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
    int count = 0;
    Check("cannot count the elements of a multi-value", [&](libesedb_error_t** e) {
        return libesedb_multi_value_get_number_of_values(handle_.get(), &count, e);
    });
    return count;
}

std::uint32_t MultiValue::columnType() const {
    std::uint32_t type = 0;
    Check("cannot read the column type of a multi-value", [&](libesedb_error_t** e) {
        return libesedb_multi_value_get_column_type(handle_.get(), &type, e);
    });
    return type;
}

Bytes MultiValue::valueData(int index) const {
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

int Record::valueCount() const {
    int count = 0;
    Check("cannot count the values of a record", [&](libesedb_error_t** e) {
        return libesedb_record_get_number_of_values(handle_.get(), &count, e);
    });
    return count;
}

std::uint32_t Record::columnType(int index) const {
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
    std::uint8_t flags = 0;
    Check("cannot read the flags of a value", [&](libesedb_error_t** e) {
        return libesedb_record_get_value_data_flags(handle_.get(), index, &flags, e);
    });
    return flags;
}

Bytes Record::valueData(int index) const {
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
    auto v = Typed<std::uint8_t>("cannot read a boolean value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_boolean(handle_.get(), index, out, e);
    });
    if (!v) {
        return std::nullopt;
    }
    return *v != 0;
}

std::optional<std::uint8_t> Record::value8(int index) const {
    return Typed<std::uint8_t>("cannot read an 8-bit value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_8bit(handle_.get(), index, out, e);
    });
}

std::optional<std::uint16_t> Record::value16(int index) const {
    return Typed<std::uint16_t>("cannot read a 16-bit value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_16bit(handle_.get(), index, out, e);
    });
}

std::optional<std::uint32_t> Record::value32(int index) const {
    return Typed<std::uint32_t>("cannot read a 32-bit value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_32bit(handle_.get(), index, out, e);
    });
}

std::optional<std::uint64_t> Record::value64(int index) const {
    return Typed<std::uint64_t>("cannot read a 64-bit value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_64bit(handle_.get(), index, out, e);
    });
}

std::optional<std::uint64_t> Record::valueFiletime(int index) const {
    return Typed<std::uint64_t>("cannot read a date value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_filetime(handle_.get(), index, out, e);
    });
}

std::optional<float> Record::valueFloat32(int index) const {
    return Typed<float>("cannot read a single-precision value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_floating_point_32bit(handle_.get(), index, out, e);
    });
}

std::optional<double> Record::valueFloat64(int index) const {
    return Typed<double>("cannot read a double-precision value", [&](auto* out, auto** e) {
        return libesedb_record_get_value_floating_point_64bit(handle_.get(), index, out, e);
    });
}

std::optional<std::u16string> Record::valueUtf16(int index) const {
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
    return Check("cannot tell whether a value is a long value", [&](libesedb_error_t** e) {
        return libesedb_record_is_long_value(handle_.get(), index, e);
    });
}

bool Record::isMultiValue(int index) const {
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
        if (key.size() == 4 &&
            libesedb_record_get_column_identifier(handle_.get(), index, &columnId, nullptr) == 1) {
            if (auto segments = trees->Segments(table_->tableId, key)) {
                return LongValue(std::move(*segments), *this, index,
                                 trees->ColumnCodepage(table_->tableId, columnId));
            }
        }
    }
    return libesedbLongValue(index);
}

std::optional<LongValue> Record::libesedbLongValue(int index) const {
    libesedb_long_value_t* handle = nullptr;
    if (!Check("cannot open a long value", [&](libesedb_error_t** e) {
            return libesedb_record_get_long_value(handle_.get(), index, &handle, e);
        })) {
        return std::nullopt;
    }
    return LongValue(handle, handle_);
}

std::optional<MultiValue> Record::multiValue(int index) const {
    libesedb_multi_value_t* handle = nullptr;
    if (!Check("cannot open a multi-value", [&](libesedb_error_t** e) {
            return libesedb_record_get_multi_value(handle_.get(), index, &handle, e);
        })) {
        return std::nullopt;
    }
    return MultiValue(handle, handle_);
}

// --- Column, Table ---------------------------------------------------------------------

Table::Table(libesedb_table_t* handle, detail::Owner owner,
             std::shared_ptr<detail::LongValueTrees> trees)
    : handle_(detail::Adopt<libesedb_table_t, libesedb_table_free>(handle, std::move(owner))),
      context_(std::make_shared<detail::TableContext>()) {
    if (trees && libesedb_table_get_identifier(handle_.get(), &context_->tableId, nullptr) == 1) {
        context_->trees = std::move(trees);
    }
}

std::u16string Column::name() const {
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
    std::uint32_t type = 0;
    Check("cannot read a column type",
          [&](libesedb_error_t** e) { return libesedb_column_get_type(handle_.get(), &type, e); });
    return type;
}

std::uint32_t Column::identifier() const {
    std::uint32_t id = 0;
    Check("cannot read a column identifier", [&](libesedb_error_t** e) {
        return libesedb_column_get_identifier(handle_.get(), &id, e);
    });
    return id;
}

std::u16string Table::name() const {
    return ReadUtf16Name(
        "cannot read a table name",
        [&](std::size_t* size, libesedb_error_t** e) {
            return libesedb_table_get_utf16_name_size(handle_.get(), size, e);
        },
        [&](std::uint16_t* buffer, std::size_t size, libesedb_error_t** e) {
            return libesedb_table_get_utf16_name(handle_.get(), buffer, size, e);
        });
}

int Table::columnCount() const {
    int count = 0;
    Check("cannot count the columns of a table", [&](libesedb_error_t** e) {
        return libesedb_table_get_number_of_columns(handle_.get(), &count, 0, e);
    });
    return count;
}

Column Table::column(int index) const {
    libesedb_column_t* handle = nullptr;
    Check("cannot read a column", [&](libesedb_error_t** e) {
        return libesedb_table_get_column(handle_.get(), index, &handle, 0, e);
    });
    return Column(handle, handle_);
}

int Table::recordCount() const {
    int count = 0;
    Check("cannot count the records of a table", [&](libesedb_error_t** e) {
        return libesedb_table_get_number_of_records(handle_.get(), &count, e);
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

Record Table::record(int index) const {
    libesedb_record_t* handle = nullptr;
    Check("cannot read a record", [&](libesedb_error_t** e) {
        return libesedb_table_get_record(handle_.get(), index, &handle, e);
    });
    return Record(handle, handle_, context_);
}

// --- File ------------------------------------------------------------------------------

File::File() {
    libesedb_file_t* handle = nullptr;
    Check("cannot create a database file object",
          [&](libesedb_error_t** e) { return libesedb_file_initialize(&handle, e); });
    // The last holder closes (when still open) and frees the file object.
    handle_ = std::shared_ptr<libesedb_file_t>(handle, [](libesedb_file_t* p) {
        libesedb_file_close(p, nullptr);
        libesedb_file_free(&p, nullptr);
    });
}

File::~File() = default;

void File::open(const std::filesystem::path& path, LongValueReading reading) {
    close();
    Check("cannot open the database", [&](libesedb_error_t** e) {
        return libesedb_file_open(handle_.get(), path.c_str(), LIBESEDB_OPEN_READ, e);
    });
    open_ = true;
    static std::atomic<std::uint64_t> openings{0};
    openId_ = ++openings;
    std::uint32_t pageSize = 0;
    if (reading == LongValueReading::Direct &&
        libesedb_file_get_page_size(handle_.get(), &pageSize, nullptr) == 1) {
        trees_ = detail::LongValueTrees::Open(path, pageSize);
    }
}

void File::close() {
    if (!open_) {
        return;
    }
    open_ = false;
    openId_ = 0;
    trees_.reset();
    Check("cannot close the database",
          [&](libesedb_error_t** e) { return libesedb_file_close(handle_.get(), e); });
}

int File::tableCount() const {
    int count = 0;
    Check("cannot count the tables of the database", [&](libesedb_error_t** e) {
        return libesedb_file_get_number_of_tables(handle_.get(), &count, e);
    });
    return count;
}

Table File::table(int index) const {
    libesedb_table_t* handle = nullptr;
    Check("cannot read a table of the catalogue", [&](libesedb_error_t** e) {
        return libesedb_file_get_table(handle_.get(), index, &handle, e);
    });
    return Table(handle, handle_, trees_);
}

}  // namespace ese
