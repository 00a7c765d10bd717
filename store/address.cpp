#include "store/address.h"

#include <re2/re2.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <unordered_set>

#include "platform/codepage.h"

namespace store {
namespace {

constexpr std::array<const char*, 6> kPatterns = {
    R"((\w+)(\.|_)?(\w*) (\w+)(\.|_)?(\w*) (\w+)(\.|_)?(\w*)@(\w+)(\.(\w+))+)",
    R"((\w+)(\.|_)?(\w*) (\w+)(\.|_)?(\w*)< (\w+)(\.|_)?(\w*)@(\w+)(\.(\w+))+)",
    R"((\w+)(\.|_)?(\w*)< (\w+)(\.|_)?(\w*)@(\w+)(\.(\w+))+)",
    R"((\w+)(\.|_)?(\w*)@(\w+)(\.(\w+))+)",
    R"((\w+)(\.|_)?(\w*) (\w+)(\.|_)?(\w*))",
    R"((\w+)(\.|_)?(\w*) )",
};

// POSIX extended syntax and matching, in time linear in the text: the leftmost match and, from
// there, the longest; \w is [0-9A-Za-z_]; every byte is one character (the texts are single
// bytes, not UTF-8); "." takes a newline too and "^" and "$" hold only at the ends of the text.
RE2::Options PosixOptions() {
    RE2::Options options;
    options.set_posix_syntax(true);
    options.set_perl_classes(true);
    options.set_longest_match(true);
    options.set_encoding(RE2::Options::EncodingLatin1);
    options.set_dot_nl(true);
    options.set_one_line(true);
    options.set_never_capture(true);  // only the whole match is used
    options.set_log_errors(false);
    return options;
}

// The patterns, compiled once for the whole process. RE2 objects may be used from many threads.
class CompiledPatterns {
  public:
    CompiledPatterns() {
        const RE2::Options options = PosixOptions();
        for (std::size_t i = 0; i < kPatterns.size(); ++i) {
            compiled_[i] = std::make_unique<const RE2>(kPatterns[i], options);
            if (!compiled_[i]->ok()) {
                throw std::logic_error("an address pattern does not compile");
            }
        }
    }

    const RE2& operator[](AddressPattern p) const {
        return *compiled_[static_cast<std::size_t>(p)];
    }

  private:
    std::array<std::unique_ptr<const RE2>, kPatterns.size()> compiled_;
};

const CompiledPatterns& Patterns() {
    static const CompiledPatterns patterns;
    return patterns;
}

void ReplaceAll(std::u16string& text, std::u16string_view what, std::u16string_view with) {
    std::size_t pos = 0;
    while ((pos = text.find(what, pos)) != std::u16string::npos) {
        text.replace(pos, what.size(), with);
        pos += with.size();
    }
}

void DeleteAll(std::u16string& text, std::u16string_view what) {
    ReplaceAll(text, what, u"");
}

std::u16string_view Trimmed(std::u16string_view text) {
    const auto first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(u' ') - first + 1);
}

void Trim(std::u16string& text) {
    text = std::u16string(Trimmed(text));
}

// The single-byte text the patterns are matched on, one byte per character of the address
// text: its ASCII characters as they are and each letter above ASCII as "x", a word character
// like the letter it stands for. A match found in it is the same stretch of the address text.
std::string MatchKey(std::u16string_view text) {
    std::string key;
    key.reserve(text.size());
    for (char16_t c : text) {
        key.push_back(c < 0x80 ? static_cast<char>(c) : 'x');
    }
    return key;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// Replaces " SMTP" by "<" and deletes the punctuation that gets between names and addresses.
void RemovePunctuation(std::u16string& text, bool trim) {
    ReplaceAll(text, u" SMTP", u"<");
    DeleteAll(text, u"@ ");
    if (trim) {
        Trim(text);
    }
    for (std::u16string_view what : {u"^", u"+", u")", u"(", u"`", u"{", u"}", u"[", u"]", u"  "}) {
        DeleteAll(text, what);
    }
}

// The first match as a part of the text.
std::optional<std::string_view> FindPattern(std::string_view text, AddressPattern pattern) {
    // The text ends at its first NUL, as a C string does. The resolvers never hand one over
    // (NUL bytes become spaces).
    text = text.substr(0, text.find('\0'));
    re2::StringPiece match;
    if (!Patterns()[pattern].Match(re2::StringPiece(text.data(), text.size()), 0, text.size(),
                                   RE2::UNANCHORED, &match, 1)) {
        return std::nullopt;
    }
    return std::string_view(match.data(), match.size());
}

// The byte of each hex digit pair, read like a number: leading hex digits count, the rest
// ends it. Nothing for empty or odd-length input.
template <typename Each>
void ForEachHexByte(std::u16string_view hex, Each each) {
    if (hex.empty() || hex.size() % 2 != 0) {
        return;
    }
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        const int high = HexDigit(hex[i]);
        if (high >= 0) {
            const int low = HexDigit(hex[i + 1]);
            value = low >= 0 ? static_cast<unsigned>(high * 16 + low) : static_cast<unsigned>(high);
        }
        each(value);
    }
}

// The letters of Windows-1252 above ASCII, by byte; 0 for every other byte.
const std::array<char16_t, 256>& Cp1252Letters() {
    static const std::array<char16_t, 256> letters = [] {
        std::array<char16_t, 256> table{};
        for (unsigned b = 0x80; b < 0x100; ++b) {
            const char16_t c = platform::Cp1252ToUtf16(std::string(1, static_cast<char>(b)))[0];
            const bool latin = c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7;
            const bool extra = c == 0x160 || c == 0x161 || c == 0x17D || c == 0x17E || c == 0x152 ||
                               c == 0x153 || c == 0x178;
            table[b] = latin || extra ? c : 0;
        }
        return table;
    }();
    return letters;
}

// Controls: below 32, 127, and the five bytes that Windows-1252 leaves unassigned.
bool IsControlByte(unsigned value) {
    return value < 0x20 || value == 0x7F || value == 0x81 || value == 0x8D || value == 0x8F ||
           value == 0x90 || value == 0x9D;
}

// One recipient's name: the text before the "<" that ends the stretch between the previous
// address and this one, after any earlier "<", trimmed; empty when the stretch does not end in
// "<".
std::u16string NameBefore(std::u16string_view stretch) {
    stretch = Trimmed(stretch);
    if (stretch.empty() || stretch.back() != u'<') {
        return {};
    }
    stretch.remove_suffix(1);
    const std::size_t open = stretch.rfind(u'<');
    if (open != std::u16string_view::npos) {
        stretch.remove_prefix(open + 1);
    }
    return std::u16string(Trimmed(stretch));
}

}  // namespace

