// Record handlers that keep nothing yet: every record that could be read is accepted.
#include "store/handlers.h"

namespace store {

int ReadMailboxRecord(StoreSession&, const ese::Record* record, int, int) {
    return record != nullptr ? kOk : kFailed;
}
int ReadFolderRecord(StoreSession&, const ese::Record* record, int, int, int, int, int) {
    return record != nullptr ? kOk : kFailed;
}
int ReadMessageIndexRecord(StoreSession&, const ese::Record* record, int, int, int) {
    return record != nullptr ? kOk : kFailed;
}
int ReadAttachmentRecord(StoreSession&, const ese::Record* record, int, int, int) {
    return record != nullptr ? kOk : kFailed;
}
int ReadItemRecord(StoreSession&, const ese::Record* record) {
    return record != nullptr ? kOk : kFailed;
}
int ReadMsgRecord(StoreSession&, const ese::Record&) {
    return kOk;
}

}  // namespace store
