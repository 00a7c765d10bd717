#include "store/address.h"

#include <re2/re2.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <unordered_set>

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

void ReplaceAll(std::string& text, std::string_view what, std::string_view with) {
    std::size_t pos = 0;
    while ((pos = text.find(what, pos)) != std::string::npos) {
        text.replace(pos, what.size(), with);
        pos += with.size();
    }
}

void DeleteAll(std::string& text, std::string_view what) {
    ReplaceAll(text, what, "");
}

void Trim(std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Low byte of every character.
std::string Narrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

std::u16string Widen(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return out;
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
void RemovePunctuation(std::string& text, bool trim) {
    ReplaceAll(text, " SMTP", "<");
    DeleteAll(text, "@ ");
    if (trim) {
        Trim(text);
    }
    for (std::string_view what : {"^", "+", ")", "(", "`", "{", "}", "[", "]", "  "}) {
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

std::string Printable(std::u16string_view hex) {
    return Narrow(HexToPrintableText(hex));
}

}  // namespace

std::u16string HexToPrintableText(std::u16string_view hex) {
    std::u16string out;
    if (hex.empty() || hex.size() % 2 != 0) {
        return out;
    }
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        // A pair is read like a number: leading hex digits count, the rest ends it.
        unsigned value = 0;
        const int high = HexDigit(hex[i]);
        if (high >= 0) {
            const int low = HexDigit(hex[i + 1]);
            value = low >= 0 ? static_cast<unsigned>(high * 16 + low) : static_cast<unsigned>(high);
        }
        if (value == 0) {
            out.push_back(u' ');
        } else if (value >= 32 && value <= 122) {
            out.push_back(static_cast<char16_t>(value));
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
    const std::string fallback = Printable(hex);
    std::string text = fallback;
    RemovePunctuation(text, false);
    std::string result;
    if (!text.empty()) {
        if (MatchPattern(text, AddressPattern::kThreeWordsAndAddress)) {
            result = text;
        } else if (auto named = MatchPattern(text, AddressPattern::kTwoWordsAngleAddress)) {
            result = *named;
            ReplaceAll(result, "< ", "<");
            result += ">";
            ReplaceAll(result, " >", ">");
        } else if (auto single = MatchPattern(text, AddressPattern::kWordAngleAddress)) {
            result = *single;
            DeleteAll(result, " ");
            result += ">";
        } else {
            for (AddressPattern p : {AddressPattern::kAddress, AddressPattern::kTwoWords,
                                     AddressPattern::kWordAndSpace}) {
                if (auto found = MatchPattern(text, p)) {
                    result = *found;
                    break;
                }
            }
        }
    }
    return Widen(result.empty() ? fallback : result);
}

std::u16string ResolveRecipientAddresses(std::u16string_view hex) {
    std::string text = Printable(hex);
    RemovePunctuation(text, true);
    // Each address once, in the order found. The search goes on after each match, so an
    // address found before takes nothing out of a longer one that holds it ("ann@example.com"
    // out of "joann@example.com").
    std::unordered_set<std::string_view> listed;
    std::string result;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::optional<std::string_view> address = FindPattern(rest, AddressPattern::kAddress);
        if (!address || address->empty()) {
            break;
        }
        if (listed.insert(*address).second) {
            result += *address;
            result += ",";
        }
        rest.remove_prefix(static_cast<std::size_t>(address->data() - rest.data()) +
                           address->size());
    }
    return Widen(result);
}

}  // namespace store
