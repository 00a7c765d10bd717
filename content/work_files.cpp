#include "content/work_files.h"

#include <string>

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/codepage.h"

namespace content {
namespace {

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

std::size_t Utf8Units(char16_t c) {
    if (c < 0x80) {
        return 1;
    }
    if (c < 0x800) {
        return 2;
    }
    if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
        return 2;  // half of a four-byte sequence
    }
    return 3;
}

// Replaces every character that `unsafe` accepts, and every unpaired surrogate, by `with`.
template <class Unsafe>
std::u16string ReplaceUnsafe(std::u16string_view name, char16_t with, Unsafe unsafe) {
    std::u16string out(name);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char16_t c = out[i];
        if (IsHighSurrogate(c) && i + 1 < out.size() && IsLowSurrogate(out[i + 1])) {
            ++i;
            continue;
        }
        if (IsHighSurrogate(c) || IsLowSurrogate(c) || unsafe(c)) {
            out[i] = with;
        }
    }
    return out;
}

bool IsControl(char16_t c) {
    return c < 0x20 || c == 0x7F;
}

// The longest prefix of the text (in whole characters) that fits in `bytes` UTF-8 bytes.
std::u16string_view CutToUtf8(std::u16string_view text, std::size_t bytes) {
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const bool pair =
            IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]);
        const std::size_t units = pair ? 2 : 1;
        const std::size_t size = pair ? 4 : Utf8Units(text[i]);
        if (used + size > bytes) {
            break;
        }
        used += size;
        i += units;
    }
    return text.substr(0, i);
}

std::uint32_t Fnv1a(std::u16string_view text) {
    std::uint32_t hash = 2166136261u;
    for (char16_t c : text) {
        hash = (hash ^ static_cast<std::uint32_t>(c & 0xFF)) * 16777619u;
        hash = (hash ^ static_cast<std::uint32_t>(c >> 8)) * 16777619u;
    }
    return hash;
}

char16_t Upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, with or without an extension, in any case.
bool IsDeviceName(std::u16string_view name) {
    std::u16string base(name.substr(0, name.find(u'.')));
    std::transform(base.begin(), base.end(), base.begin(), Upper);
    static constexpr std::array<std::u16string_view, 4> kPlain = {u"CON", u"PRN", u"AUX", u"NUL"};
    if (std::find(kPlain.begin(), kPlain.end(), base) != kPlain.end()) {
        return true;
    }
    return base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")) &&
           base[3] >= u'1' && base[3] <= u'9';
}

}  // namespace

std::size_t Utf8Length(std::u16string_view text) {
    std::size_t bytes = 0;
    for (char16_t c : text) {
        bytes += Utf8Units(c);
    }
    // An unpaired surrogate is written as a three-byte replacement.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            bytes += 1;
        }
    }
    return bytes;
}

std::u16string SafeWorkFileName(std::u16string_view name) {
    std::u16string out = ReplaceUnsafe(name, u'_', [](char16_t c) {
        return IsControl(c) ||
               std::u16string_view(u"/\\:*?\"<>|;").find(c) != std::u16string_view::npos;
    });
    if (out.find_first_not_of(u'.') == std::u16string::npos) {
        std::replace(out.begin(), out.end(), u'.', u'_');
        if (out.empty()) {
            out.push_back(u'_');
        }
    }
    // Windows drops trailing dots and spaces, which would make two names one file.
    for (std::size_t i = out.size(); i > 0 && (out[i - 1] == u'.' || out[i - 1] == u' '); --i) {
        out[i - 1] = u'_';
    }
    if (IsDeviceName(out)) {
        out.insert(out.begin(), u'_');
    }
    if (Utf8Length(out) > kMaxStoredFileNameBytes) {
        constexpr std::size_t kMaxExtension = 16;
        const std::size_t dot = out.rfind(u'.');
        std::u16string extension;
        if (dot != std::u16string::npos && dot > 0 && out.size() - dot <= kMaxExtension) {
            extension = out.substr(dot);
            out.resize(dot);
        }
        static constexpr char16_t kHex[] = u"0123456789abcdef";
        std::u16string tag = u"~";
        const std::uint32_t hash = Fnv1a(name);
        for (int shift = 28; shift >= 0; shift -= 4) {
            tag.push_back(kHex[(hash >> shift) & 0xF]);
        }
        const std::size_t room = kMaxStoredFileNameBytes - Utf8Length(tag) - Utf8Length(extension);
        out = std::u16string(CutToUtf8(out, room)) + tag + extension;
    }
    return out;
}

std::u16string SavedFileName(std::u16string_view base, int number, std::u16string_view extension) {
    std::u16string tail;
    for (const char c : std::to_string(number)) {
        tail.push_back(static_cast<char16_t>(c));
    }
    tail += extension;
    const std::u16string safe = ReplaceUnsafe(base, u'-', [](char16_t c) {
        return IsControl(c) ||
               std::u16string_view(u":/\\*?<>|\"").find(c) != std::u16string_view::npos;
    });
    const std::size_t tailBytes = Utf8Length(tail);
    const std::size_t room =
        tailBytes < kMaxStoredFileNameBytes ? kMaxStoredFileNameBytes - tailBytes : 0;
    return std::u16string(CutToUtf8(safe, room)) + tail;
}

std::u16string UniqueWorkFileName(std::u16string_view name, std::set<std::u16string>& taken) {
    std::u16string safe = SafeWorkFileName(name);
    if (taken.insert(safe).second) {
        return safe;
    }
    const std::size_t dot = name.rfind(u'.');
    const bool extension = dot != std::u16string_view::npos && dot > 0;
    const std::u16string_view stem = extension ? name.substr(0, dot) : name;
    const std::u16string_view rest = extension ? name.substr(dot) : std::u16string_view();
    for (int n = 2;; ++n) {
        std::u16string numbered(stem);
        numbered += u" (" + platform::Utf8ToUtf16(std::to_string(n)) + u")";
        numbered += rest;
        safe = SafeWorkFileName(numbered);
        if (taken.insert(safe).second) {
            return safe;
        }
    }
}

}  // namespace content
