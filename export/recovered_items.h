// Items that a recovering save finds in the message table but in no folder table it read: a
// folder table that was lost, or a row that was. Each is saved all the same, into "Recovered
// items" under its mailbox when the folder its record names is known, else at the top.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "store/session.h"

namespace msgexport {

struct ExportList;

inline constexpr std::u16string_view kRecoveredItemsFolder = u"Recovered items";

// Unlisted items of one mailbox, or of none that can be told.
struct UnlistedGroup {
    std::u16string mailboxKey;   // empty: the mailbox cannot be told
    std::u16string mailboxName;  // as the export list names it
    std::vector<std::u16string> messageIds;
};

// Adds the message id ("N67b0") of every record of the table, whatever its class: the items
// that the table lists, saved or not.
void AddListedIds(store::StoreSession& session, std::u16string_view tableName,
                  std::set<std::u16string>& ids);

// The items of the message table that none of the listed ids names and that belong to the
// save: those whose folder (the record's "Q6748") is one the export list saves, and, when the
// export list takes every mailbox of the store, those whose folder or its mailbox the store
// does not know (their rows were lost).
// Fails with the reason when the message table cannot be read.
platform::Result<std::vector<UnlistedGroup>> FindUnlistedItems(
    store::StoreSession& session, const ExportList& list, const std::set<std::u16string>& listed);

}  // namespace msgexport
