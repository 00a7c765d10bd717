// Plain text of an RTF document: the characters of the body, paragraph marks as line feeds and
// tabs as tabs, without font and colour tables, style sheet, document information, headers,
// footers, footnotes, pictures and other destinations.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace content {

// How a conversion ended. Whatever the result, the text produced up to that point stands.
enum class RtfResult : int {
    kOk = 0,
    kGroupUnderflow = 1,       // a "}" with no open group; reading stopped at it
    kNoMemory = 2,             // no memory to open a group
    kUnclosedGroup = 3,        // the input ended inside groups
    kBadHexDigit = 4,          // a "\'" escape followed by something other than two hex digits
    kEndInsideControlWord = 7  // the input ended inside a control word or escape
};

struct RtfText {
    std::u16string text;
    RtfResult result = RtfResult::kOk;
};

// Reads the document from the bytes. Text bytes and "\'xx" escapes are Windows-1252; "\uN"
// gives the UTF-16 unit N (negative N counting from 65536) and skips the fallback that follows
// it, as many characters as the current "\ucN" says (1 unless set; scoped to groups). The text
// is never cut, however long; it cannot outgrow the input.
RtfText RtfToText(std::span<const std::uint8_t> rtf);
RtfText RtfToText(std::string_view rtf);

// Reads the document from a file; nothing when the file cannot be read.
std::optional<RtfText> RtfToText(const std::filesystem::path& file);

}  // namespace content
