// File names that come out of a store: made safe before they name a file of ours.
#pragma once

#include <cstddef>
#include <set>
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

// SafeWorkFileName of the name, unless one of the names already taken has it: then that of the
// name with " (2)", " (3)", ... before its extension, the first that is free. The result is
// added to taken. Two attachments of one item that share a name, or whose names are made safe
// alike ("a:b.txt", "a_b.txt"), so get a work file each.
std::u16string UniqueWorkFileName(std::u16string_view name, std::set<std::u16string>& taken);

// The name of a saved page or message file: the base name (a contact's name, a subject) with
// ":", "/", "\\", "*", "?", "<", ">", "|", '"', control characters and unpaired surrogates
// turned into "-", then the number in decimal and the extension. The base is cut, never
// splitting a character, so that the whole name stays within kMaxStoredFileNameBytes of UTF-8.
std::u16string SavedFileName(std::u16string_view base, int number, std::u16string_view extension);

// Length of the text in UTF-8 (an unpaired surrogate counts 3 bytes).
std::size_t Utf8Length(std::u16string_view text);

}  // namespace content
