// Compressed RTF, the form in which an item's RTF body ("N1009") is stored: a 16-byte header
// (compressed size, raw size, compression type, CRC) followed by LZ77-style tokens over a
// 4096-byte ring dictionary that starts with a fixed RTF preamble (MS-OXRTFCP).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace content {

// Decodes a compressed RTF stream into the RTF it holds.
//
// Returns nothing when the input cannot be a stream: fewer than 16 bytes, or a compressed size
// larger than the input. Otherwise returns the RTF, possibly empty: tokens are decoded until
// the end reference (offset equal to the write position), the raw size or the end of the
// compressed data, whichever comes first. A damaged or truncated stream thus yields what could
// be decoded of it. The CRC is not checked. A "MELA" (uncompressed) stream is copied as is; any
// other compression type is decoded as "LZFu".
//
// The output never exceeds the raw size, and memory is reserved only for what the compressed
// data can actually produce, so a hostile raw size does not cause a huge allocation.
std::optional<std::vector<std::uint8_t>> DecompressRtf(std::span<const std::uint8_t> input);

}  // namespace content
