#include "content/compressed_rtf.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace content {
namespace {

constexpr std::size_t kHeaderSize = 16;
// The compressed size field counts the bytes after itself: the other 12 header bytes plus data.
constexpr std::size_t kCompressedSizeFieldSize = 4;
constexpr std::uint32_t kTypeUncompressed = 0x414C454D;  // "MELA"

constexpr std::size_t kDictionarySize = 4096;
constexpr std::string_view kInitialDictionary =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern "
    "\\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0"
    "\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
static_assert(kInitialDictionary.size() == 207);

// One reference token copies at most 17 bytes out of 2 bytes of input; with the control byte's
// share that bounds the output of n data bytes by 9 n.
constexpr std::size_t kMaxExpansion = 9;

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void DecodeTokens(std::span<const std::uint8_t> data, std::size_t raw_size,
                  std::vector<std::uint8_t>& out) {
    std::array<std::uint8_t, kDictionarySize> dictionary{};
    std::copy(kInitialDictionary.begin(), kInitialDictionary.end(), dictionary.begin());
    std::size_t write_pos = kInitialDictionary.size();

    auto put = [&](std::uint8_t b) {
        dictionary[write_pos] = b;
        write_pos = (write_pos + 1) % kDictionarySize;
        out.push_back(b);
    };

    std::size_t d = 0;
    while (d < data.size() && out.size() < raw_size) {
        const std::uint8_t control = data[d++];
        for (int bit = 0; bit < 8; ++bit) {
            if (out.size() >= raw_size) {
                return;
            }
            if ((control & (1u << bit)) == 0) {
                if (d >= data.size()) {
                    return;
                }
                put(data[d++]);
                continue;
            }
            if (d + 2 > data.size()) {
                return;
            }
            const unsigned word = static_cast<unsigned>(data[d]) << 8 | data[d + 1];
            d += 2;
            const std::size_t offset = word >> 4;
            const std::size_t length = (word & 0xF) + 2;
            if (offset == write_pos) {
                return;  // end of the compressed data
            }
            // Byte by byte: a reference that overlaps the write position repeats what it
            // has just written.
            for (std::size_t k = 0; k < length && out.size() < raw_size; ++k) {
                put(dictionary[(offset + k) % kDictionarySize]);
            }
        }
    }
}

}  // namespace

std::optional<std::vector<std::uint8_t>> DecompressRtf(std::span<const std::uint8_t> input) {
    if (input.size() < kHeaderSize) {
        return std::nullopt;
    }
    const std::uint32_t compressed_size = ReadLe32(input, 0);
    const std::uint32_t raw_size = ReadLe32(input, 4);
    const std::uint32_t type = ReadLe32(input, 8);
    if (compressed_size > input.size()) {
        return std::nullopt;
    }
    // Anything beyond the compressed size is padding; a size that claims up to four bytes more
    // than there are is read as far as the input goes.
    const std::size_t data_end =
        std::min<std::size_t>(input.size(), kCompressedSizeFieldSize + compressed_size);
    const std::span<const std::uint8_t> data =
        data_end > kHeaderSize ? input.subspan(kHeaderSize, data_end - kHeaderSize)
                               : std::span<const std::uint8_t>{};

    std::vector<std::uint8_t> out;
    if (type == kTypeUncompressed) {
        const std::size_t n = std::min<std::size_t>(raw_size, data.size());
        out.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        return out;
    }
    out.reserve(std::min<std::size_t>(raw_size, data.size() * kMaxExpansion));
    DecodeTokens(data, raw_size, out);
    return out;
}

}  // namespace content
