// Saving the checked mailboxes: mail items as message files through the message-file
// component, contacts as pages, one subfolder per mailbox and folder, with a report of what
// was found, written and skipped.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "content/item_content.h"
#include "export/dispatch.h"
#include "export/ical_writer.h"
#include "export/item_message.h"
#include "store/item_filter.h"
#include "store/session.h"

namespace msgexport {

// Where the exporter's messages go: a message box in the window, standard error in the
// command-line tool.
class ExportUi {
  public:
    virtual ~ExportUi() = default;
    virtual void ShowMessage(std::u16string_view text) = 0;
};

using ComponentFactory = std::function<dispatch::DispatchPtr(std::u16string_view progId)>;

inline constexpr std::u16string_view kNoProfileMessage =
    u"No any Profile Configured in your MS Outlook!\r\n"
    u"Please Configure at least 1 Profile in your MS Outlook.";
inline constexpr std::u16string_view kNoAccountMessage =
    u"Please Configure at least 1 POP3 account in your MS Outlook.\r\n"
    u"And then try to Convert OST to EML.";

// How a mail item is saved: an Outlook message file through the message-file component, or
// an Internet mail file (MIME) through the .eml writer.
enum class MailFormat {
    kMsg,
    kEml,
};

// Saves the mail details read so far as message files in the destination folder. Every call
// sets the component up (for .msg files), handles every entry and releases the component
// again.
class MessageExporter final : public content::MailSaver {
  public:
    MessageExporter(store::ScanHost& host, ExportUi* ui,
                    ComponentFactory factory = dispatch::CreateObject);

    void setDestination(std::filesystem::path folder) { destination_ = std::move(folder); }
    void setMailFormat(MailFormat format) { format_ = format; }
    // The text shown in front of each file name on the status line.
    void setStatusText(std::u16string text) { statusText_ = std::move(text); }

    [[nodiscard]] int ExportPendingItems(store::StoreSession& session,
                                         content::ItemContent& content) override;
    // The contact as a message file of its class in the destination folder.
    platform::Result<> SaveContact(content::ItemContent& content,
                                   const content::ContactCardEntry& card,
                                   const std::filesystem::path& stem) override;

    int mailsWritten = 0;
    // Message files of the other classes written, by kind (kMail unused), and of contacts.
    std::array<int, kItemKindCount> itemsWritten{};
    int contactMessagesWritten = 0;
    // The appointments saved since the last call of TakeCalendarEvents, for the folder's .ics.
    std::vector<icalfile::CalendarEvent> calendarEvents;
    std::vector<std::filesystem::path> written;
    // Set when a save failed and the destination folder turned out not to take any file (a
    // full disk, a folder that became read-only): the remaining items are not tried.
    std::string destinationError;
    std::vector<content::SkippedItem> skipped;  // mail items not saved, and why
    // Mail items saved with parts missing (recovery), and what is missing of each.
    std::vector<content::SkippedItem> partial;

  private:
    // Creates the root object and logs on, then fetches the target folder and its item
    // collection. False when the component cannot be used for this call.
    bool SetUp();
    void SaveEntry(content::ItemContent& content, const content::MailDetailEntry& entry);
    // A name of the text ("Unknown <Unknown>" for none) and the next number with the extension
    // that no file in the destination has; empty when none is free.
    std::filesystem::path FreeFileName(content::ItemContent& content, std::u16string_view base,
                                       std::u16string_view extension);

