// File names that come out of a store: made safe before they name a file of ours.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace content {

// The most UTF-8 bytes a name from the store may take on disk.
inline constexpr std::size_t kMaxStoredFileNameBytes = 200;

// Turns a name taken from the store into one plain file name for the work folder. Path
// separators, ":", "*", "?", '"', "<", ">", "|", ";", control characters and unpaired surrogates
// become "_"; a name of dots only (".", "..") or nothing, a trailing dot or space and the
// device names of Windows are mended as well; a name over kMaxStoredFileNameBytes is cut and
// given a hash of the whole name, keeping a short extension. The same name always gives the
// same result, and a result maps to itself, so whoever looks the file up again by the stored
// name or by this result finds it.
std::u16string SafeWorkFileName(std::u16string_view name);

// The base name of a saved contact page: ":", "/", "\", "*", "?", "<", ">", "|", '"', control
// characters and unpaired surrogates become "-", and the name is cut to
// kMaxStoredFileNameBytes of UTF-8 without splitting a character.
std::u16string ContactPageBaseName(std::u16string_view name);

// Length of the text in UTF-8 (an unpaired surrogate counts 3 bytes).
std::size_t Utf8Length(std::u16string_view text);

}  // namespace content
