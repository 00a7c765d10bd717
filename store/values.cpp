#include "store/values.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

#include "platform/codepage.h"
#include "platform/datetime.h"

namespace store {
namespace {

std::u16string Widen(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

bool IsPlainValue(std::uint8_t flags) {
    return flags <= ese::kVariableSize;
}

bool IsMultiValue(std::uint8_t flags) {
    return (flags & ese::kMultiValue) != 0 && (flags & ese::kMultiValueOffsets) == 0;
}

// Single-byte text up to the first NUL or the end of the bytes.
std::u16string AnsiUpToNul(std::span<const std::uint8_t> bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return platform::Cp1252ToUtf16(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), end - bytes.begin()));
}

// Eight bytes as an unsigned integer in the given byte order ('b' or 'l').
inline std::uint64_t AssembleEight(const std::uint8_t* bytes, ByteOrder order) {
    static_assert(std::endian::native == std::endian::little);
    std::uint64_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return order == 'b' ? __builtin_bswap64(value) : value;
}

// Assembles bytes into an unsigned integer in the given byte order ('b' or 'l').
std::uint64_t Assemble(std::span<const std::uint8_t> bytes, ByteOrder order) {
    if (bytes.size() == 8) {
        return AssembleEight(bytes.data(), order);
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = order == 'b' ? bytes[i] : bytes[bytes.size() - 1 - i];
        value = (value << 8) | b;
    }
    return value;
}

constexpr std::u16string_view kHexDigits = u"0123456789abcdef";

// Each byte as two lower-case hexadecimal digits.
void AppendHex(std::span<const std::uint8_t> bytes, std::u16string& text) {
    const std::size_t at = text.size();
    text.resize(at + bytes.size() * 2);
    char16_t* out = text.data() + at;
    for (std::uint8_t b : bytes) {
        *out++ = kHexDigits[b >> 4];
        *out++ = kHexDigits[b & 0x0F];
    }
}

bool ValidOrder(ByteOrder order) {
    return order == 'b' || order == 'l';
}

struct RawValue {
    std::uint32_t type = 0;
    std::uint8_t flags = 0;
    std::span<const std::uint8_t> bytes;  // in the record or in storage
    ese::Bytes storage;

