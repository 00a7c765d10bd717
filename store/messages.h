// Message tables: the message index, the attachment list, per-folder item rows and the item
// loader that reads listed items in full.
#pragma once

#include "store/session.h"

namespace store {

// Reads every listed mail item or contact of the scanned folder in full, joined with the
// message index by message id; while saving, hands each to the exporter.
[[nodiscard]] int LoadFolderItems(StoreSession& session);

}  // namespace store
