// Compressed RTF as Exchange stores it in message bodies (the "LZFu" format of MS-OXRTFCP).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace edbforge {

// The 207 bytes every compressed-RTF dictionary starts with.
std::string_view rtfInitialDictionary();

// CRC-32 of MS-OXRTFCP: the usual reflected table, started at 0 and not inverted at the end.
std::uint32_t rtfCrc32(const std::uint8_t* data, std::size_t size);

// Compresses RTF text: a 16-byte header (compressed size, raw size, "LZFu", CRC of the data
// after the header) followed by runs of eight literal or dictionary-reference tokens and the
// end-of-stream reference.
std::vector<std::uint8_t> compressRtf(std::string_view rtf);

}  // namespace edbforge
