#include "store/address.h"

#include <regex.h>

#include <array>
#include <stdexcept>

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

// The patterns, compiled once for the whole process.
class CompiledPatterns {
  public:
    CompiledPatterns() {
        for (std::size_t i = 0; i < kPatterns.size(); ++i) {
            if (regcomp(&compiled_[i], kPatterns[i], REG_EXTENDED) != 0) {
                throw std::logic_error("an address pattern does not compile");
            }
        }
    }
    ~CompiledPatterns() {
        for (regex_t& r : compiled_) {
            regfree(&r);
        }
    }
    CompiledPatterns(const CompiledPatterns&) = delete;
    CompiledPatterns& operator=(const CompiledPatterns&) = delete;

    const regex_t& operator[](AddressPattern p) const {
        return compiled_[static_cast<std::size_t>(p)];
    }

  private:
    std::array<regex_t, kPatterns.size()> compiled_{};
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

// No name or address part is anywhere near this long (an address's parts stop at 64).
constexpr std::size_t kMaxWordRun = 128;

bool IsWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Cuts every run of word characters to kMaxWordRun. The patterns try every start position
// within a run, so a long run (a damaged or hostile value) costs time that grows with the
// square of its length: a 16 KB run took seconds per pattern.
void ShortenWordRuns(std::string& text) {
    std::size_t out = 0;
    std::size_t run = 0;
    for (const char c : text) {
        run = IsWordCharacter(c) ? run + 1 : 0;
        if (run <= kMaxWordRun) {
            text[out++] = c;
        }
    }
    text.resize(out);
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
    ShortenWordRuns(text);
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
    // regexec needs a NUL-terminated text; a NUL inside ends the search as it would there.
    const std::string subject(text);
    regmatch_t match{};
    if (regexec(&Patterns()[pattern], subject.c_str(), 1, &match, 0) != 0) {
        return std::nullopt;
    }
    return subject.substr(static_cast<std::size_t>(match.rm_so),
                          static_cast<std::size_t>(match.rm_eo - match.rm_so));
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
    std::string remaining = Printable(hex);
    RemovePunctuation(remaining, true);
    std::string result;
    while (!remaining.empty()) {
        auto address = MatchPattern(remaining);
        if (!address || address->empty()) {
            break;
        }
        result += *address;
        result += ",";
        DeleteAll(remaining, *address);
    }
    DeleteAll(result, ",,");
    return Widen(result);
}

}  // namespace store