    ese::Bytes Copy() const { return {bytes.begin(), bytes.end()}; }
};

// Filled in place, since bytes may point into storage.
void ReadRaw(const ese::Record& record, int index, RawValue& raw) {
    if (index < 0 || index >= record.valueCount()) {
        throw ese::Error("value index out of range");
    }
    raw.type = record.columnType(index);
    raw.flags = record.valueFlags(index);
    raw.bytes = record.valueBytes(index, raw.storage);
}

// The shared head of the fixed-size name-driven decoders: allowed column types, then flags
// above 1 give the stored bytes as single-byte text and a wrong size gives no text.
std::optional<ese::Bytes> SizedBinary(const ese::Record& record, int index,
                                      std::initializer_list<std::uint32_t> types, std::size_t size,
                                      Text& early) {
    RawValue raw;
    ReadRaw(record, index, raw);
    if (std::find(types.begin(), types.end(), raw.type) == types.end()) {
        return std::nullopt;
    }
    if (!IsPlainValue(raw.flags)) {
        early = AnsiUpToNul(raw.bytes);
        return std::nullopt;
    }
    if (raw.bytes.size() != size) {
        return std::nullopt;
    }
    return raw.Copy();
}

Text MultiValueToText(const ese::Record& record, int index, const Text& defaultText) {
    auto multi = record.multiValue(index);
    if (!multi) {
        return defaultText;
    }
    const std::uint32_t type = multi->columnType();
    Text result;
    const int count = multi->count();
    for (int i = 0; i < count; ++i) {
        const ese::Bytes bytes = multi->valueData(i);
        if (bytes.empty()) {
            continue;
        }
        if (type == ese::kText || type == ese::kLargeText) {
            auto text = multi->valueUtf16(i);
            if (!text) {
                continue;
            }
            result = CleanText(*text);
        } else {
            result = BytesToHexText(defaultText, bytes);
        }
    }
    return result ? result : defaultText;
}

// Little-endian fixed-size number from the stored bytes.
template <class T>
T FromLittleEndian(std::span<const std::uint8_t> bytes) {
    std::uint64_t raw = Assemble(bytes, 'l');
    if constexpr (std::is_floating_point_v<T>) {
        using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
        const auto bits = static_cast<Bits>(raw);
        T value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    } else {
        return static_cast<T>(raw);
    }
}

// Fixed-size columns are decoded from their stored little-endian bytes. (libesedb's own
// single-precision getter returns 0 for every value, so numbers are not taken from it.)
Text PlainBytesToText(std::uint32_t type, std::span<const std::uint8_t> bytes,
                      const Text& defaultText) {
    if (bytes.empty()) {
        return defaultText;
    }
    auto sized = [&](std::size_t size, auto&& format) -> Text {
        if (bytes.size() != size) {
            return BytesToHexText(defaultText, bytes);
        }
        return Widen(format());
    };
    switch (type) {
        case ese::kBoolean:
            return sized(1, [&] { return std::string(bytes[0] != 0 ? "true" : "false"); });
        case ese::kInteger8Unsigned:
            return sized(1, [&] { return fmt::format("{}", unsigned{bytes[0]}); });
        case ese::kInteger16Signed:
            return sized(2,
                         [&] { return fmt::format("{}", FromLittleEndian<std::int16_t>(bytes)); });
        case ese::kInteger16Unsigned:
            return sized(2,
                         [&] { return fmt::format("{}", FromLittleEndian<std::uint16_t>(bytes)); });
        case ese::kInteger32Signed:
        case ese::kInteger32Unsigned:
            return sized(4,
                         [&] { return fmt::format("{}", FromLittleEndian<std::uint32_t>(bytes)); });
        case ese::kCurrency:
        case ese::kInteger64Signed:
            return sized(8,
                         [&] { return fmt::format("{}", FromLittleEndian<std::int64_t>(bytes)); });
        case ese::kFloat32:
            return sized(4, [&] {
                return fmt::format("{:f}", static_cast<double>(FromLittleEndian<float>(bytes)));
            });
        case ese::kFloat64:
            return sized(8, [&] { return fmt::format("{:f}", FromLittleEndian<double>(bytes)); });
        case ese::kDateTime: {
            // ESE date-time columns hold an automation date (a double), not a FILETIME.
            std::uint64_t filetime = 0;
            if (bytes.size() != 8 ||
                !platform::OleDateToFiletime(FromLittleEndian<double>(bytes), filetime)) {
                return BytesToHexText(defaultText, bytes);
            }
            return platform::FiletimeToText(filetime);
        }
        default:
            return BytesToHexText(defaultText, bytes);
    }
}

// A text value as shown: none when empty, else cleaned.
Text CleanedText(std::u16string&& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    return CleanTextInPlace(std::move(text));
}

bool IsText(std::uint32_t type) {
    return type == ese::kText || type == ese::kLargeText;
}

Text PlainValueToText(const ese::Record& record, int index, std::uint32_t type,
                      std::span<const std::uint8_t> bytes, const Text& defaultText) {
    if (IsText(type)) {
        auto text = record.valueUtf16(index);
        if (!text) {
            return defaultText;
        }
        return CleanedText(std::move(*text));
    }
    return PlainBytesToText(type, bytes, defaultText);
}

}  // namespace

void AppendLowerHex(std::uint64_t value, std::u16string& text) {
    std::array<char16_t, 16> digits{};
    std::size_t first = digits.size();
    do {
        digits[--first] = kHexDigits[value & 0xfU];
        value >>= 4;
    } while (value != 0);
    text.append(digits.begin() + static_cast<std::ptrdiff_t>(first), digits.end());
}

