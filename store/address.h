// Sender and recipient addresses out of the binary columns that mix display names, address
// types and addresses. The bytes are decoded into an address text (printable ASCII and the
// store's single-byte letters) and addresses picked out with POSIX extended regular
// expressions on single bytes, matched in time linear in the text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Hex digit pairs to the text names and addresses are read from: like HexToPrintableText,
// and a byte above 127 that is a letter in Windows-1252, the code page the store writes these
// names in ("\xfc" is "ü"), stays as that letter when no control byte (below 32, 127, or one
// of the five bytes Windows-1252 leaves unassigned) follows it before the next NUL: the binary
// fields the store puts before each name end in control bytes, and the name follows them.
// The patterns are matched on single bytes with every such letter standing in as a word
// character, so a name keeps all of its letters ("Jürgen Müller", never "Jrgen Mller") and
// matches where its ASCII spelling would.
std::u16string HexToAddressText(std::u16string_view hex);

// The first match of the pattern in a single-byte text, or nothing: the leftmost match and
// the longest from there, as POSIX has it. The text ends at its first NUL.
std::optional<std::string> MatchPattern(std::string_view text,
                                        AddressPattern pattern = AddressPattern::kAddress);

// The pattern as a POSIX extended regular expression (\w for [0-9A-Za-z_]).
const char* AddressPatternText(AddressPattern pattern);

// The sender text ("Name<address>", an address, or the address text as it is).
std::u16string ResolveSenderAddress(std::u16string_view hex);

// One recipient: its display name (empty when the store gives none) and its address.
struct NamedAddress {
    std::u16string name;
    std::u16string address;
};

// Every address found, once each, in the order found, with the name that the store puts
// before it: the text between the previous address and a "<" (the store's " SMTP") right
// before this one.
std::vector<NamedAddress> ResolveRecipients(std::u16string_view hex);

// Every address found, each followed by a comma.
std::u16string ResolveRecipientAddresses(std::u16string_view hex);

}  // namespace store
