// Record handlers that keep nothing yet: every record is accepted.
#include "store/handlers.h"

namespace store {

int ReadMailboxRecord(StoreSession&, const ese::Record*, int, int) { return kOk; }
int ReadFolderRecord(StoreSession&, const ese::Record*, int, int, int, int, int) { return kOk; }
int ReadMessageIndexRecord(StoreSession&, const ese::Record*, int, int, int) { return kOk; }
int ReadAttachmentRecord(StoreSession&, const ese::Record*, int, int, int) { return kOk; }
int ReadItemRecord(StoreSession&, const ese::Record*) { return kOk; }
int ReadMsgRecord(StoreSession&, const ese::Record&) { return kOk; }

}  // namespace store
