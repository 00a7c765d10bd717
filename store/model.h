// The store model: what a scan keeps of a database, in record order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace store {

// Handle of a node in the folder tree; the tree's owner decides what the number means.
using TreeItem = std::intptr_t;
inline constexpr TreeItem kNoTreeItem = 0;

struct TableEntry {
    std::int32_t catalogIndex = 0;
    std::u16string name;
};

struct MailboxEntry {
    std::u16string key;
    std::u16string displayName;
    TreeItem treeItem = kNoTreeItem;
};

struct FolderEntry {
    std::u16string id;
    std::u16string parentId;
    std::u16string mailboxKey;
    std::u16string displayName;
    TreeItem treeItem = kNoTreeItem;
    std::u16string messageTableName;
    std::u16string folderClass;
    std::u16string mailboxDisplayName;
};

// Positions by a 32-bit hash. Seal() files every entry under the top bits of its hash, in the
// order added; those added after a seal are still found, by a look at each of them, until the
// next one. Positions must be added in rising order.
class HashedPositions {
  public:
    static std::uint32_t HashOf(std::u16string_view text);
    static std::uint32_t HashOf(std::uint64_t number);

    void Add(std::uint32_t hash, std::size_t position);
    void Add(std::u16string_view text, std::size_t position) { Add(HashOf(text), position); }
    void Seal();
    // Files the positions from sealedCount() up to count as well, each under hashOf(position),
    // for an owner that hashes its entries again instead of adding them one by one; those past
    // the last seal are then its own to look at. Not to be mixed with Add().
    template <class Hash>
    void SealUpTo(std::size_t count, Hash&& hashOf);
    std::size_t sealedCount() const { return sealed_.size(); }
    // Calls found(position) for every position added with this hash, in the order they were
    // added; the caller compares what was hashed.
    template <class Found>
    void ForEach(std::uint32_t hash, Found&& found) const {
        if (!starts_.empty()) {
            const std::size_t bucket = hash >> shift_;
            for (std::uint32_t at = starts_[bucket]; at < starts_[bucket + 1]; ++at) {
                if (sealed_[at].hash == hash) {
                    found(static_cast<std::size_t>(sealed_[at].position));
                }
            }
        }
        for (const Hashed& h : added_) {
            if (h.hash == hash) {
                found(static_cast<std::size_t>(h.position));
            }
        }
    }
    template <class Found>
    void ForEach(std::u16string_view text, Found&& found) const {
        ForEach(HashOf(text), std::forward<Found>(found));
    }

  private:
    struct Hashed {
        std::uint32_t hash = 0;
        std::uint32_t position = 0;
    };
    // Files the sealed entries and count more, newAt(k) for k from 0 on.
    template <class NewAt>
    void File(std::size_t count, NewAt&& newAt);

    std::vector<Hashed> sealed_;         // by bucket, each bucket in the order added
    std::vector<std::uint32_t> starts_;  // of each bucket in sealed_, and the end
    int shift_ = 32;                     // a hash's bucket is hash >> shift_
    std::vector<Hashed> added_;          // since the last seal
};

// A "Msg" record as the message index keeps it; the attachment keys are a view into the index.
struct MessageEntry {
    std::u16string messageId;
    std::int32_t recordIndex = 0;
    std::u16string_view attachmentKeys;  // the "N67b3" text
};

// The "Msg" records a scan found, in record order, with a lookup by message id. A store holds
// millions of them, so each costs a few dozen bytes: an id that is a number in lower-case hex
// digits (as nearly all are) is kept as that number, other ids and the attachment keys lie as
// text back to back in blocks that never move once written, and the lookup is one array of
// (id hash, position) filed by Seal().
class MessageIndex {
  public:
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    MessageEntry operator[](std::size_t position) const;

    // Room for this many more entries, so that a table of known size is indexed without
    // regrowing.
    void Reserve(std::size_t count) { entries_.reserve(entries_.size() + count); }
    void Add(std::u16string_view messageId, std::int32_t recordIndex,
             std::u16string_view attachmentKeys);
    // The same for the id whose text is this number in lower-case hex digits.
    void Add(std::uint64_t messageId, std::int32_t recordIndex, std::u16string_view attachmentKeys);
    // Adds other's entries [from, to), their record indexes moved by recordOffset.
    void Append(const MessageIndex& other, std::size_t from, std::size_t to,
                std::int32_t recordOffset);
    // Files the lookup over every entry added so far. Entries added after it are still found,
    // by a look at each of them, until the next call.
    void Seal();
    // Positions of every entry with this id, in index order.
    std::vector<std::size_t> WithId(std::u16string_view messageId) const;

  private:
    struct Stored {
        std::uint64_t number = 0;  // the id, unless it is kept as text
        std::uint32_t text = 0;    // 0, or 1 + the place in texts_ of what is kept as text
        std::int32_t recordIndex = 0;
    };
    struct StoredText {
        std::uint32_t block = 0;   // the id, then the attachment keys, in blocks_[block]
        std::uint32_t offset = 0;  // from the block's start
        std::uint32_t idLength = 0;
        std::uint32_t keysLength = 0;
    };
    static constexpr std::uint32_t kIdAsText = 0x80000000U;  // in Stored::text
    static constexpr std::size_t kBlockSize = 1 << 16;       // letters

