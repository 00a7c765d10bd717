#include "export/export_run.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>

#include "content/work_files.h"
#include "export/compose.h"
#include "export/eml_writer.h"
#include "export/manifest.h"
#include "export/recovered_items.h"
#include "platform/codepage.h"
#include "platform/crt_random.h"
#include "store/messages.h"

namespace msgexport {

namespace {

using dispatch::InvokeKind;
using dispatch::Variant;

dispatch::DispatchPtr Call(dispatch::DispatchObject& object, std::int32_t dispid, InvokeKind kind,
                           std::span<const Variant> args = {}) {
    return dispatch::ResultObject(object.Invoke(dispid, kind, args), dispid);
}

// Rows written while saving (journal rows) have no list to go to.
class DiscardedRows final : public store::ItemListSink {
  public:
    void AppendRow(std::vector<std::u16string>) override {}
};

// Puts a session's content handler, list and filter back when the run ends, however it ends.
class SessionSwap {
  public:
    SessionSwap(store::StoreSession& session, store::ItemContentHandler* content,
                store::ItemListSink* list, const store::ItemFilter* filter)
        : session_(session),
          content_(session.content),
          list_(session.list),
          filter_(session.filter) {
        session.content = content;
        session.list = list;
        session.filter = filter;
    }
    ~SessionSwap() {
        session_.state.exportMode = 0;
        store::ReleaseStore(session_);
        session_.content = content_;
        session_.list = list_;
        session_.filter = filter_;
    }
    SessionSwap(const SessionSwap&) = delete;
    SessionSwap& operator=(const SessionSwap&) = delete;

  private:
    store::StoreSession& session_;
    store::ItemContentHandler* content_;
    store::ItemListSink* list_;
    const store::ItemFilter* filter_;
};

// Records each saved file in the manifest, with the session's current item and the folder
// being saved.
class ManifestRows final : public content::SavedFileObserver {
  public:
    ManifestRows(Manifest& manifest, const store::StoreSession& session)
        : manifest_(manifest), session_(session) {}
    void setFolder(std::u16string mailbox, std::u16string folder) {
        mailbox_ = std::move(mailbox);
        folder_ = std::move(folder);
    }
    platform::Result<> FileSaved(const std::filesystem::path& file) override {
        platform::Result<> added =
            manifest_.Add(mailbox_, folder_, session_.state.currentItem.listed, file);
        if (!added && error.empty()) {
            error = added.error();
        }
        return added;
    }

    std::string error;  // the first row that could not be written

