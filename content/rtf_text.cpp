#include "content/rtf_text.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <new>
#include <vector>

#include "platform/codepage.h"

namespace content {
namespace {

enum class Kind : std::uint8_t {
    kCharacter,     // emits a character
    kDestination,   // the rest of the group is skipped
    kProperty,      // formatting; known, but no text depends on it
    kBinary,        // "bin": N raw bytes follow
    kHex,           // "'": two hex digits follow
    kSkipUnlisted,  // "*": skip the group if the next word is unknown
    kUnicode,       // "u": UTF-16 unit N, then the fallback characters
    kFallbackSize   // "uc": how many fallback characters follow "\u"
};

struct Keyword {
    std::string_view word;
    Kind kind;
    char16_t character = 0;
};

constexpr std::array kKeywords = {
    Keyword{"b", Kind::kProperty},
    Keyword{"i", Kind::kProperty},
    Keyword{"li", Kind::kProperty},
    Keyword{"ri", Kind::kProperty},
    Keyword{"fi", Kind::kProperty},
    Keyword{"cols", Kind::kProperty},
    Keyword{"sbknone", Kind::kProperty},
    Keyword{"sbkcol", Kind::kProperty},
    Keyword{"sbkeven", Kind::kProperty},
    Keyword{"sbkodd", Kind::kProperty},
    Keyword{"sbkpage", Kind::kProperty},
    Keyword{"pgnx", Kind::kProperty},
    Keyword{"pgny", Kind::kProperty},
    Keyword{"pgndec", Kind::kProperty},
    Keyword{"pgnucrm", Kind::kProperty},
    Keyword{"pgnlcrm", Kind::kProperty},
    Keyword{"pgnucltr", Kind::kProperty},
    Keyword{"pgnlcltr", Kind::kProperty},
    Keyword{"qc", Kind::kProperty},
    Keyword{"ql", Kind::kProperty},
    Keyword{"qr", Kind::kProperty},
    Keyword{"qj", Kind::kProperty},
    Keyword{"paperw", Kind::kProperty},
    Keyword{"paperh", Kind::kProperty},
    Keyword{"margl", Kind::kProperty},
    Keyword{"margr", Kind::kProperty},
    Keyword{"margt", Kind::kProperty},
    Keyword{"margb", Kind::kProperty},
    Keyword{"pgnstart", Kind::kProperty},
    Keyword{"facingp", Kind::kProperty},
    Keyword{"landscape", Kind::kProperty},
    Keyword{"par", Kind::kCharacter, u'\n'},
    Keyword{"\n", Kind::kCharacter, u'\n'},
    Keyword{"\r", Kind::kCharacter, u'\n'},
    Keyword{"tab", Kind::kCharacter, u'\t'},
    Keyword{"ldblquote", Kind::kCharacter, u'"'},
    Keyword{"rdblquote", Kind::kCharacter, u'"'},
    Keyword{"bin", Kind::kBinary},
    Keyword{"*", Kind::kSkipUnlisted},
    Keyword{"'", Kind::kHex},
    Keyword{"u", Kind::kUnicode},
    Keyword{"uc", Kind::kFallbackSize},
    Keyword{"author", Kind::kDestination},
    Keyword{"buptim", Kind::kDestination},
    Keyword{"colortbl", Kind::kDestination},
    Keyword{"comment", Kind::kDestination},
    Keyword{"creatim", Kind::kDestination},
    Keyword{"doccomm", Kind::kDestination},
    Keyword{"fonttbl", Kind::kDestination},
    Keyword{"footer", Kind::kDestination},
    Keyword{"footerf", Kind::kDestination},
    Keyword{"footerl", Kind::kDestination},
    Keyword{"footerr", Kind::kDestination},
    Keyword{"footnote", Kind::kDestination},
    Keyword{"ftncn", Kind::kDestination},
    Keyword{"ftnsep", Kind::kDestination},
    Keyword{"ftnsepc", Kind::kDestination},
    Keyword{"header", Kind::kDestination},
    Keyword{"headerf", Kind::kDestination},
    Keyword{"headerl", Kind::kDestination},
    Keyword{"headerr", Kind::kDestination},
    Keyword{"info", Kind::kDestination},
    Keyword{"keywords", Kind::kDestination},
    Keyword{"operator", Kind::kDestination},
    Keyword{"pict", Kind::kDestination},
    Keyword{"printim", Kind::kDestination},
    Keyword{"private1", Kind::kDestination},
    Keyword{"revtim", Kind::kDestination},
    Keyword{"rxe", Kind::kDestination},
    Keyword{"stylesheet", Kind::kDestination},
    Keyword{"subject", Kind::kDestination},
    Keyword{"tc", Kind::kDestination},
    Keyword{"title", Kind::kDestination},
    Keyword{"txe", Kind::kDestination},
    Keyword{"xe", Kind::kDestination},
    Keyword{"{", Kind::kCharacter, u'{'},
    Keyword{"}", Kind::kCharacter, u'}'},
    Keyword{"\\", Kind::kCharacter, u'\\'},
};

const Keyword* FindKeyword(std::string_view word) {
    const auto it = std::find_if(kKeywords.begin(), kKeywords.end(),
                                 [word](const Keyword& k) { return k.word == word; });
    return it == kKeywords.end() ? nullptr : &*it;
}

const std::array<char16_t, 256>& Cp1252Table() {
    static const std::array<char16_t, 256> table = [] {
        std::string all(256, '\0');
        for (int i = 0; i < 256; ++i) {
            all[static_cast<std::size_t>(i)] = static_cast<char>(i);
        }
        const std::u16string wide = platform::Cp1252ToUtf16(all);
        std::array<char16_t, 256> t{};
        std::copy_n(wide.begin(), t.size(), t.begin());
        return t;
    }();
    return table;
}

bool IsLetter(std::uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Parameters are read in full but stop growing here, which keeps a run of digits of any length
// from overflowing; real parameters are 16- or 32-bit values.
constexpr std::int64_t kParameterLimit = std::int64_t{1} << 40;

struct ControlWord {
    std::string_view name;
    bool has_parameter = false;
    std::int64_t parameter = 0;
};

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> input) : in_(input) {}

