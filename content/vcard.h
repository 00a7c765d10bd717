// Contacts as vCard 4.0 (RFC 6350): UTF-8, CRLF line ends, lines folded at 75 octets.
#pragma once

#include <string>
#include <string_view>

#include "content/item_content.h"

namespace content {

// The card's values as one vCard: FN, N, EMAIL, TEL, ORG, TITLE, URL and ADR from the fields
// the card holds ("KIND:group" for a distribution list). FN is the full name, else first and
// last name, else "Unknown".
std::string RenderVCard(const ContactCardEntry& card);

// A text value with "\", ",", ";" and line breaks escaped as RFC 6350 3.4 has it.
std::string EscapeVCardText(std::u16string_view text);

// One content line folded at 75 octets (never inside a UTF-8 sequence) and ended by CRLF.
std::string FoldContentLine(std::string_view line);

}  // namespace content
