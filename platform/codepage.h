// Single-byte text in the Windows "ANSI" code page. We stand in Windows-1252 for it, which
// converts without loss: every byte maps to one UTF-16 unit and back.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Each byte becomes one UTF-16 character of Windows-1252. The five bytes that 1252 leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same value, as
// Windows does, so the conversion is lossless in both directions.
std::u16string Cp1252ToUtf16(std::string_view bytes);

// The reverse; a character outside Windows-1252 becomes '?'.
std::string Utf16ToCp1252(std::u16string_view text);

// UTF-8 <-> UTF-16. Invalid input sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view bytes);
std::string Utf16ToUtf8(std::u16string_view text);

// The text as UTF-16 little-endian bytes, as a Windows "Unicode" file holds it.
std::string Utf16LeBytes(std::u16string_view text);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

}  // namespace platform
