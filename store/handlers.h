// Record handlers of the scan driver, one per table kind. A handler gets the record (null
// when it could not be fetched) and returns kOk or kFailed; a failed record is left out, the
// walk goes on with the next one and the table's scan then fails with the reason.
#pragma once

#include "store/session.h"

namespace store {

// True for a record that could be fetched and has a value list.
bool HasRecordValues(const ese::Record* record);

[[nodiscard]] int ReadMailboxRecord(StoreSession& session, const ese::Record* record, int keyIndex,
                                    int nameIndex);
[[nodiscard]] int ReadFolderRecord(StoreSession& session, const ese::Record* record, int idIndex,
                                   int parentIdIndex, int mailboxKeyIndex, int nameIndex,
                                   int classIndex);
[[nodiscard]] int ReadMessageIndexRecord(StoreSession& session, const ese::Record* record,
                                         int recordIndex, int idIndex, int attachmentKeysIndex);
// The same from the two values read in place (the id, then the attachment keys), added to
// this index; false, with nothing added, when they need the whole record.
[[nodiscard]] bool ReadMessageIndexValues(MessageIndex& index,
                                          std::span<const ese::StoredValue, 2> values,
                                          int recordIndex);
[[nodiscard]] int ReadAttachmentRecord(StoreSession& session, const ese::Record* record,
                                       int recordIndex, int idIndex, int nameIndex);
// The same from the two values read in place (the id, then the name); false, with nothing
// added, when they need the whole record.
[[nodiscard]] bool ReadAttachmentValues(StoreSession& session,
                                        std::span<const ese::StoredValue, 2> values,
                                        int recordIndex);
[[nodiscard]] int ReadItemRecord(StoreSession& session, const ese::Record* record);

}  // namespace store
