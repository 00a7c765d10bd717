// Sender and recipient addresses out of the binary columns that mix display names, address
// types and addresses. The bytes are made printable and addresses picked out with POSIX
// extended regular expressions, matched in time linear in the text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace store {

// The address patterns, in the order the resolvers try them.
enum class AddressPattern {
    kThreeWordsAndAddress,  // "first middle last@domain.tld"
    kTwoWordsAngleAddress,  // "first last< user@domain.tld"
    kWordAngleAddress,      // "name< user@domain.tld"
    kAddress,               // "user@domain.tld"
    kTwoWords,              // "first last"
    kWordAndSpace,          // "word "
};

// Hex digit pairs to printable text: NUL bytes become spaces, bytes 32..122 stay, all
// others are dropped. Empty or odd-length input gives the empty text.
std::u16string HexToPrintableText(std::u16string_view hex);

// The first match of the pattern in a single-byte text, or nothing: the leftmost match and
// the longest from there, as POSIX has it. The text ends at its first NUL.
std::optional<std::string> MatchPattern(std::string_view text,
                                        AddressPattern pattern = AddressPattern::kAddress);

// The pattern as a POSIX extended regular expression (\w for [0-9A-Za-z_]).
const char* AddressPatternText(AddressPattern pattern);

// The sender text ("Name<address>", an address, or the printable text as it is).
std::u16string ResolveSenderAddress(std::u16string_view hex);

// Every address found, each followed by a comma.
std::u16string ResolveRecipientAddresses(std::u16string_view hex);

}  // namespace store
