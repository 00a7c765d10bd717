#include "content/body_extraction.h"

#include <iterator>
#include <optional>
#include <system_error>

#include "content/compressed_rtf.h"
#include "content/rtf_text.h"
#include "content/work_files.h"
#include "platform/codepage.h"
#include "platform/work_folder.h"
#include "store/values.h"

namespace content {
namespace {

bool IsTextType(std::uint32_t type) {
    return type == ese::kText || type == ese::kLargeText;
}

// UTF-16 little-endian units of the bytes; an odd last byte is left out.
std::u16string Utf16LeToText(std::span<const std::uint8_t> bytes) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return text;
}

std::u16string_view UpToNul(std::u16string_view text) {
    return text.substr(0, text.find(u'\0'));
}

bool IsKept(char16_t c) {
    return (c >= 0x20 && c != 0x7F) || c == u'\t' || c == u'\n' || c == u'\r';
}

// DropControlCharacters on a text of our own, without copying it.
std::u16string DropControlCharactersOf(std::u16string text) {
    std::erase_if(text, [](char16_t c) { return !IsKept(c); });
    return text;
}

std::string_view AsChars(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The segments of a body value: one per long-value segment, or the value kept in the record
// as segment 0. `complete` is false when a segment could not be fetched; the segments before
// it are kept.
struct Segments {
    std::vector<ese::Bytes> bytes;
    std::optional<ese::LongValue> longValue;
    bool complete = true;
};

std::optional<Segments> ReadSegments(const ese::Record& record, int index) {
    Segments segments;
    const std::uint8_t flags = record.valueFlags(index);
    if ((flags & ese::kLongValue) != 0) {
        segments.longValue = record.longValue(index);
        if (!segments.longValue) {
            return std::nullopt;
        }
        const int count = segments.longValue->segmentCount();
        for (int i = 0; i < count; ++i) {
            try {
                segments.bytes.push_back(segments.longValue->segment(i));
            } catch (const ese::Error&) {
                segments.complete = false;
                break;
            }
        }
        return segments;
    }
    if ((flags & ese::kMultiValue) != 0) {
        return std::nullopt;
    }
    // A short body kept in the record itself; a column without data holds no body.
    ese::Bytes bytes = record.valueData(index);
    if (bytes.empty()) {
        return std::nullopt;
    }
    segments.bytes.push_back(std::move(bytes));
    return segments;
}

ese::Bytes Joined(const std::vector<ese::Bytes>& segments) {
    ese::Bytes all;
    for (const ese::Bytes& s : segments) {
        all.insert(all.end(), s.begin(), s.end());
    }
    return all;
}

// One text per segment (empty for a segment without bytes) of a byte body.
std::vector<std::u16string> ByteBodyTexts(const std::vector<ese::Bytes>& segments) {
    const ese::Bytes all = Joined(segments);
    std::vector<std::u16string> texts;
    if (!platform::IsValidUtf8(AsChars(all))) {
        for (const ese::Bytes& s : segments) {
            texts.push_back(DropControlCharactersOf(platform::Cp1252ToUtf16(AsChars(s))));
        }
        return texts;
    }
    // A character split between two segments belongs to the segment it starts in.
    auto boundary = [&](std::size_t at) {
        while (at < all.size() && (all[at] & 0xC0) == 0x80) {
            ++at;
        }
        return at;
    };
    std::size_t start = 0;
    for (const ese::Bytes& s : segments) {
        const std::size_t from = boundary(start);
        const std::size_t to = std::max(from, boundary(start + s.size()));
        texts.push_back(DropControlCharactersOf(
            platform::Utf8ToUtf16(AsChars(std::span(all).subspan(from, to - from)))));
        start += s.size();
    }
    return texts;
}

// One text per segment of a text column, read in the column's code page. libesedb knows the
// code page; its whole text tells which reading of the segment bytes is the right one.
std::vector<std::u16string> TextBodyTexts(const ese::Record& record, int index,
                                          const Segments& segments) {
    const ese::Bytes all = Joined(segments.bytes);
    std::u16string asUtf16 = Utf16LeToText(all);
    // A value whose text is its bytes read as UTF-16 needs no whole text to compare with.
    const bool plainUtf16 =
        segments.complete && segments.longValue && segments.longValue->plainTextCodepage() == 1200;
    std::optional<std::u16string> whole;
    if (segments.complete && !plainUtf16) {
        try {
            whole = segments.longValue ? segments.longValue->text() : record.valueUtf16(index);
        } catch (const ese::Error&) {
            whole.reset();
        }
    }
    bool utf16 = plainUtf16;
    if (whole) {
        utf16 = UpToNul(asUtf16) == UpToNul(*whole);
        if (!utf16 && UpToNul(platform::Cp1252ToUtf16(AsChars(all))) != UpToNul(*whole)) {
            // Stored in some other form (compressed): the whole text goes into the first part.
            std::vector<std::u16string> texts(segments.bytes.size());
            if (!texts.empty()) {
                texts[0] = DropControlCharactersOf(std::move(*whole));
            }
            return texts;
        }
    } else {
        // Unreadable as a whole: Unicode columns hold mostly zero high bytes.
        std::size_t zeros = 0;
        for (std::size_t i = 1; i < all.size(); i += 2) {
            zeros += all[i] == 0 ? 1 : 0;
        }
        utf16 = all.size() % 2 == 0 && zeros * 4 >= all.size();
    }
    std::vector<std::u16string> texts;
    if (!utf16) {
        for (const ese::Bytes& s : segments.bytes) {
            texts.push_back(DropControlCharactersOf(platform::Cp1252ToUtf16(AsChars(s))));
        }
        return texts;
    }
    if (segments.bytes.size() == 1 && all.size() % 2 == 0) {
        // One segment of whole units: its text is the text of all bytes.
        texts.push_back(DropControlCharactersOf(std::move(asUtf16)));
        return texts;
    }
    ese::Bytes carry;
    for (const ese::Bytes& s : segments.bytes) {
        if (carry.empty() && s.size() % 2 == 0) {
            texts.push_back(DropControlCharactersOf(Utf16LeToText(s)));
            continue;
        }
        ese::Bytes units = carry;
        units.insert(units.end(), s.begin(), s.end());
        carry.clear();
        if (units.size() % 2 != 0) {
            carry.push_back(units.back());
            units.pop_back();
        }
        texts.push_back(DropControlCharactersOf(Utf16LeToText(units)));
    }
    return texts;
}

// The compressed RTF body gives one body part: the text of the RTF it decompresses to.
void ConvertCompressedRtf(const Segments& segments, const std::u16string& messageKey,
                          std::vector<BodyPartEntry>& bodyParts, std::u16string_view& bodyKind) {
    for (const ese::Bytes& s : segments.bytes) {
        if (!s.empty()) {
            bodyKind = kKindText;
        }
    }
    if (!segments.complete) {
        return;
    }
    std::u16string text;
    const ese::Bytes compressed = Joined(segments.bytes);
    if (!compressed.empty()) {
        if (const auto rtf = DecompressRtf(compressed)) {
            text = DropControlCharacters(RtfToText(std::span<const std::uint8_t>(*rtf)).text);
        }
    }
    bodyParts.push_back({messageKey, std::move(text), kKindText, 0});
}

bool CheckRecordValue(const ese::Record& record, int index, std::uint32_t type) {
    switch (type) {
        case ese::kBoolean:
            record.valueBoolean(index);
            return true;
        case ese::kInteger8Unsigned:
            record.value8(index);
            return true;
        case ese::kInteger16Signed:
        case ese::kInteger16Unsigned:
            record.value16(index);
            return true;
        case ese::kInteger32Signed:
        case ese::kInteger32Unsigned:
            record.value32(index);
            return true;
        case ese::kCurrency:
        case ese::kInteger64Signed:
            record.value64(index);
            return true;
        case ese::kFloat32:
            record.valueFloat32(index);
            return true;
        case ese::kFloat64:
            record.valueFloat64(index);
            return true;
        case ese::kDateTime:
            return store::RecordValueToText(record, index, std::nullopt).has_value();
        case ese::kText:
        case ese::kLargeText: {
            const auto text = record.valueUtf16(index);
            return text.has_value() && !record.valueData(index).empty();
        }
        default:
            return true;
    }
}

}  // namespace

std::u16string DropControlCharacters(std::u16string_view text) {
    return DropControlCharactersOf(std::u16string(text));
}

std::u16string BodyBytesToText(std::span<const std::uint8_t> bytes) {
    const std::string_view chars = AsChars(bytes);
    return DropControlCharactersOf(platform::IsValidUtf8(chars) ? platform::Utf8ToUtf16(chars)
                                                                : platform::Cp1252ToUtf16(chars));
}

void ExtractBodyColumn(const ese::Record& record, int index, std::u16string_view columnName,
                       const std::u16string& messageKey, std::vector<BodyPartEntry>& bodyParts,
                       std::u16string_view& bodyKind) {
    const bool plain = columnName == u"S1000";
    const bool rtf = columnName == u"N1009";
    const bool html = columnName == u"N1013";
    if (!plain && !rtf && !html) {
        return;
    }
    std::optional<Segments> segments;
    std::uint32_t type = 0;
    try {
        type = record.columnType(index);
        segments = ReadSegments(record, index);
    } catch (const ese::Error&) {
        return;
    }
    if (!segments) {
        return;
    }
    if (rtf) {
        ConvertCompressedRtf(*segments, messageKey, bodyParts, bodyKind);
        return;
    }
    const std::vector<std::u16string> texts =
        IsTextType(type) ? TextBodyTexts(record, index, *segments) : ByteBodyTexts(segments->bytes);
    const std::u16string_view kind = plain ? kKindText : kKindHtml;
    for (std::size_t i = 0; i < segments->bytes.size(); ++i) {
        if (segments->bytes[i].empty()) {
            continue;
        }
        bodyKind = kind;
        bodyParts.push_back({messageKey, texts[i], kind, static_cast<int>(i)});
    }
}

int SaveLongValueToFile(store::ScanHost& host, const ese::Record& record, int index,
                        std::u16string_view fileName, const std::filesystem::path& workFolder) {
    std::uint8_t flags = 0;
    std::uint32_t type = 0;
    try {
        if (index < 0 || index >= record.valueCount()) {
            return store::kFailed;
        }
        type = record.columnType(index);
        flags = record.valueFlags(index);
        if (flags == 0 || flags == ese::kVariableSize) {
            if (type == ese::kBinary || type == ese::kLargeBinary) {
                // Small contents are kept in the record itself: they are saved all the same.
                const ese::Bytes bytes = record.valueData(index);
                return platform::ReplaceFileContents(
                           workFolder / SafeWorkFileName(fileName),
                           {reinterpret_cast<const char*>(bytes.data()), bytes.size()})
                           ? store::kOk
                           : store::kFailed;
            }
            return CheckRecordValue(record, index, type) ? store::kOk : store::kFailed;
        }
        if ((flags & ese::kCompressed) != 0) {
            const ese::Bytes bytes = record.valueData(index);
            if (type == ese::kLargeText && !bytes.empty()) {
                store::DecompressSevenBitText(bytes);
            }
            return store::kOk;
        }
        if ((flags & ese::kMultiValue) != 0 && (flags & ese::kLongValue) == 0) {
            if ((flags & ese::kMultiValueOffsets) != 0) {
                return store::kOk;
            }
            const auto values = record.multiValue(index);
            if (!values) {
                return store::kFailed;
            }
            const int count = values->count();
            for (int i = 0; i < count; ++i) {
                if (IsTextType(values->columnType())) {
                    values->valueUtf16(i);
                } else {
                    values->valueData(i);
                }
            }
            return store::kOk;
        }
        if ((flags & ese::kLongValue) == 0) {
            return store::kOk;
        }
    } catch (const ese::Error&) {
        return store::kFailed;
    }

    std::optional<ese::LongValue> longValue;
    int count = 0;
    try {
        longValue = record.longValue(index);
        if (!longValue) {
            return store::kFailed;
        }
        count = longValue->segmentCount();
    } catch (const ese::Error&) {
        return store::kFailed;
    }
    const platform::FileHandle out = platform::ReplaceFile(workFolder / SafeWorkFileName(fileName));
    if (!out) {
        return store::kFailed;
    }
    int counter = 0;
    for (int i = 0; i < count; ++i) {
        host.SetProgress(counter);
        if (counter == 100) {
            host.SetProgress(0);
            counter = 0;
        }
        ++counter;
        try {
            const ese::Bytes segment = longValue->segment(i);
            if (std::fwrite(segment.data(), 1, segment.size(), out.get()) != segment.size()) {
                return store::kFailed;
            }
        } catch (const ese::Error&) {
            // An unreadable segment is left out; the rest of the value still lands.
        }
    }
    return store::kOk;
}

}  // namespace content
