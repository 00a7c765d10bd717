#include "store/esedb.h"

#include <string_view>

namespace ese {
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

int LongValue::segmentCount() const {
    int count = 0;
    Check("cannot count the segments of a long value", [&](libesedb_error_t** e) {
        return libesedb_long_value_get_number_of_data_segments(handle_.get(), &count, e);
    });
    return count;
}

Bytes LongValue::segment(int index) const {
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

std::u16string LongValue::text() const {
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
    std::uint32_t type = 0;
    Check("cannot read the column type of a value", [&](libesedb_error_t** e) {
        return libesedb_record_get_column_type(handle_.get(), index, &type, e);
    });
    return type;
}

std::u16string Record::columnName(int index) const {
    return ReadUtf16Name(
        "cannot read the column name of a value",
        [&](std::size_t* size, libesedb_error_t** e) {
            return libesedb_record_get_utf16_column_name_size(handle_.get(), index, size, e);
        },
        [&](std::uint16_t* buffer, std::size_t size, libesedb_error_t** e) {
            return libesedb_record_get_utf16_column_name(handle_.get(), index, buffer, size, e);
        });
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
    return count;
}

Record Table::record(int index) const {
    libesedb_record_t* handle = nullptr;
    Check("cannot read a record", [&](libesedb_error_t** e) {
        return libesedb_table_get_record(handle_.get(), index, &handle, e);
    });
    return Record(handle, handle_);
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

void File::open(const std::filesystem::path& path) {
    close();
    Check("cannot open the database", [&](libesedb_error_t** e) {
        return libesedb_file_open(handle_.get(), path.c_str(), LIBESEDB_OPEN_READ, e);
    });
    open_ = true;
}

void File::close() {
    if (!open_) {
        return;
    }
    open_ = false;
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
    return Table(handle, handle_);
}

}  // namespace ese