std::u16string HexToPrintableText(std::u16string_view hex) {
    std::u16string out;
    out.reserve(hex.size() / 2);
    ForEachHexByte(hex, [&](unsigned value) {
        if (value == 0) {
            out.push_back(u' ');
        } else if (value >= 32 && value <= 122) {
            out.push_back(static_cast<char16_t>(value));
        }
    });
    return out;
}

std::u16string HexToAddressText(std::u16string_view hex) {
    std::vector<unsigned> bytes;
    bytes.reserve(hex.size() / 2);
    ForEachHexByte(hex, [&](unsigned value) { bytes.push_back(value); });
    // A letter above ASCII counts only when no control byte follows it before the next NUL:
    // the store puts binary fields (flags, identifiers) right before each name, and what
    // follows the last of their control bytes is the text.
    const std::array<char16_t, 256>& letters = Cp1252Letters();
    std::vector<bool> letter(bytes.size(), false);
    bool controlFollows = false;
    for (std::size_t i = bytes.size(); i-- > 0;) {
        const unsigned value = bytes[i];
        if (value == 0) {
            controlFollows = false;
        } else if (IsControlByte(value)) {
            controlFollows = true;
        } else if (value >= 0x80 && letters[value] != 0 && !controlFollows) {
            letter[i] = true;
        }
    }
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned value = bytes[i];
        if (value == 0) {
            out.push_back(u' ');
        } else if (value >= 32 && value <= 122) {
            out.push_back(static_cast<char16_t>(value));
        } else if (letter[i]) {
            out.push_back(letters[value]);
        }
    }
    return out;
}

std::optional<std::string> MatchPattern(std::string_view text, AddressPattern pattern) {
    const std::optional<std::string_view> match = FindPattern(text, pattern);
    if (!match) {
        return std::nullopt;
    }
    return std::string(*match);
}

const char* AddressPatternText(AddressPattern pattern) {
    return kPatterns[static_cast<std::size_t>(pattern)];
}

std::u16string ResolveSenderAddress(std::u16string_view hex) {
    const std::u16string fallback = HexToAddressText(hex);
    std::u16string text = fallback;
    RemovePunctuation(text, false);
    // The patterns look at the single-byte key; what they find is taken from the text.
    const std::string key = MatchKey(text);
    auto match = [&](AddressPattern pattern) -> std::optional<std::u16string> {
        const std::optional<std::string_view> found = FindPattern(key, pattern);
        if (!found) {
            return std::nullopt;
        }
        return text.substr(static_cast<std::size_t>(found->data() - key.data()), found->size());
    };
    std::u16string result;
    if (!text.empty()) {
        if (match(AddressPattern::kThreeWordsAndAddress)) {
            result = text;
        } else if (auto named = match(AddressPattern::kTwoWordsAngleAddress)) {
            result = *named;
            ReplaceAll(result, u"< ", u"<");
            result += u">";
            ReplaceAll(result, u" >", u">");
        } else if (auto single = match(AddressPattern::kWordAngleAddress)) {
            result = *single;
            DeleteAll(result, u" ");
            result += u">";
        } else {
            for (AddressPattern p : {AddressPattern::kAddress, AddressPattern::kTwoWords,
                                     AddressPattern::kWordAndSpace}) {
                if (auto found = match(p)) {
                    result = *found;
                    break;
                }
            }
        }
    }
    return result.empty() ? fallback : result;
}

std::vector<NamedAddress> ResolveRecipients(std::u16string_view hex) {
    std::u16string text = HexToAddressText(hex);
    RemovePunctuation(text, true);
    const std::string key = MatchKey(text);
    // Each address once, in the order found. The search goes on after each match, so an
    // address found before takes nothing out of a longer one that holds it ("ann@example.com"
    // out of "joann@example.com").
    std::unordered_set<std::u16string_view> listed;
    std::vector<NamedAddress> result;
    std::string_view rest = key;
    std::size_t previousEnd = 0;
    while (!rest.empty()) {
        const std::optional<std::string_view> found = FindPattern(rest, AddressPattern::kAddress);
        if (!found || found->empty()) {
            break;
        }
        const auto start = static_cast<std::size_t>(found->data() - key.data());
        const std::u16string_view address = std::u16string_view(text).substr(start, found->size());
        if (listed.insert(address).second) {
            result.push_back(
                {NameBefore(std::u16string_view(text).substr(previousEnd, start - previousEnd)),
                 std::u16string(address)});
        }
        previousEnd = start + found->size();
        rest = std::string_view(key).substr(previousEnd);
    }
    return result;
}

std::u16string ResolveRecipientAddresses(std::u16string_view hex) {
    std::u16string result;
    for (const NamedAddress& recipient : ResolveRecipients(hex)) {
        result += recipient.address;
        result += u",";
    }
    return result;
}

}  // namespace store
