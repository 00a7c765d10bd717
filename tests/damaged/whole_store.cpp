#include "whole_store.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "content/item_content.h"
#include "export/export_run.h"
#include "export/message_component.h"
#include "platform/codepage.h"
#include "store/messages.h"
#include "store/session.h"

namespace damaged {
namespace {

class QuietUi final : public msgexport::ExportUi {
  public:
    void ShowMessage(std::u16string_view) override {}
};

class CountingList final : public store::ItemListSink {
  public:
    void AppendRow(std::vector<std::u16string>) override { ++rows; }
    std::size_t rows = 0;
};

std::string Narrow(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

// Runs one step; a failure, or an error text left behind by a step that went on, is noted.
template <class Step>
bool Run(store::StoreSession& session, StoreReading& reading, const std::string& what,
         Step&& step) {
    session.lastError.clear();
    const bool ok = step() == store::kOk;
    if (!session.lastError.empty()) {
        reading.failures.push_back(what + ": " + session.lastError);
    } else if (!ok) {
        reading.silentFailures.push_back(what);
    }
    return ok;
}

// Records of a CSV file (RFC 4180: a line break inside quotes belongs to its field).
int CsvRecordCount(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    int records = 0;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\n' && !quoted) {
            ++records;
        }
    }
    return records;
}

}  // namespace

StoreReading ReadWholeStore(const std::filesystem::path& storePath,
                            const std::filesystem::path& workFolder) {
    StoreReading reading;
    store::NullScanHost host;
    CountingList list;
    content::ItemContent content(workFolder);
    store::StoreSession session(host, nullptr, &list, &content);

    // The scan: open, list the tables, then "Mailbox", "Folders", "Msg" and "1-23". A failure
    // ends the scan, except in "Msg", whose result the scan does not look at.
    reading.opened = Run(session, reading, "open", [&] { return OpenStore(session, storePath); });
    if (!reading.opened) {
        return reading;
    }
    if (Run(session, reading, "table list", [&] { return ListTables(session); })) {
        for (std::u16string_view table : {u"Mailbox", u"Folders", u"Msg", u"1-23"}) {
            const bool ok = Run(session, reading, "scan of " + Narrow(table),
                                [&] { return ScanTableByName(session, table); });
            if (!ok && table != u"Msg") {
                break;
            }
        }
    }
    store::ReleaseStore(session);
    reading.tables = session.model.tables.size();
    reading.mailboxes = session.model.mailboxes.size();
    reading.folders = session.model.folders.size();
    reading.messages = session.model.messages().size();
    reading.attachments = session.model.attachments.size();

    // Every folder listed as a click on it lists it: its table scanned, then its items read.
    const std::vector<store::FolderEntry> folders = session.model.folders;
    for (const store::FolderEntry& folder : folders) {
        session.model.items.clear();
        session.model.contacts.clear();
        session.state.sequence = 0;
        session.state.currentFolderClass = folder.folderClass;
        const std::string what = "folder " + Narrow(folder.messageTableName);
        if (!Run(session, reading, what + " open", [&] { return OpenStore(session, storePath); })) {
            continue;
        }
        const std::size_t before = content.mailDetails.size() + content.contactCards.size();
        Run(session, reading, what + " listing",
            [&] { return ScanTableByName(session, folder.messageTableName); });
        reading.listedItems += session.model.items.size() + session.model.contacts.size();
        Run(session, reading, what + " items", [&] { return LoadFolderItems(session); });
        store::ReleaseStore(session);
        reading.readByTable[folder.messageTableName] +=
            content.mailDetails.size() + content.contactCards.size() - before;
    }
    reading.itemsRead = content.mailDetails.size() + content.contactCards.size();
    for (const content::MailDetailEntry& mail : content.mailDetails) {
        reading.readIds.insert(mail.messageId.value_or(u""));
    }
    for (const content::ContactCardEntry& card : content.contactCards) {
        reading.readIds.insert(card.messageId.value_or(u""));
    }
    for (const content::BodyPartEntry& part : content.bodyParts) {
        reading.bodyParts += part.text.empty() ? 0 : 1;
    }
    return reading;
}