  private:
    Manifest& manifest_;
    const store::StoreSession& session_;
    std::u16string mailbox_;
    std::u16string folder_;
};

// What of the listed table of this name the report takes; 0 when the store has no such table
// or it cannot be read.
template <class What>
int FromListedTable(store::StoreSession& session, std::u16string_view tableName, What&& what) {
    for (const store::TableEntry& entry : session.model.tables) {
        if (entry.name == tableName) {
            try {
                return what(store::OpenListedTable(session, entry));
            } catch (const ese::Error&) {
                return 0;
            }
        }
    }
    return 0;
}

// A subfolder of parent for the name that no other folder of this run uses.
std::filesystem::path UniqueFolder(const std::filesystem::path& parent, std::u16string_view name,
                                   std::set<std::filesystem::path>& used) {
    const std::u16string base = content::SafeWorkFileName(name.empty() ? u"Unknown" : name);
    std::filesystem::path path = parent / base;
    for (int n = 2; used.count(path) != 0; ++n) {
        path = parent / content::SafeWorkFileName(base + u" (" +
                                                  platform::Utf8ToUtf16(std::to_string(n)) + u")");
    }
    used.insert(path);
    return path;
}

template <typename Item>
int CountWithoutRecord(const store::StoreModel& model, const std::vector<Item>& items,
                       std::vector<content::SkippedItem>& skipped) {
    int count = 0;
    for (const Item& item : items) {
        if (model.MessagesWithId(item.messageId).empty()) {
            skipped.push_back({item.messageId, "the item has no record in the message table"});
            ++count;
        }
    }
    return count;
}

// An appointment saved as a message file as an event of the folder's calendar.
icalfile::CalendarEvent CalendarEventOf(const content::MailDetailEntry& entry,
                                        const msgfile::MsgMessage& message) {
    icalfile::CalendarEvent event;
    const std::string id = platform::Utf16ToUtf8(entry.messageId.value_or(u""));
    event.uid = platform::Utf8ToUtf16(id.empty() ? "unknown@edb2msg" : id + "@edb2msg");
    event.summary = entry.subject;
    event.description = message.plainBody;
    const store::ClassValues& values = entry.classValues;
    event.location = values.location;
    event.start = DateTextToUnixTime(entry.date);
    if (values.endDate) {
        event.end = DateTextToUnixTime(*values.endDate);
    }
    event.allDay = values.allDay == u"true";
    if (values.busyStatus) {
        const std::string digits = platform::Utf16ToUtf8(*values.busyStatus);
        if (!digits.empty() && digits.size() < 3 &&
            digits.find_first_not_of("0123456789") == std::string::npos) {
            event.busyStatus = std::stoi(digits);
        }
    }
    if (message.senderAddress || !message.senderName.empty()) {
        event.organizer =
            icalfile::CalendarPerson{message.senderName, message.senderAddress.value_or(u"")};
    }
    for (const msgfile::MsgRecipient& recipient : message.recipients) {
        event.attendees.push_back({recipient.displayName, recipient.address});
    }
    return event;
}

// Writes the folder's appointments as one calendar file beside their message files and
// records it with no item of its own; the reason when it could not.
platform::Result<> SaveCalendar(store::StoreSession& session, content::ItemContent& content,
                                const std::u16string& folderClass, const std::u16string& folderName,
                                const std::vector<icalfile::CalendarEvent>& events) {
    std::string text;
    try {
        text = icalfile::RenderCalendar(events, static_cast<std::int64_t>(std::time(nullptr)));
    } catch (const std::exception& e) {
        return platform::Failure(e.what());
    }
    store::ListedItem& current = session.state.currentItem.listed;
    current = store::ListedItem{};
    current.messageClass = folderClass;
    current.subject = folderName;
    platform::Result<std::filesystem::path> saved = content.SaveNewFile(folderName, u".ics", text);
    if (!saved) {
        return platform::Failure(saved.error());
    }
    return {};
}

}  // namespace

std::optional<std::string> UnwritableReason(const std::filesystem::path& folder) {
    const std::filesystem::path probe = folder / (".edb2msg-probe-" + std::to_string(::getpid()));
    std::FILE* file = std::fopen(probe.c_str(), "wbx");
    if (file == nullptr) {
        return std::string(std::strerror(errno));
    }
    // A little more than a small message, so that a disk with a few bytes left counts as full.
    const std::string block(16384, '\0');
    const bool written =
        std::fwrite(block.data(), 1, block.size(), file) == block.size() && std::fflush(file) == 0;
    const int error = errno;
    const bool closed = std::fclose(file) == 0;
    std::error_code ec;
    std::filesystem::remove(probe, ec);
    if (!written || !closed) {
        return std::string(std::strerror(error != 0 ? error : EIO));
    }
    return std::nullopt;
}

MessageExporter::MessageExporter(store::ScanHost& host, ExportUi* ui, ComponentFactory factory)
    : host_(&host), ui_(ui), factory_(std::move(factory)) {}

bool MessageExporter::SetUp() {
    auto show = [this](std::u16string_view text) {
        if (ui_ != nullptr) {
            ui_->ShowMessage(text);
        }
    };
    if (root_.empty()) {
        dispatch::DispatchPtr root = factory_ ? factory_(kComponentProgId) : nullptr;
        if (!root) {
            setUpError_ = "the message-file component could not be created";
            return false;
        }
        root_ = std::move(root);
    }
    try {
        const std::array<Variant, 6> none{};
        root_->Invoke(member::kLogon, InvokeKind::kMethod, none);
        stores_ = Call(*root_.get(), member::kSessionInfo, InvokeKind::kGet);
        loggedOnOnce_ = true;
    } catch (const dispatch::DispatchError& e) {
        if (!loggedOnOnce_) {
            show(kNoProfileMessage);
            root_.Release();
            setUpError_ = std::string("the message-file component could not log on: ") + e.what();
            return false;
        }
    }
    try {
        const Variant kind = Variant::Int(msgfile::kTargetFolderKind);
        targetFolder_ = Call(*root_.get(), member::kDefaultFolder, InvokeKind::kMethod,
                             std::span<const Variant>(&kind, 1));
    } catch (const dispatch::DispatchError& e) {
        show(kNoAccountMessage);
        root_.Release();
        setUpError_ =
            std::string("the message-file component has no folder to work in: ") + e.what();
        return false;
    }
    try {
        items_ = Call(*targetFolder_.get(), member::kItems, InvokeKind::kGet);
    } catch (const dispatch::DispatchError& e) {
        root_.Release();
        setUpError_ = std::string("the message-file component has no item collection: ") + e.what();
        return false;
    }
    return true;
}

std::filesystem::path MessageExporter::FreeFileName(content::ItemContent& content,
                                                    std::u16string_view text,
                                                    std::u16string_view extension) {
    // Never over an existing file: a name that is taken draws the next number.
    const std::u16string base = text.empty() ? u"Unknown <Unknown>" : std::u16string(text);
    constexpr int kMaxAttempts = 2 * (platform::CrtRandom::kMax + 1);
    std::error_code ec;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        std::filesystem::path path =
            destination_ / content::SavedFileName(base, content.random().next(), extension);
        // A link counts as taken, whether or not it leads anywhere.
        if (std::filesystem::symlink_status(path, ec).type() ==
            std::filesystem::file_type::not_found) {
            return path;
        }
    }
    return {};
}