    store::ScanHost* host_;
    ExportUi* ui_;
    ComponentFactory factory_;
    std::filesystem::path destination_;
    std::u16string statusText_;
    MailFormat format_ = MailFormat::kMsg;
    std::string setUpError_;
    bool loggedOnOnce_ = false;
    dispatch::DispatchHolder root_;
    dispatch::DispatchHolder stores_;
    dispatch::DispatchHolder targetFolder_;
    dispatch::DispatchHolder items_;
    dispatch::DispatchHolder message_;
};

// Whether a file can still be written into the folder; the reason when it cannot.
std::optional<std::string> UnwritableReason(const std::filesystem::path& folder);

// The input of a save: the checked mailboxes and the folders of each.
struct CheckedMailboxEntry {
    std::u16string key;
    std::u16string displayName;
    store::TreeItem treeItem = store::kNoTreeItem;
};

struct ExportFolderEntry {
    std::u16string mailboxKey;
    std::u16string mailboxName;
    store::TreeItem mailboxTreeItem = store::kNoTreeItem;
    std::u16string folderMailboxKey;
    std::u16string folderName;
    std::u16string messageTableName;
    std::u16string folderClass;
    store::TreeItem folderTreeItem = store::kNoTreeItem;
};

struct ExportList {
    std::vector<CheckedMailboxEntry> mailboxes;
    std::vector<ExportFolderEntry> folders;
};

// One entry per checked mailbox (by display name, once), then the folders of each mailbox in
// folder order.
ExportList BuildExportList(const store::StoreModel& model,
                           const std::function<bool(store::TreeItem)>& isChecked);

struct FolderReport {
    std::u16string mailbox;
    std::u16string folder;
    std::filesystem::path path;
    int found = 0;  // records in the folder's table
    int mails = 0;
    int contacts = 0;  // contact pages; each contact has its .vcf and .msg beside the page
    int appointments = 0;
    int tasks = 0;
    int journalEntries = 0;
    int notes = 0;
    int distLists = 0;
    int calendars = 0;  // .ics files: one for a folder with appointments
    std::vector<content::SkippedItem> skipped;
    int skippedCount = 0;  // items and records not saved; some skipped entries stand for several
    int filtered = 0;      // records the item filter left out: not saved, and no failure
    std::string error;     // why the folder could not be read to the end
    // Recovery: records of the folder's table found only by reading every page, and items
    // saved with parts missing, by message id.
    int recovered = 0;
    std::vector<content::SkippedItem> partial;
    // A folder of items that no readable folder table lists ("Recovered items").
    bool unlisted = false;
};

struct SaveReport {
    std::vector<FolderReport> folders;
    bool stopped = false;
    std::string error;               // why the save could not start or run on
    std::filesystem::path manifest;  // the manifest written; empty when the save did not start
    // How the scan the save rests on read the store-wide tables; one that was not read whole
    // means items may be missing from the save even when every folder was saved.
    std::vector<store::TableReading> tables;
    std::string storeWarning;  // the store was not shut down cleanly
    bool recovering = false;
    int mails() const;
    int contacts() const;
    int skipped() const;
    int filtered() const;
    int partial() const;
    int unlisted() const;  // items saved into "Recovered items"
    // "table "Folders": reason" for each store-wide table not read whole.
    std::vector<std::string> unreadTables() const;
    // The sum of one count over the folders, e.g. Total(&FolderReport::appointments).
    int Total(int FolderReport::*count) const;
};

// The summary's count of the other classes: "4 appointments, 3 tasks, 2 journal entries,
// 3 notes and 0 distribution lists as .msg files, 2 calendars as .ics files".
std::string OtherItemsText(const SaveReport& report);

struct SaveRequest {
    std::filesystem::path database;
    std::filesystem::path destinationRoot;
    std::filesystem::path workFolder;
    ExportList exportList;
    store::ItemFilter filter;  // only the items it matches are saved
    bool hashStore = false;    // the manifest gives the store file's SHA-256 too
    MailFormat mailFormat = MailFormat::kMsg;
    // Recovery: items of the message table that no readable folder table lists are saved too,
    // into "Recovered items" (see export/recovered_items.h). Needs a session scanned with
    // recovery.
    bool recover = false;
};

// Saves every folder of the export list into destinationRoot/mailbox/folder, with the manifest
// of every file written at the top of destinationRoot (see export/manifest.h). The session's
// model must hold the scan of the store (mailboxes, folders, message index, attachments);
// its database is opened for the run and released afterwards.
SaveReport RunSave(store::StoreSession& session, const SaveRequest& request, ExportUi* ui,
                   ComponentFactory factory = dispatch::CreateObject);

}  // namespace msgexport