    RtfText Run() {
        RtfResult result = Loop();
        if (result == RtfResult::kOk && !groups_.empty()) {
            result = RtfResult::kUnclosedGroup;
        }
        return RtfText{std::move(text_), result};
    }

  private:
    // What a group saves on "{" and gets back on "}".
    struct GroupState {
        bool skip_destination = false;
        std::int64_t fallback_size = 1;
    };

    RtfResult Loop() {
        while (pos_ < in_.size()) {
            const std::uint8_t c = in_[pos_++];
            if (binary_left_ > 0) {
                // Every byte of binary data counts, including zero bytes, which are not shown.
                --binary_left_;
                if (!binary_is_fallback_ && c != 0) {
                    Append(Cp1252Table()[c]);
                }
                continue;
            }
            switch (c) {
                case '{':
                    fallback_left_ = 0;
                    try {
                        groups_.push_back(state_);
                    } catch (const std::bad_alloc&) {
                        return RtfResult::kNoMemory;
                    }
                    break;
                case '}':
                    fallback_left_ = 0;
                    if (groups_.empty()) {
                        return RtfResult::kGroupUnderflow;
                    }
                    state_ = groups_.back();
                    groups_.pop_back();
                    break;
                case '\\': {
                    const RtfResult r = ReadControlWord();
                    if (r != RtfResult::kOk) {
                        return r;
                    }
                    break;
                }
                case '\r':
                case '\n':
                    break;
                default:
                    if (c != 0 && !TakeFallback()) {
                        Append(Cp1252Table()[c]);
                    }
                    break;
            }
        }
        return RtfResult::kOk;
    }

    // Called after the backslash.
    RtfResult ReadControlWord() {
        if (pos_ >= in_.size()) {
            return RtfResult::kEndInsideControlWord;
        }
        ControlWord word;
        const std::size_t start = pos_;
        if (!IsLetter(in_[pos_])) {
            ++pos_;
            word.name = Name(start, pos_);
            return Handle(word);
        }
        while (pos_ < in_.size() && IsLetter(in_[pos_])) {
            ++pos_;
        }
        word.name = Name(start, pos_);
        bool negative = false;
        if (pos_ < in_.size() && in_[pos_] == '-') {
            negative = true;
            ++pos_;
            if (pos_ >= in_.size()) {
                return RtfResult::kEndInsideControlWord;
            }
        }
        while (pos_ < in_.size() && IsDigit(in_[pos_])) {
            word.has_parameter = true;
            if (word.parameter < kParameterLimit) {
                word.parameter = word.parameter * 10 + (in_[pos_] - '0');
            }
            ++pos_;
        }
        if (negative) {
            word.parameter = -word.parameter;
        }
        if (pos_ < in_.size() && in_[pos_] == ' ') {
            ++pos_;
        }
        return Handle(word);
    }