std::optional<std::uint64_t> HexNumber(std::u16string_view text) {
    if (text.empty() || text.size() > 16 || (text.size() > 1 && text[0] == u'0')) {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    for (const char16_t c : text) {
        std::uint64_t digit = 0;
        if (c >= u'0' && c <= u'9') {
            digit = static_cast<std::uint64_t>(c - u'0');
        } else if (c >= u'a' && c <= u'f') {
            digit = static_cast<std::uint64_t>(c - u'a' + 10);
        } else {
            return std::nullopt;
        }
        number = (number << 4) | digit;
    }
    return number;
}

std::optional<Text> StoredValueToText(const ese::StoredValue& value, const Text& defaultText) {
    if (!IsPlainValue(value.flags)) {
        return std::nullopt;
    }
    if (!IsText(value.type)) {
        return PlainBytesToText(value.type, value.bytes, defaultText);
    }
    if (value.bytes.empty()) {
        return defaultText;
    }
    std::optional<std::u16string> text = ese::StoredText(value);
    if (!text) {
        return std::nullopt;
    }
    return CleanedText(std::move(*text));
}

bool StoredValueInto(const ese::StoredValue& value, std::u16string& text) {
    text.clear();
    // Binary values, as attachment keys are, written straight in as the hex digits that
    // StoredValueToText would give in a string of their own; the rest through it.
    if (IsPlainValue(value.flags) &&
        (value.type == ese::kBinary || value.type == ese::kLargeBinary)) {
        AppendHex(value.bytes, text);
        return true;
    }
    std::optional<Text> converted = StoredValueToText(value, std::nullopt);
    if (!converted) {
        return false;
    }
    if (*converted) {
        text = std::move(**converted);
    }
    return true;
}

Text RecordValueToText(const ese::Record& record, int index, const Text& defaultText) {
    try {
        RawValue raw;
        ReadRaw(record, index, raw);
        if (IsPlainValue(raw.flags)) {
            return PlainValueToText(record, index, raw.type, raw.bytes, defaultText);
        }
        if ((raw.flags & ese::kCompressed) != 0) {
            if (raw.type != ese::kLargeText) {
                return BytesToHexText(defaultText, raw.bytes);
            }
            if (raw.bytes.empty()) {
                return defaultText;
            }
            const std::string plain = DecompressSevenBitText(raw.bytes);
            return platform::Cp1252ToUtf16(std::string_view(plain).substr(1));
        }
        if ((raw.flags & ese::kLongValue) != 0) {
            // Long values are read through to prove they are whole; no caller shows them.
            if (auto longValue = record.longValue(index)) {
                const int segments = longValue->segmentCount();
                for (int i = 0; i < segments; ++i) {
                    longValue->segment(i);
                }
            }
            return defaultText;
        }
        if (!IsMultiValue(raw.flags)) {
            return BytesToHexText(defaultText, raw.bytes);
        }
        return MultiValueToText(record, index, defaultText);
    } catch (const ese::Error&) {
        return std::nullopt;
    }
}

bool IdentifierNumber(const ese::StoredValue& value, ByteOrder order, std::uint64_t& number) {
    if (!ValidOrder(order) || (value.type != ese::kBinary && value.type != ese::kCurrency) ||
        !IsPlainValue(value.flags) || value.bytes.size() != 8) {
        return false;
    }
    number = AssembleEight(value.bytes.data(), order);
    return true;
}

IdentifierText IdentifierInto(const ese::StoredValue& value, ByteOrder order,
                              std::u16string& text) {
    if (!ValidOrder(order) || (value.type != ese::kBinary && value.type != ese::kCurrency)) {
        return IdentifierText::kNone;
    }
    if (value.bytes.empty()) {
        return IdentifierText::kDefault;
    }
    text.clear();
    if (!IsPlainValue(value.flags)) {
        AppendHex(value.bytes, text);
        return IdentifierText::kText;
    }
    std::uint64_t number = 0;
    if (!IdentifierNumber(value, order, number)) {
        return IdentifierText::kNone;
    }
    AppendLowerHex(number, text);
    return IdentifierText::kText;
}

IdentifierText IdentifierInto(const ese::Record& record, int index, ByteOrder order,
                              std::u16string& text) {
    if (!ValidOrder(order)) {
        return IdentifierText::kNone;
    }
    try {
        RawValue raw;
        ReadRaw(record, index, raw);
        return IdentifierInto({raw.type, raw.flags, raw.bytes}, order, text);
    } catch (const ese::Error&) {
        return IdentifierText::kNone;
    }
}

Text IdentifierToText(const ese::Record& record, int index, ByteOrder order,
                      const Text& defaultText) {
    std::u16string text;
    switch (IdentifierInto(record, index, order, text)) {
        case IdentifierText::kText:
            return text;
        case IdentifierText::kDefault:
            return defaultText;
        case IdentifierText::kNone:
            break;
    }
    return std::nullopt;
}

Text Integer32ToText(const ese::Record& record, int index, ByteOrder order) {
    if (!ValidOrder(order)) {
        return std::nullopt;
    }
    try {
        Text early;
        auto bytes = SizedBinary(record, index, {ese::kBinary}, 4, early);
        if (!bytes) {
            return early;
        }
        return Widen(fmt::format("{}", Assemble(*bytes, order)));
    } catch (const ese::Error&) {
        return std::nullopt;
    }
}

Text FiletimeBytesToText(const ese::Record& record, int index, ByteOrder order) {
    if (!ValidOrder(order)) {
        return std::nullopt;
    }
    try {
        Text early;
        auto bytes = SizedBinary(record, index, {ese::kBinary, ese::kCurrency}, 8, early);
        if (!bytes) {
            return early;
        }
        return platform::FiletimeToText(Assemble(*bytes, order));
    } catch (const ese::Error&) {
        return std::nullopt;
    }
}

Text GuidToText(const ese::Record& record, int index, ByteOrder order) {
    if (!ValidOrder(order)) {
        return std::nullopt;
    }
    try {
        Text early;
        auto bytes = SizedBinary(record, index, {ese::kBinary}, 16, early);
        if (!bytes) {
            return early;
        }
        return platform::GuidToText(std::span<const std::uint8_t, 16>(bytes->data(), 16),
                                    order == 'l');
    } catch (const ese::Error&) {
        return std::nullopt;
    }
}

Text AnsiValueToText(const ese::Record& record, int index) {
    try {
        RawValue raw;
        ReadRaw(record, index, raw);
        if (!IsMultiValue(raw.flags)) {
            if (raw.bytes.empty()) {
                return std::nullopt;
            }
            return AnsiUpToNul(raw.bytes);
        }
        auto multi = record.multiValue(index);
        if (!multi) {
            return std::nullopt;
        }
        const int count = multi->count();
        for (int i = 0; i < count; ++i) {
            const ese::Bytes bytes = multi->valueData(i);
            if (!bytes.empty()) {
                return AnsiUpToNul(bytes);
            }
        }
        return std::nullopt;
    } catch (const ese::Error&) {
        return std::nullopt;
    }
}

Text BytesToAnsiText(const ese::Record& record, int index) {
    auto bytes = RawBinaryValue(record, index);
    if (!bytes || bytes->empty()) {
        return std::nullopt;
    }
    return AnsiUpToNul(*bytes);
}

std::optional<ese::Bytes> RawBinaryValue(const ese::Record& record, int index) {
    try {
        RawValue raw;
        ReadRaw(record, index, raw);
        if (raw.type != ese::kBinary && raw.type != ese::kLargeBinary) {
            return std::nullopt;
        }
        return raw.Copy();
    } catch (const ese::Error&) {
        return std::nullopt;
    }
}

Text BytesToHexText(const Text& defaultText, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return defaultText;
    }
    std::u16string text;
    AppendHex(bytes, text);
    return text;
}

