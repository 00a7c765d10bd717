// Turning record values into text. Every decoder returns newly built text, or no text
// (std::nullopt) on trouble; "no text" is distinct from the empty text. A value without data
// is no trouble: the generic decoder then returns the caller's default text.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "store/esedb.h"

namespace store {

using Text = std::optional<std::u16string>;

// Byte order letters of the name-driven decoders: 'b' big-endian, 'l' little-endian.
// Any other letter makes them return no text.
using ByteOrder = char;

// The generic decoder: any column type to text.
Text RecordValueToText(const ese::Record& record, int index, const Text& defaultText);

// A 64-bit identifier in a binary (9) or currency (5) column, as lower-case hex.
Text IdentifierToText(const ese::Record& record, int index, ByteOrder order,
                      const Text& defaultText);
// The same, written into text, so that a walk through millions of records reuses one string:
// kDefault stands for the default text.
enum class IdentifierText { kNone, kDefault, kText };
IdentifierText IdentifierInto(const ese::Record& record, int index, ByteOrder order,
                              std::u16string& text);
// The same two decoders on a value read in place (ese::Table::storedValues). The generic one
// answers only for values whose text needs nothing but their bytes: nullopt asks for the record
// (long, multi- and compressed values, and text that libesedb has to read).
IdentifierText IdentifierInto(const ese::StoredValue& value, ByteOrder order, std::u16string& text);
std::optional<Text> StoredValueToText(const ese::StoredValue& value, const Text& defaultText);
// The same with no default, into text (empty for none): a scan keeps one string for every
// record. False where StoredValueToText gives nullopt.
bool StoredValueInto(const ese::StoredValue& value, std::u16string& text);
// The number whose lower-case hex digits IdentifierInto writes for a plain 8-byte value, set
// into number; false for any other value.
bool IdentifierNumber(const ese::StoredValue& value, ByteOrder order, std::uint64_t& number);
// The number in lower-case hex digits, without leading zeros, appended to text.
void AppendLowerHex(std::uint64_t value, std::u16string& text);
// The number whose lower-case hex digits, without leading zeros, the text is (what
// AppendLowerHex writes); nullopt for any other text.
std::optional<std::uint64_t> HexNumber(std::u16string_view text);
// A 32-bit unsigned integer in a binary column, in decimal.
Text Integer32ToText(const ese::Record& record, int index, ByteOrder order);
// A FILETIME in a binary (9) or currency (5) column, as the date text.
Text FiletimeBytesToText(const ese::Record& record, int index, ByteOrder order);
// A 16-byte GUID in a binary column, as 8-4-4-4-12 lower-case hex.
Text GuidToText(const ese::Record& record, int index, ByteOrder order);
// Single-byte text (Windows-1252) up to the first NUL; for a multi-value, the first element
// that has data.
Text AnsiValueToText(const ese::Record& record, int index);
// A binary or large binary value taken as a NUL-terminated Windows-1252 string.
Text BytesToAnsiText(const ese::Record& record, int index);
// The bytes of a binary or large binary value, unconverted.
std::optional<ese::Bytes> RawBinaryValue(const ese::Record& record, int index);

// Each byte as two lower-case hex digits; the default text when there are no bytes.
Text BytesToHexText(const Text& defaultText, std::span<const std::uint8_t> bytes);

// The 7-bit packing of compressed ESE text: returns the header byte followed by the unpacked
// characters, one byte each (n packed bytes give 1 + (8n - 8) / 7 bytes).
std::string DecompressSevenBitText(std::span<const std::uint8_t> packed);

// Character cleaning.
// Drops NUL, TAB, LF, CR and backslash.
std::u16string CleanText(std::u16string_view text);
// The same in the text's own room.
std::u16string CleanTextInPlace(std::u16string&& text);
// Keeps only the bytes 1 to 125, each widened to one character.
std::u16string CleanAnsiText(std::string_view bytes);
// Writes the text as UTF-8, skipping NUL, TAB, CR and backslash (LF is written).
void WriteCleanText(std::ostream& out, std::u16string_view text);

}  // namespace store
