#include "tools/edbforge/compressed_rtf.h"

#include <array>
#include <cstring>
#include <memory>

namespace edbforge {

namespace {

constexpr char kInitialDictionary[] =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern "
    "\\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0"
    "\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
constexpr std::size_t kDictionarySize = 4096;
constexpr std::size_t kMaxMatch = 17;
constexpr std::size_t kMaxChain = 256;

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? 0xedb88320U ^ (c >> 1) : c >> 1;
        }
        t[i] = c;
    }
    return t;
}
constexpr auto kCrcTable = makeCrcTable();

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// The compressor's model of the decoder's ring dictionary, with hash chains over byte pairs
// to find earlier occurrences quickly.
class Dictionary {
  public:
    Dictionary() {
        head_.fill(kNone);
        prev_.fill(kNone);
        std::size_t n = rtfInitialDictionary().size();
        std::memcpy(bytes_.data(), kInitialDictionary, n);
        for (std::size_t i = 0; i + 1 < n; ++i) {
            link(i);
        }
        write_ = n;
    }

    std::size_t writePosition() const { return write_; }

    void put(std::uint8_t b) {
        bytes_[write_] = b;
        std::size_t before = (write_ + kDictionarySize - 1) % kDictionarySize;
        link(before);
        write_ = (write_ + 1) % kDictionarySize;
    }

    // Longest match for the input at `in` (at most `avail` bytes); returns offset and length.
    std::pair<std::size_t, std::size_t> longestMatch(const std::uint8_t* in,
                                                     std::size_t avail) const {
        std::size_t bestLength = 0;
        std::size_t bestOffset = 0;
        if (avail < 2) {
            return {0, 0};
        }
        std::size_t limit = avail < kMaxMatch ? avail : kMaxMatch;
        std::size_t candidate = head_[hash(in[0], in[1])];
        for (std::size_t steps = 0; candidate != kNone && steps < kMaxChain; ++steps) {
            std::size_t length = matchLength(candidate, in, limit);
            if (length > bestLength) {
                bestLength = length;
                bestOffset = candidate;
                if (length == limit) {
                    break;
                }
            }
            candidate = prev_[candidate];
        }
        return {bestOffset, bestLength};
    }

  private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    static std::size_t hash(std::uint8_t a, std::uint8_t b) {
        return static_cast<std::size_t>(a) << 8 | b;
    }

    void link(std::size_t pos) {
        std::size_t h = hash(bytes_[pos], bytes_[(pos + 1) % kDictionarySize]);
        if (head_[h] == pos) {
            return;
        }
        prev_[pos] = head_[h];
        head_[h] = pos;
    }

    // How many bytes a reference at `offset` would reproduce. Bytes at and after the write
    // position are the ones the reference itself writes (the decoder copies one at a time).
    std::size_t matchLength(std::size_t offset, const std::uint8_t* in, std::size_t limit) const {
        std::size_t distance = (write_ + kDictionarySize - offset) % kDictionarySize;
        if (distance == 0) {
            return 0;  // a reference to the write position ends the stream
        }
        std::size_t k = 0;
        for (; k < limit; ++k) {
            std::uint8_t b =
                k < distance ? bytes_[(offset + k) % kDictionarySize] : in[k - distance];
            if (b != in[k]) {
                break;
            }
        }
        return k;
    }

    std::array<std::uint8_t, kDictionarySize> bytes_{};
    std::array<std::size_t, 65536> head_{};
    std::array<std::size_t, kDictionarySize> prev_{};
    std::size_t write_ = 0;
};

}  // namespace

std::string_view rtfInitialDictionary() {
    return std::string_view(kInitialDictionary, sizeof kInitialDictionary - 1);
}

std::uint32_t rtfCrc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc = kCrcTable[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
    }
    return crc;
}

std::vector<std::uint8_t> compressRtf(std::string_view rtf) {
    const auto* in = reinterpret_cast<const std::uint8_t*>(rtf.data());
    const std::size_t size = rtf.size();
    auto dict = std::make_unique<Dictionary>();
    std::vector<std::uint8_t> out(16, 0);
    out.reserve(16 + size + size / 8 + 8);
    std::size_t pos = 0;
    bool ended = false;
    while (!ended) {
        std::size_t control = out.size();
        out.push_back(0);
        for (int bit = 0; bit < 8; ++bit) {
            if (pos >= size) {
                // End of stream: a reference to the current write position.
                std::size_t w = dict->writePosition();
                out[control] = static_cast<std::uint8_t>(out[control] | (1U << bit));
                out.push_back(static_cast<std::uint8_t>(w >> 4));
                out.push_back(static_cast<std::uint8_t>((w & 0xf) << 4));
                ended = true;
                break;
            }
            auto [offset, length] = dict->longestMatch(in + pos, size - pos);
            if (length >= 2) {
                out[control] = static_cast<std::uint8_t>(out[control] | (1U << bit));
                std::size_t word = offset << 4 | (length - 2);
                out.push_back(static_cast<std::uint8_t>(word >> 8));
                out.push_back(static_cast<std::uint8_t>(word));
                for (std::size_t k = 0; k < length; ++k) {
                    dict->put(in[pos + k]);
                }
                pos += length;
            } else {
                out.push_back(in[pos]);
                dict->put(in[pos]);
                ++pos;
            }
        }
    }
    put32(out.data(), static_cast<std::uint32_t>(out.size() - 4));
    put32(out.data() + 4, static_cast<std::uint32_t>(size));
    put32(out.data() + 8, 0x75465a4cU);  // "LZFu"
    put32(out.data() + 12, rtfCrc32(out.data() + 16, out.size() - 16));
    return out;
}

}  // namespace edbforge
