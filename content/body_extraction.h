// An item's bodies ("S1000" plain text, "N1009" compressed RTF, "N1013" HTML) turned into body
// parts, and long values saved into the work folder.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/esedb.h"
#include "store/session.h"

namespace content {

// Body kinds and body part kinds. An empty view stands for "no body column met yet".
inline constexpr std::u16string_view kKindText = u"txt";
inline constexpr std::u16string_view kKindHtml = u"html";
inline constexpr std::u16string_view kKindEmpty = u"empty";

struct BodyPartEntry {
    std::u16string messageKey;  // the item's message id text
    std::u16string text;
    std::u16string_view kind;  // kKindText or kKindHtml
    int segmentIndex = 0;      // the long-value segment the text came from; 0 for RTF
};

// Body bytes to text: UTF-8 when the bytes are well-formed UTF-8, else Windows-1252. NUL and
// other control characters are dropped; tabs and line breaks stay.
std::u16string BodyBytesToText(std::span<const std::uint8_t> bytes);

// Drops the control characters of a text except tab, line feed and carriage return.
std::u16string DropControlCharacters(std::u16string_view text);

// Turns one body column of an item's record into body parts and records its body kind.
// Columns other than "S1000", "N1009" and "N1013" are left alone. Text columns are read in
// their own code page (UTF-16 stays UTF-16); byte columns by BodyBytesToText. A compressed
// RTF body gives one part: the text of the RTF it holds, empty when it does not decompress.
// A long value gives one part per segment with bytes; a value kept in the record gives one
// part with index 0.
void ExtractBodyColumn(const ese::Record& record, int index, std::u16string_view columnName,
                       const std::u16string& messageKey, std::vector<BodyPartEntry>& bodyParts,
                       std::u16string_view& bodyKind);

// Writes the long value of one column into the work folder under the file name, made safe by
// SafeWorkFileName. Values that are not long values are only checked. Returns store::kOk, or
// store::kFailed when the value cannot be read. The progress bar counts the segments in
// rounds of 100.
[[nodiscard]] int SaveLongValueToFile(store::ScanHost& host, const ese::Record& record, int index,
                                      std::u16string_view fileName,
                                      const std::filesystem::path& workFolder);

}  // namespace content