void MessageExporter::SaveEntry(content::ItemContent& content,
                                const content::MailDetailEntry& entry) {
    const std::u16string id = entry.messageId.value_or(u"");
    if (!destinationError.empty()) {
        skipped.push_back({id, destinationError});
        return;
    }
    std::filesystem::path path;
    const ItemKind kind = KindOfClass(entry.messageClass);
    try {
        if (kind != ItemKind::kMail) {
            // Items of other classes are message files of their own class, whatever the mail
            // format.
            const msgfile::MsgMessage message =
                ComposeItemMessage(entry, kind, content.bodyParts, content.workFolder());
            path = FreeFileName(content, entry.subject, u".msg");
            if (path.empty()) {
                skipped.push_back({id, "no free file name in " + destination_.string()});
                return;
            }
            host_->SetStatus(statusText_ + u"\\ " + path.filename().u16string() + u"]");
            msgfile::WriteMsgFile(message, path);
            if (kind == ItemKind::kAppointment) {
                calendarEvents.push_back(CalendarEventOf(entry, message));
            }
        } else if (format_ == MailFormat::kEml) {
            const emlfile::EmlMessage message =
                ComposeEmlMessage(entry, content.bodyParts, content.workFolder());
            path = FreeFileName(content, entry.subject, u".eml");
            if (path.empty()) {
                skipped.push_back({id, "no free file name in " + destination_.string()});
                return;
            }
            host_->SetStatus(statusText_ + u"\\ " + path.filename().u16string() + u"]");
            if (auto saved = emlfile::WriteEmlFile(message, path); !saved) {
                throw std::runtime_error(saved.error());
            }
        } else {
            const Variant itemKind = Variant::Int(0);
            message_ = Call(*items_.get(), member::kAddItem, InvokeKind::kMethod,
                            std::span<const Variant>(&itemKind, 1));
            ComposeMessage(*message_.get(), entry, content.bodyParts, content.workFolder());
            path = FreeFileName(content, entry.subject, u".msg");
            if (path.empty()) {
                skipped.push_back({id, "no free file name in " + destination_.string()});
                return;
            }
            host_->SetStatus(statusText_ + u"\\ " + path.filename().u16string() + u"]");
            const std::array<Variant, 2> args = {Variant::String(path.u16string()),
                                                 Variant::Int(msgfile::kSaveAsMsg)};
            message_->Invoke(member::kSaveAs, InvokeKind::kMethod, args);
        }
        if (const platform::Result<> recorded = content.RecordSavedFile(path); !recorded) {
            // The file is gone again; a manifest that cannot be written ends the run.
            skipped.push_back({id, recorded.error()});
            destinationError = recorded.error();
            if (kind == ItemKind::kAppointment) {
                calendarEvents.pop_back();
            }
            return;
        }
        if (kind == ItemKind::kMail) {
            ++mailsWritten;
        } else {
            ++itemsWritten[static_cast<std::size_t>(kind)];
        }
        written.push_back(path);
    } catch (const std::exception& e) {
        skipped.push_back({id, path.empty() ? std::string(e.what())
                                            : "cannot save " + path.string() + ": " + e.what()});
        if (auto reason = UnwritableReason(destination_)) {
            destinationError = "cannot write into " + destination_.string() + ": " + *reason;
        }
    }
}