std::string DecompressSevenBitText(std::span<const std::uint8_t> packed) {
    if (packed.empty()) {
        return {};
    }
    const std::size_t count = (packed.size() * 8 - 8) / 7;
    std::string out;
    out.reserve(count + 1);
    out.push_back(static_cast<char>(packed[0]));
    std::uint32_t accumulator = 0;
    unsigned shift = 0;
    for (std::size_t i = 1; i < packed.size(); ++i) {
        accumulator |= static_cast<std::uint32_t>(packed[i]) << shift;
        ++shift;
        out.push_back(static_cast<char>(accumulator & 0x7F));
        accumulator >>= 7;
        if (shift == 7) {
            out.push_back(static_cast<char>(accumulator & 0x7F));
            accumulator >>= 7;
            shift = 0;
        }
    }
    // Bits left over after the last whole character are padding.
    out.resize(count + 1);
    return out;
}

std::u16string CleanTextInPlace(std::u16string&& text) {
    std::erase_if(text, [](char16_t c) {
        return c == u'\0' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\\';
    });
    return std::move(text);
}

std::u16string CleanText(std::u16string_view text) {
    return CleanTextInPlace(std::u16string(text));
}

std::u16string CleanAnsiText(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        if (u >= 1 && u <= 125) {
            out.push_back(static_cast<char16_t>(u));
        }
    }
    return out;
}

void WriteCleanText(std::ostream& out, std::u16string_view text) {
    std::u16string kept;
    kept.reserve(text.size());
    for (char16_t c : text) {
        if (c != u'\0' && c != u'\t' && c != u'\r' && c != u'\\') {
            kept.push_back(c);
        }
    }
    out << platform::Utf16ToUtf8(kept);
}

}  // namespace store