    // Adds an entry: the id as a number, or as text when idText is set.
    void Add(std::uint64_t number, std::optional<std::u16string_view> idText,
             std::int32_t recordIndex, std::u16string_view attachmentKeys);
    // The entry's id when it is kept as text, and its attachment keys.
    std::pair<std::optional<std::u16string_view>, std::u16string_view> TextsOf(
        const Stored& s) const;

    std::vector<std::u16string> blocks_;  // each filled only up to its capacity
    std::vector<Stored> entries_;
    std::vector<StoredText> texts_;
    HashedPositions byId_;
};

// An item as its folder's list shows it, texts the item lacks left empty: what the item filter
// reads and what the save's manifest says of each saved file.
struct ListedItem {
    std::int32_t sequence = 0;  // the list's "S.No": the record's position in its table, from 1
    std::u16string messageId;
    std::u16string messageClass;
    std::u16string from;     // sender name, ";", sender address
    std::u16string subject;  // prefix and subject
    std::u16string date;     // "Mar 05, 2009 14:07:09"
};

// What an item's folder row keeps for its own class, as text; absent when the row has none.
struct ClassValues {
    std::optional<std::u16string> endDate;          // "Te06": the end, due date or second date
    std::optional<std::u16string> location;         // "S80fd": an appointment's location
    std::optional<std::u16string> busyStatus;       // "L8205": 0 free ... 3 away
    std::optional<std::u16string> allDay;           // "B8215": "true" or "false"
    std::optional<std::u16string> taskStatus;       // "L8101": 0 not started ... 4 deferred
    std::optional<std::u16string> percentComplete;  // "F8102": 0.0 to 1.0
    std::optional<std::u16string> journalType;      // "S8700"
    std::optional<std::u16string> duration;         // "L8707": a journal entry's minutes
};

struct ItemEntry {
    std::int32_t sequence = 0;
    std::u16string messageId;
    std::u16string from;
    std::u16string subject;
    std::u16string date;
    std::u16string hasAttachment;
    std::u16string internetMessageId;  // "S1035"; empty when the record has none
    ListedItem listed;
    ClassValues classValues;
};

struct ContactEntry {
    std::u16string messageId;
    std::u16string messageClass;
    ListedItem listed;
};

struct AttachmentEntry {
    std::u16string key;
    std::u16string name;
    std::int32_t recordIndex = 0;
};

class StoreModel {
  public:
    std::vector<TableEntry> tables;
    std::vector<MailboxEntry> mailboxes;
    std::vector<FolderEntry> folders;
    std::vector<ItemEntry> items;
    std::vector<ContactEntry> contacts;
    std::vector<AttachmentEntry> attachments;

    // The message index, in record order, with a lookup by message id.
    const MessageIndex& messages() const { return messages_; }
    MessageIndex& messages() { return messages_; }
    void AddMessage(const MessageEntry& entry) {
        messages_.Add(entry.messageId, entry.recordIndex, entry.attachmentKeys);
    }
    // Positions in messages() of every entry with this id, in index order.
    std::vector<std::size_t> MessagesWithId(std::u16string_view messageId) const {
        return messages_.WithId(messageId);
    }

    // Appends to attachments and indexes the entry's key.
    void AddAttachment(AttachmentEntry entry);
    // Sorts the key lookup over every attachment added so far; until then the keys added since
    // the last call are looked at one by one.
    void SealAttachments() { attachmentKeys_.Seal(); }
    // Positions in attachments of every entry whose key occurs anywhere in the text (an
    // item's attachment keys), in list order.
    std::vector<std::size_t> AttachmentsNamedIn(std::u16string_view keys) const;

    void clear() { *this = StoreModel{}; }

  private:
    MessageIndex messages_;
    // Attachment positions by key, and the lengths the keys have; covers the first
    // indexedAttachments_ entries of attachments.
    HashedPositions attachmentKeys_;
    std::vector<std::size_t> attachmentKeyLengths_;
    std::size_t indexedAttachments_ = 0;
};

// The item being read in full and exported.
struct CurrentItem {
    std::u16string from;
    std::u16string subject;
    std::u16string date;
    std::u16string messageId;
    std::u16string internetMessageId;
    ListedItem listed;
    ClassValues classValues;
};

struct ScanState {
    std::u16string currentFolderClass;
    int exportMode = 0;
    std::int32_t sequence = 0;
    std::int32_t filteredOut = 0;  // records of the folder that the item filter left out
    CurrentItem currentItem;
};

// Column positions (= value indexes) of the columns each table kind reads; -1 = not found.
struct ColumnIndexes {
    // "Mailbox": when a column is missing its value is read at these fixed positions.
    int mailboxKey = 20;   // "Q6764"
    int mailboxName = 29;  // "S3001"
    // "Folders"
    int folderId = -1;          // "Q6748"
    int folderParentId = -1;    // "Q6749"
    int folderMailboxKey = -1;  // "Q6764"
    int folderName = -1;        // "S3001"
    int folderClass = -1;       // "S3613"
    // "Msg"
    int messageId = -1;           // "N67b0"
    int messageAttachments = -1;  // "N67b3"
    // "1-23"
    int attachmentId = -1;    // "Q3f88"
    int attachmentName = -1;  // "S3001"
};

}  // namespace store