SavedFiles CountSavedFiles(const std::filesystem::path& destination) {
    SavedFiles files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(destination, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory()) {
            continue;
        }
        const std::filesystem::path& file = it->path();
        if (file == destination / "manifest.csv") {
            continue;
        }
        if (file.extension() == ".msg") {
            ++files.msgFiles;
        } else if (file.extension() == ".html") {
            ++files.htmlFiles;
        } else if (file.extension() == ".vcf") {
            ++files.vcfFiles;
        } else if (file.extension() == ".ics") {
            ++files.icsFiles;
        } else {
            files.otherFiles.push_back(file.string());
        }
    }
    return files;
}

StoreExport ExportWholeStore(const std::filesystem::path& storePath,
                             const std::filesystem::path& destination,
                             const std::filesystem::path& workFolder, bool recover) {
    msgfile::RegisterMessageFileComponent();
    StoreExport saved;
    store::NullScanHost host;
    store::StoreSession session(host, nullptr);
    session.recover = recover;
    // The scan the save needs: the same steps as the window's, where a failure leaves the
    // model as far as it came.
    if (OpenStore(session, storePath) != store::kOk || ListTables(session) != store::kOk) {
        saved.error = "scan: " + session.lastError;
        return saved;
    }
    for (std::u16string_view table : {u"Mailbox", u"Folders", u"Msg", u"1-23"}) {
        if (ScanTableByName(session, table) != store::kOk && table != u"Msg" && !recover) {
            saved.error = "scan of " + Narrow(table) + ": " + session.lastError;
            break;
        }
    }
    store::ReleaseStore(session);

    QuietUi ui;
    const msgexport::SaveRequest request{
        storePath,
        destination,
        workFolder,
        msgexport::BuildExportList(session.model, [](store::TreeItem) { return true; }),
        store::ItemFilter{},
        false,
        msgexport::MailFormat::kMsg,
        recover};
    const msgexport::SaveReport report = msgexport::RunSave(session, request, &ui);
    if (saved.error.empty()) {
        saved.error = report.error;
    }
    for (const msgexport::FolderReport& folder : report.folders) {
        if (!folder.error.empty()) {
            saved.folderErrors.push_back(Narrow(folder.mailbox) + "/" + Narrow(folder.folder) +
                                         ": " + folder.error);
        }
    }
    saved.mails = report.mails();
    saved.contacts = report.contacts();
    for (int msgexport::FolderReport::*count :
         {&msgexport::FolderReport::appointments, &msgexport::FolderReport::tasks,
          &msgexport::FolderReport::journalEntries, &msgexport::FolderReport::notes,
          &msgexport::FolderReport::distLists}) {
        saved.others += report.Total(count);
    }
    saved.calendars = report.Total(&msgexport::FolderReport::calendars);
    saved.skipped = report.skipped();
    if (std::filesystem::exists(destination / "manifest.csv")) {
        saved.manifestRows = CsvRecordCount(destination / "manifest.csv") - 2;
    }
    SavedFiles files = CountSavedFiles(destination);
    saved.msgFiles = files.msgFiles;
    saved.htmlFiles = files.htmlFiles;
    saved.vcfFiles = files.vcfFiles;
    saved.icsFiles = files.icsFiles;
    saved.otherFiles = std::move(files.otherFiles);
    return saved;
}

std::string Describe(const StoreExport& s) {
    std::ostringstream out;
    out << "saved " << s.mails << " mails and " << s.others << " other items (" << s.msgFiles
        << " .msg files), " << s.contacts << " contacts (" << s.htmlFiles << " pages, "
        << s.vcfFiles << " vCards), " << s.calendars << " calendars (" << s.icsFiles
        << " files), skipped " << s.skipped;
    if (!s.error.empty()) {
        out << "\n  error: " << s.error;
    }
    for (const std::string& f : s.folderErrors) {
        out << "\n  folder failed: " << f;
    }
    return out.str();
}

std::string Describe(const StoreReading& r) {
    std::ostringstream out;
    out << "tables " << r.tables << ", mailboxes " << r.mailboxes << ", folders " << r.folders
        << ", messages " << r.messages << ", attachments " << r.attachments << ", listed "
        << r.listedItems << ", read " << r.itemsRead << ", bodies " << r.bodyParts;
    for (const std::string& f : r.failures) {
        out << "\n  failed: " << f;
    }
    for (const std::string& f : r.silentFailures) {
        out << "\n  failed without a reason: " << f;
    }
    return out.str();
}

}  // namespace damaged
