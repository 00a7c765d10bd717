// Builds ESE databases shaped like Exchange mailbox stores: the "Mailbox", "Folders", "Msg" and
// "1-23" tables, one message table per folder, and a few system-like tables.
//
// A store can be described whole as a Scenario (built in code or read from JSON, see
// scenario_json.h) or streamed through the StoreBuilder calls, which keep nothing but the open
// pages in memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/edbforge/database_writer.h"

namespace edbforge {

// A display name and SMTP address, stored as single-byte (Windows-1252) text. Both are UTF-8
// here.
struct Address {
    std::string displayName;
    std::string email;
};

struct Attachment {
    std::u16string fileName;
    Bytes content;
    std::uint64_t id = 0;  // "Q3f88"; 0 lets the builder number it
};

struct Item {
    std::uint64_t id = 0;                           // "N67b0"; 0 lets the builder number it
    std::optional<std::u16string> messageClass;     // "S1a"; absent for items without a class
    std::optional<std::u16string> subjectPrefix;    // "S3d"
    std::optional<std::u16string> subject;          // "Se1d" (normalized subject)
    std::optional<std::u16string> senderName;       // "S42"
    std::optional<Address> sender;                  // "N67be"
    std::vector<Address> recipients;                // "N67b4"
    std::optional<std::uint64_t> date;              // "T39", FILETIME
    std::optional<std::uint64_t> secondDate;        // "Te06", FILETIME
    std::optional<std::u16string> plainBody;        // "S1000"
    std::optional<std::string> htmlBody;            // "N1013", bytes as given
    std::optional<std::string> rtfBody;             // "N1009", compressed when written
    std::optional<Bytes> rawCompressedRtf;          // "N1009" stored as given (damaged bodies)
    std::optional<std::u16string> appointmentText;  // "S80fd": an appointment's location
    // Class properties of the folder table's row.
    std::optional<std::int32_t> busyStatus;       // "L8205": 0 free, 1 tentative, 2 busy, 3 away
    std::optional<bool> allDay;                   // "B8215"
    std::optional<std::int32_t> taskStatus;       // "L8101": 0 not started ... 4 deferred
    std::optional<double> percentComplete;        // "F8102": 0.0 to 1.0
    std::optional<std::u16string> journalType;    // "S8700", e.g. "Phone call"
    std::optional<std::int32_t> durationMinutes;  // "L8707": a journal entry's duration
    std::vector<Attachment> attachments;
    // Further text columns by name, e.g. the contact columns "S3a09", "S81b0", "S3a06".
    std::vector<std::pair<std::string, std::u16string>> properties;
};

struct Folder {
    std::uint64_t id = 0;        // "Q6748"; its hexadecimal text names the folder's table
    std::uint64_t parentId = 0;  // "Q6749"; 0 leaves it empty
    std::u16string name;         // "S3001"
    std::u16string folderClass;  // "S3613"; empty leaves it out
    std::vector<Item> items;
};

struct Mailbox {
    std::uint64_t id = 0;  // "Q6764"
    std::u16string displayName;
    std::vector<Folder> folders;
};

struct Scenario {
    std::vector<Mailbox> mailboxes;
    WriterOptions options;
};

// Name of the table holding a folder's items: the folder id as hexadecimal text without its
// first digit (at most 14 digits), without leading zeros, upper case, after "1-".
std::string folderTableName(std::uint64_t folderId);

// Attachment key as the item's "N67b3" bytes reveal it: "0" and the hexadecimal attachment id.
std::string attachmentKey(std::uint64_t attachmentId);

// The text column names that Item::properties may use.
const std::vector<std::string>& itemPropertyColumns();

// Value index (column position) of a per-folder table's attachment content and file name.
inline constexpr int kFolderAttachmentDataPosition = 39;
inline constexpr int kFolderAttachmentNamePosition = 42;

class StoreBuilder {
  public:
    explicit StoreBuilder(const std::filesystem::path& path, WriterOptions options = {});
    ~StoreBuilder();

    // Writes the mailbox's record (its folders are added separately).
    void addMailbox(const Mailbox& mailbox);
    // Writes the folder's record and creates its message table.
    void addFolder(std::uint64_t mailboxId, const Folder& folder);
    // Writes the item into the folder's table, "Msg" and (attachments) "1-23".
    // Returns the item's message id.
    std::uint64_t addItem(std::uint64_t folderId, const Item& item);
    void finish();

    DatabaseWriter& database();

    static void build(const Scenario& scenario, const std::filesystem::path& path);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Text conversions used by the builder and its callers.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
// Windows-1252 bytes of UTF-8 text; characters outside the code page become '?'.
std::string utf8ToWindows1252(std::string_view text);

}  // namespace edbforge