platform::Result<> MessageExporter::SaveContact(content::ItemContent& content,
                                                const content::ContactCardEntry& card,
                                                const std::filesystem::path& stem) {
    if (!destinationError.empty()) {
        return platform::Failure(destinationError);
    }
    const std::u16string base = card.values[content::kFullName].value_or(u"") +
                                card.values[content::kLastName].value_or(u"");
    std::filesystem::path path;
    std::error_code ec;
    if (!stem.empty()) {
        path = destination_ / stem;
        path += ".msg";
        if (std::filesystem::symlink_status(path, ec).type() !=
            std::filesystem::file_type::not_found) {
            path.clear();
        }
    }
    if (path.empty()) {
        path = FreeFileName(content, base, u".msg");
    }
    if (path.empty()) {
        return platform::Failure("no free file name in " + destination_.string());
    }
    try {
        // Never replaces a file: one that appeared meanwhile makes this fail.
        msgfile::WriteMsgFile(ComposeContactMessage(card), path);
    } catch (const std::exception& e) {
        return platform::Failure(e.what());
    }
    if (platform::Result<> recorded = content.RecordSavedFile(path); !recorded) {
        destinationError = recorded.error();
        return recorded;
    }
    ++contactMessagesWritten;
    written.push_back(path);
    return {};
}

int MessageExporter::ExportPendingItems(store::StoreSession& session,
                                        content::ItemContent& content) {
    const std::size_t skippedBefore = skipped.size();
    const int writtenBefore = mailsWritten;
    // What recovery brought back of this item's long values only in part.
    const std::vector<std::string> losses =
        session.database ? session.database->TakeLosses() : std::vector<std::string>{};
    if (content.mailDetails.empty()) {
        std::string reason = "the item's record in the message table could not be read";
        if (!session.lastError.empty()) {
            reason += ": " + session.lastError;
        }
        skipped.push_back({session.state.currentItem.messageId, std::move(reason)});
    }
    setUpError_.clear();
    // Internet mail files need no component.
    if (format_ == MailFormat::kEml || SetUp()) {
        while (!content.mailDetails.empty()) {
            SaveEntry(content, content.mailDetails.front());
            content.mailDetails.erase(content.mailDetails.begin());
        }
    }
    root_.Release();
    for (const content::MailDetailEntry& entry : content.mailDetails) {
        skipped.push_back({entry.messageId.value_or(u""), setUpError_});
    }
    content.mailDetails.clear();
    // Parts of items that were not composed must not reach the next message.
    content.bodyParts.clear();
    if (!losses.empty() && mailsWritten > writtenBefore) {
        std::string missing = "saved in part:";
        for (const std::string& loss : losses) {
            missing += (missing.back() == ':' ? " " : "; ") + loss;
        }
        partial.push_back({session.state.currentItem.messageId, std::move(missing)});
    }
    return skipped.size() == skippedBefore ? store::kOk : store::kFailed;
}