    RtfResult Handle(const ControlWord& word) {
        // A control word standing where a "\u" fallback is expected counts as one character of
        // it and has no other effect.
        const bool fallback = TakeFallback();
        const Keyword* keyword = FindKeyword(word.name);
        if (keyword == nullptr) {
            if (!fallback && skip_unlisted_) {
                state_.skip_destination = true;
            }
            skip_unlisted_ = false;
            return RtfResult::kOk;
        }
        skip_unlisted_ = false;
        switch (keyword->kind) {
            case Kind::kCharacter:
                if (!fallback) {
                    Append(keyword->character);
                }
                break;
            case Kind::kDestination:
                if (!fallback) {
                    state_.skip_destination = true;
                }
                break;
            case Kind::kProperty:
                break;
            case Kind::kBinary:
                binary_left_ = word.has_parameter ? std::max<std::int64_t>(word.parameter, 0) : 0;
                binary_is_fallback_ = fallback;
                break;
            case Kind::kHex:
                return ReadHexEscape(fallback);
            case Kind::kSkipUnlisted:
                if (!fallback && !state_.skip_destination) {
                    skip_unlisted_ = true;
                }
                break;
            case Kind::kUnicode:
                if (!fallback && word.has_parameter) {
                    // Negative values stand for N + 65536; the low 16 bits are that unit.
                    const auto unit = static_cast<char16_t>(word.parameter & 0xFFFF);
                    if (unit != 0) {
                        Append(unit);
                    }
                    fallback_left_ = state_.fallback_size;
                }
                break;
            case Kind::kFallbackSize:
                if (!fallback) {
                    state_.fallback_size =
                        word.has_parameter ? std::max<std::int64_t>(word.parameter, 0) : 1;
                }
                break;
        }
        return RtfResult::kOk;
    }

    RtfResult ReadHexEscape(bool fallback) {
        if (state_.skip_destination && !fallback) {
            // Not read as an escape in skipped text: its digits are dropped like any text.
            return RtfResult::kOk;
        }
        int value = 0;
        for (int i = 0; i < 2; ++i) {
            if (pos_ >= in_.size()) {
                return RtfResult::kEndInsideControlWord;
            }
            const int digit = HexValue(in_[pos_]);
            if (digit < 0) {
                return RtfResult::kBadHexDigit;
            }
            ++pos_;
            value = value * 16 + digit;
        }
        if (!fallback && value != 0) {
            Append(Cp1252Table()[static_cast<std::size_t>(value)]);
        }
        return RtfResult::kOk;
    }

    // True when the next character is part of a "\u" fallback and so is to be dropped.
    bool TakeFallback() {
        if (fallback_left_ <= 0) {
            return false;
        }
        --fallback_left_;
        return true;
    }

    void Append(char16_t c) {
        if (!state_.skip_destination) {
            text_.push_back(c);
        }
    }

    std::string_view Name(std::size_t begin, std::size_t end) const {
        return {reinterpret_cast<const char*>(in_.data()) + begin, end - begin};
    }

    std::span<const std::uint8_t> in_;
    std::size_t pos_ = 0;
    GroupState state_;
    std::vector<GroupState> groups_;
    bool skip_unlisted_ = false;
    std::int64_t binary_left_ = 0;
    bool binary_is_fallback_ = false;
    std::int64_t fallback_left_ = 0;
    std::u16string text_;
};

}  // namespace

RtfText RtfToText(std::span<const std::uint8_t> rtf) {
    return Reader(rtf).Run();
}

RtfText RtfToText(std::string_view rtf) {
    return RtfToText(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(rtf.data()), rtf.size()));
}

std::optional<RtfText> RtfToText(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(stream)),
                                          std::istreambuf_iterator<char>());
    if (stream.bad()) {
        return std::nullopt;
    }
    return RtfToText(std::span<const std::uint8_t>(bytes));
}

}  // namespace content
