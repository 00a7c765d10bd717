// A plain MS-OXRTFCP decoder for checking compressed RTF produced by edbforge.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/edbforge/compressed_rtf.h"

namespace edbforge::testing {

struct DecodedRtf {
    std::uint32_t compressedSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t type = 0;
    std::uint32_t crc = 0;
    std::string text;
    bool sawEnd = false;
};

inline std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(b.at(at + 2)) << 16 |
           static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

// Bit-by-bit CRC-32 (reflected polynomial 0xEDB88320, start 0, no final inversion).
inline std::uint32_t bitwiseCrc(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xedb88320U : crc >> 1;
        }
    }
    return crc;
}

inline DecodedRtf decodeRtf(const std::vector<std::uint8_t>& in) {
    DecodedRtf out;
    if (in.size() < 16) {
        throw std::runtime_error("short header");
    }
    out.compressedSize = le32(in, 0);
    out.rawSize = le32(in, 4);
    out.type = le32(in, 8);
    out.crc = le32(in, 12);
    std::vector<std::uint8_t> dict(4096, 0);
    std::string_view initial = rtfInitialDictionary();
    std::copy(initial.begin(), initial.end(), dict.begin());
    std::size_t write = initial.size();
    std::size_t end = std::size_t{out.compressedSize} + 4;
    if (end > in.size()) {
        throw std::runtime_error("compressed size beyond the data");
    }
    std::size_t pos = 16;
    while (pos < end && !out.sawEnd) {
        std::uint8_t control = in[pos++];
        for (int bit = 0; bit < 8 && pos < end; ++bit) {
            if ((control & (1 << bit)) == 0) {
                out.text.push_back(static_cast<char>(in[pos]));
                dict[write] = in[pos++];
                write = (write + 1) % 4096;
                continue;
            }
            if (pos + 2 > end) {
                throw std::runtime_error("truncated reference");
            }
            std::size_t word = static_cast<std::size_t>(in[pos]) << 8 | in[pos + 1];
            pos += 2;
            std::size_t offset = word >> 4;
            std::size_t length = (word & 0xf) + 2;
            if (offset == write) {
                out.sawEnd = true;
                break;
            }
            for (std::size_t k = 0; k < length; ++k) {
                std::uint8_t b = dict[(offset + k) % 4096];
                out.text.push_back(static_cast<char>(b));
                dict[write] = b;
                write = (write + 1) % 4096;
            }
        }
    }
    return out;
}

}  // namespace edbforge::testing
