// Which items of a folder the listing and the save take: a date range, sender and subject
// texts and a message class. The command-line tool and the window both build one ItemFilter
// from the texts the user typed; the scan driver applies it to every item record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"
#include "store/model.h"

namespace store {

// The filter's conditions as the user typed them (UTF-8); an empty text sets no condition.
struct ItemFilterTexts {
    std::string since;         // YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, UTC, inclusive
    std::string until;         // the same; a date alone runs to the end of that day
    std::string from;          // part of the sender's name or address
    std::string subject;       // part of the subject
    std::string messageClass;  // "IPM.Note" takes "IPM.Note" and "IPM.Note.SMIME", not "IPM.Notes"

    bool empty() const {
        return since.empty() && until.empty() && from.empty() && subject.empty() &&
               messageClass.empty();
    }
};

// An item passes when it meets every condition that is set. Texts compare without regard to
// case (ASCII, Latin, Greek and Cyrillic letters). An item without a readable date fails a
// date condition.
struct ItemFilter {
    std::optional<std::int64_t> since;  // seconds since 1970-01-01 00:00:00 UTC
    std::optional<std::int64_t> until;
    std::u16string from;          // folded, see FoldCase
    std::u16string subject;       // folded
    std::u16string messageClass;  // folded

    bool empty() const {
        return !since && !until && from.empty() && subject.empty() && messageClass.empty();
    }
    bool Matches(const ListedItem& item) const;
};

// The filter for the texts; a date that cannot be read fails with a reason that names it.
platform::Result<ItemFilter> MakeItemFilter(const ItemFilterTexts& texts);

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS" (a trailing "Z" allowed) as seconds since 1970 UTC; a
// date alone stands for its first second, or with endOfDay for its last.
platform::Result<std::int64_t> ParseFilterDate(std::string_view text, bool endOfDay);

// The list's date text ("Mar 05, 2009 14:07:09") as seconds since 1970 UTC; nothing for any
// other text.
std::optional<std::int64_t> ListDateSeconds(std::u16string_view text);

// The text with its upper-case letters made lower case, for comparisons without regard to
// case: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
std::u16string FoldCase(std::u16string_view text);

}  // namespace store