ExportList BuildExportList(const store::StoreModel& model,
                           const std::function<bool(store::TreeItem)>& isChecked) {
    auto orUnknown = [](const std::u16string& text) {
        return text.empty() ? std::u16string(u"Unknown") : text;
    };
    ExportList list;
    for (const store::MailboxEntry& mailbox : model.mailboxes) {
        if (!isChecked(mailbox.treeItem)) {
            continue;
        }
        bool known = false;
        for (const CheckedMailboxEntry& checked : list.mailboxes) {
            known = known || checked.displayName == mailbox.displayName;
        }
        if (!known) {
            list.mailboxes.push_back({mailbox.key, mailbox.displayName, mailbox.treeItem});
        }
        for (const store::FolderEntry& folder : model.folders) {
            if (folder.mailboxKey == mailbox.key) {
                list.folders.push_back({orUnknown(mailbox.key), orUnknown(mailbox.displayName),
                                        mailbox.treeItem, folder.mailboxKey,
                                        orUnknown(folder.displayName),
                                        orUnknown(folder.messageTableName),
                                        orUnknown(folder.folderClass), folder.treeItem});
            }
        }
    }
    return list;
}

int SaveReport::Total(int FolderReport::*count) const {
    int n = 0;
    for (const FolderReport& f : folders) {
        n += f.*count;
    }
    return n;
}

int SaveReport::mails() const {
    return Total(&FolderReport::mails);
}

int SaveReport::contacts() const {
    return Total(&FolderReport::contacts);
}

int SaveReport::skipped() const {
    return Total(&FolderReport::skippedCount);
}

int SaveReport::partial() const {
    int n = 0;
    for (const FolderReport& f : folders) {
        n += static_cast<int>(f.partial.size());
    }
    return n;
}

int SaveReport::unlisted() const {
    int n = 0;
    for (const FolderReport& f : folders) {
        n += f.unlisted ? f.mails + f.contacts + f.appointments + f.tasks + f.journalEntries +
                              f.notes + f.distLists
                        : 0;
    }
    return n;
}

std::vector<std::string> SaveReport::unreadTables() const {
    std::vector<std::string> out;
    for (const store::TableReading& t : tables) {
        if (!t.error.empty()) {
            const std::string name = platform::Utf16ToUtf8(t.table);
            // The reason names the table already when it comes from the scan driver.
            out.push_back(t.error.starts_with("table \"" + name + "\"")
                              ? t.error
                              : "table \"" + name + "\": " + t.error);
        }
    }
    return out;
}

int SaveReport::filtered() const {
    return Total(&FolderReport::filtered);
}

std::string OtherItemsText(const SaveReport& report) {
    auto count = [&report](int FolderReport::*field, const char* noun) {
        return std::to_string(report.Total(field)) + " " + noun;
    };
    return count(&FolderReport::appointments, "appointments") + ", " +
           count(&FolderReport::tasks, "tasks") + ", " +
           count(&FolderReport::journalEntries, "journal entries") + ", " +
           count(&FolderReport::notes, "notes") + " and " +
           count(&FolderReport::distLists, "distribution lists") + " as .msg files, " +
           count(&FolderReport::calendars, "calendars") + " as .ics files";
}

SaveReport RunSave(store::StoreSession& session, const SaveRequest& request, ExportUi* ui,
                   ComponentFactory factory) {
    SaveReport report;
    content::ItemContent itemContent(request.workFolder);
    MessageExporter exporter(*session.host, ui, std::move(factory));
    exporter.setMailFormat(request.mailFormat);
    itemContent.setMailSaver(&exporter);
    DiscardedRows rows;
    SessionSwap swap(session, &itemContent, &rows,
                     request.filter.empty() ? nullptr : &request.filter);

    std::error_code ec;
    std::filesystem::create_directories(request.destinationRoot, ec);
    if (!std::filesystem::is_directory(request.destinationRoot, ec)) {
        report.error = "cannot create the folder " + request.destinationRoot.string();
        return report;
    }
    // The records are numbered as the scan numbered them only when read the same way.
    session.recover = request.recover;
    if (store::OpenStore(session, request.database) != store::kOk) {
        report.error = "cannot open " + request.database.string() + ": " + session.lastError;
        return report;
    }
    // Stop pauses the reading of the store as it pauses the save.
    const auto keepGoing = [&session] { return session.KeepGoing(); };
    if (request.hashStore) {
        session.host->SetStatus(u"Status: Reading the store for its SHA-256");
    }
    platform::Result<Manifest> manifest =
        Manifest::Create(request.destinationRoot, request.database, request.hashStore, keepGoing);
    if (!manifest) {
        if (!keepGoing()) {
            report.stopped = true;
        } else {
            report.error = "cannot start the manifest: " + manifest.error();
        }
        return report;
    }
    report.manifest = manifest->path();
    ManifestRows manifestRows(*manifest, session);
    itemContent.setSavedFileObserver(&manifestRows);

    session.state.exportMode = 1;
    report.tables = session.tableReadings;
    report.storeWarning = session.storeWarning;
    report.recovering = request.recover;
    std::set<std::filesystem::path> usedMailboxes;
    std::set<std::filesystem::path> usedFolders;
    std::map<std::u16string, std::filesystem::path> mailboxFolders;
    std::set<std::u16string> listedIds;  // every item a folder table of this save listed
    // Saves one folder: its items are listed by `list` (a scan of its table), then read in full
    // and saved. False when the run must end.
    auto saveFolder = [&](FolderReport& folder, const std::u16string& mailboxKey,
                          const std::u16string& folderClass, const std::u16string& tableName,
                          const std::function<void()>& list) {
        auto [mailboxFolder, added] = mailboxFolders.try_emplace(mailboxKey);
        if (added) {
            mailboxFolder->second =
                mailboxKey.empty()
                    ? request.destinationRoot
                    : UniqueFolder(request.destinationRoot, folder.mailbox, usedMailboxes);
        }
        // Items of no known mailbox go to the top, beside the mailboxes' folders.
        folder.path = UniqueFolder(mailboxFolder->second, folder.folder,
                                   mailboxKey.empty() ? usedMailboxes : usedFolders);
        std::filesystem::create_directories(folder.path, ec);
        if (!std::filesystem::is_directory(folder.path, ec)) {
            // The destination no longer takes anything: end the run, saying what was written.
            report.error = "cannot create the folder " + folder.path.string() +
                           (ec ? ": " + ec.message() : std::string());
            return false;
        }
        itemContent.setSaveFolder(folder.path);
        exporter.setDestination(folder.path);
        const std::u16string status = u"Status: Saving " + folder.folder;
        exporter.setStatusText(status);
        session.host->SetStatus(status);
        manifestRows.setFolder(folder.mailbox, folder.folder);

        session.model.items.clear();
        session.model.contacts.clear();
        session.state.sequence = 0;
        session.state.filteredOut = 0;
        session.state.currentFolderClass = folderClass;
        folder.found = FromListedTable(session, tableName,
                                       [](const ese::Table& t) { return t.recordCount(); });
        list();
        folder.filtered = session.state.filteredOut;
        const int listed =
            static_cast<int>(session.model.items.size() + session.model.contacts.size());
        int skippedCount =
            CountWithoutRecord(session.model, session.model.items, folder.skipped) +
            CountWithoutRecord(session.model, session.model.contacts, folder.skipped);
        if (listed + folder.filtered < folder.found) {
            const int rest = folder.found - listed - folder.filtered;
            const std::string reason =
                folder.error.empty() ? " record(s) of this folder could not be read"
                                     : " record(s) of this folder were not read: " + folder.error;
            folder.skipped.push_back({u"", std::to_string(rest) + reason});
            skippedCount += rest;
        }
        if (session.database) {
            (void)session.database->TakeLosses();  // those of the listing, not of an item
        }
        if (store::LoadFolderItems(session) != store::kOk && folder.error.empty()) {
            folder.error = session.lastError;
        }
        if (!exporter.calendarEvents.empty()) {
            if (platform::Result<> saved = SaveCalendar(session, itemContent, folderClass,
                                                        folder.folder, exporter.calendarEvents);
                !saved) {
                itemContent.skipped.push_back(
                    {u"", "the folder's calendar file could not be saved: " + saved.error()});
            } else {
                folder.calendars = 1;
            }
            exporter.calendarEvents.clear();
        }
        folder.mails = exporter.mailsWritten;
        folder.contacts = itemContent.contactPagesWritten;
        folder.partial = std::move(exporter.partial);
        exporter.partial.clear();
        const auto& items = exporter.itemsWritten;
        folder.appointments = items[static_cast<std::size_t>(ItemKind::kAppointment)];
        folder.tasks = items[static_cast<std::size_t>(ItemKind::kTask)];
        folder.journalEntries = items[static_cast<std::size_t>(ItemKind::kJournal)];
        folder.notes = items[static_cast<std::size_t>(ItemKind::kNote)];
        folder.distLists = items[static_cast<std::size_t>(ItemKind::kDistList)];
        const bool pageTrouble = !itemContent.skipped.empty();
        for (auto* skippedList : {&exporter.skipped, &itemContent.skipped}) {
            skippedCount += static_cast<int>(skippedList->size());
            folder.skipped.insert(folder.skipped.end(), skippedList->begin(), skippedList->end());
            skippedList->clear();
        }
        folder.skippedCount = skippedCount;
        if (!manifestRows.error.empty()) {
            report.error = manifestRows.error;
        } else if (!exporter.destinationError.empty()) {
            report.error = exporter.destinationError;
        } else if (pageTrouble) {
            if (auto reason = UnwritableReason(folder.path)) {
                report.error = "cannot write into " + folder.path.string() + ": " + *reason;
            }
        }
        exporter.mailsWritten = 0;
        exporter.itemsWritten = {};
        exporter.contactMessagesWritten = 0;
        itemContent.contactPagesWritten = 0;
        itemContent.contactCardsWritten = 0;
        session.model.items.clear();
        session.model.contacts.clear();
        itemContent.mailDetails.clear();
        itemContent.contactCards.clear();
        itemContent.bodyParts.clear();
        return report.error.empty();
    };
    auto cancelled = [&] {
        if (session.token != nullptr && session.token->cancelled()) {
            report.stopped = true;
        }
        return report.stopped;
    };
    for (const ExportFolderEntry& entry : request.exportList.folders) {
        if (cancelled()) {
            break;
        }
        FolderReport folder;
        folder.mailbox = entry.mailboxName;
        folder.folder = entry.folderName;
        const bool goOn =
            saveFolder(folder, entry.mailboxKey, entry.folderClass, entry.messageTableName, [&] {
                if (store::ScanTableByName(session, entry.messageTableName) != store::kOk) {
                    folder.error = session.lastError;
                }
                // Records of the table found only by reading every page of the file.
                folder.recovered = FromListedTable(
                    session, entry.messageTableName,
                    [](const ese::Table& t) { return static_cast<int>(t.reading().recovered); });
                if (request.recover) {
                    AddListedIds(session, entry.messageTableName, listedIds);
                }
            });
        report.folders.push_back(std::move(folder));
        if (!goOn || cancelled()) {
            return report;
        }
    }
    // Items of the message table that no folder table listed: saved all the same.
    if (!request.recover || !request.filter.empty()) {
        return report;
    }
    platform::Result<std::vector<UnlistedGroup>> unlisted =
        FindUnlistedItems(session, request.exportList, listedIds);
    if (!unlisted) {
        report.error = "the items no folder lists could not be looked for: " + unlisted.error();
        return report;
    }
    for (const UnlistedGroup& group : *unlisted) {
        if (cancelled()) {
            break;
        }
        FolderReport folder;
        folder.mailbox = group.mailboxName;
        folder.folder = std::u16string(kRecoveredItemsFolder);
        folder.unlisted = true;
        const bool goOn = saveFolder(folder, group.mailboxKey, u"Folder", u"", [&] {
            for (const std::u16string& id : group.messageIds) {
                store::ItemEntry item;
                item.messageId = id;
                item.listed.messageId = id;
                item.listed.sequence = ++session.state.sequence;
                session.model.items.push_back(std::move(item));
            }
            folder.found = static_cast<int>(group.messageIds.size());
        });
        report.folders.push_back(std::move(folder));
        if (!goOn) {
            break;
        }
    }
    return report;
}

}  // namespace msgexport
