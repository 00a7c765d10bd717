#include "app/controller.h"

#include <cstdio>

#include "platform/codepage.h"
#include "platform/work_folder.h"
#include "store/messages.h"

namespace app {

namespace fs = std::filesystem;

namespace {

bool IsOneOf(std::u16string_view value, std::initializer_list<std::u16string_view> set) {
    for (std::u16string_view s : set) {
        if (value == s) {
            return true;
        }
    }
    return false;
}

// The page of an appointment, journal entry or task: label, column text and " <br>".
std::u16string ItemPage(const std::vector<std::u16string>& columns,
                        std::initializer_list<std::pair<std::u16string_view, int>> lines) {
    std::u16string page;
    for (const auto& [label, column] : lines) {
        // The labels are markup; the texts come from the store and are shown as text.
        page.append(label)
            .append(content::EscapeHtml(columns[static_cast<std::size_t>(column)]))
            .append(u" <br>");
    }
    return page;
}

}  // namespace

std::vector<ListColumn> StartupColumns() {
    return ColumnSetFor(u"");
}

std::vector<ListColumn> ColumnSetFor(std::u16string_view displayName) {
    std::vector<ListColumn> columns;
    auto add = [&](std::initializer_list<ListColumn> more) { columns.insert(columns.end(), more); };
    if (displayName == u"Contacts") {
        add({{u"", 0},
             {u"Type", 80},
             {u"S.No", 40},
             {u"Full name", 80},
             {u"First name", 80},
             {u"Last name", 80},
             {u"Home Phone No", 80},
             {u"Business Phone No", 80},
             {u"Mobile Phone No", 80},
             {u"Business Address", 80},
             {u"Email Address", 80},
             {u"Date", 80}});
    } else if (displayName == u"Sent Items") {
        add({{u"", 5},
             {u"Type", 80},
             {u"S.No", 40},
             {u"To", 149},
             {u"Subject", 149},
             {u"Date", 149},
             {u"Attachment", 148}});
    } else if (displayName == u"Calendar") {
        add({{u"", 5},
             {u"Type", 80},
             {u"S.No", 40},
             {u"To", 149},
             {u"Subject", 149},
             {u"Start Date", 149},
             {u"End Date", 148},
             {u"Status", 148}});
    } else if (displayName == u"Tasks") {
        add({{u"", 5},
             {u"Type", 80},
             {u"S.No", 40},
             {u"From", 149},
             {u"Subject", 149},
             {u"Start Date", 149},
             {u"End Date", 148},
             {u"Message", 148}});
    } else {
        add({{u"", 5},
             {u"Type", 80},
             {u"S.No", 40},
             {u"From", 149},
             {u"Subject", 149},
             {u"Date", 149},
             {u"Attachment", 148}});
    }
    return columns;
}

fs::path StatusPagePath(const fs::path& programFile) {
    std::string name = programFile.filename().string();
    for (std::size_t at = name.find(".exe"); at != std::string::npos; at = name.find(".exe")) {
        name.erase(at, 4);
    }
    return programFile.parent_path() / (name + "temp.html");
}

fs::path SharedFilesFolder(const fs::path& programFile) {
    const fs::path beside = programFile.parent_path();
    const fs::path installed = beside.parent_path() / "share" / "edb2msg";
    std::error_code ec;
    if (!fs::is_regular_file(beside / "loading.gif", ec) &&
        fs::is_regular_file(installed / "loading.gif", ec)) {
        return installed;
    }
    return beside;
}

bool WriteUtf16File(const fs::path& path, std::u16string_view text) {
    return platform::ReplaceFileContents(path, platform::Utf16LeBytes(text));
}

std::string PreviewBodyBytes(const std::vector<std::u16string_view>& parts) {
    std::u16string kept;
    for (std::u16string_view part : parts) {
        for (char16_t c : part) {
            if (c == u'\n') {
                kept += u"\r\n";
            } else if (c != 0 && c != u'\t' && c != u'\r' && c != u'\\') {
                kept.push_back(c);
            }
        }
    }
    return platform::Utf16ToUtf8(kept);
}

Controller::Controller(FrontEnd& frontEnd, ControllerPaths paths,
                       msgexport::ComponentFactory factory)
    : f_(frontEnd),
      paths_(std::move(paths)),
      factory_(std::move(factory)),
      content_(paths_.workFolder),
      session_(host_, &tree_, &list_, &content_) {}

Controller::~Controller() {
    Cancel();
    Wait();
}

void Controller::Cancel() {
    std::lock_guard lock(tokenMutex_);
    if (token_) {
        token_->Cancel();
    }
}

void Controller::NewToken() {
    std::lock_guard lock(tokenMutex_);
    token_ = std::make_shared<store::WorkToken>();
    session_.token = token_.get();
}

void Controller::StartWorker(std::atomic<bool>& flag, std::function<void()> work) {
    flag = true;
    std::lock_guard lock(workersMutex_);
    workers_.emplace_back([&flag, work = std::move(work)] {
        work();
        flag = false;
    });
}

void Controller::Wait() {
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(workersMutex_);
        workers.swap(workers_);
    }
    for (std::thread& t : workers) {
        if (t.joinable()) {
            t.join();
        }
    }
}

void Controller::SetStatus(std::u16string_view text) {
    statusText_ = std::u16string(text);
    host_.SetStatus(text);
}

void Controller::ReleaseDatabase() {
    store::ReleaseStore(session_);
}

void Controller::ShowStatusPage(std::u16string_view page) {
    fs::path path = paths_.statusPage;
    const fs::path images = paths_.imageFolder.empty() ? path.parent_path() : paths_.imageFolder;
    // The page shows its images by bare name, so it is written only where they are.
    if (images != path.parent_path() || !WriteUtf16File(path, page)) {
        // The program's folder is often not writable, and an installed program's images are
        // in another folder: use the work folder, with copies of the images.
        const fs::path fallback = paths_.workFolder / path.filename();
        std::error_code ec;
        for (const char* image : {"loading.gif", "done.gif", "wait.gif", "cancel.gif"}) {
            if (!fs::exists(paths_.workFolder / image, ec)) {
                fs::copy_file(images / image, paths_.workFolder / image, ec);
            }
        }
        if (!WriteUtf16File(fallback, page)) {
            return;
        }
        path = fallback;
    }
    f_.Navigate(path);
}

void Controller::BeginBrowse() {
    session_.model = store::StoreModel{};
    content_.mailDetails.clear();
    content_.contactCards.clear();
    content_.bodyParts.clear();
    SetStatus(u"Status: Browsing Exchange Database File");
}

void Controller::Browse(const std::optional<fs::path>& chosen) {
    if (chosen) {
        f_.EnableControl(Control::kScanFile, true);
        f_.EnableControl(Control::kStop, true);
        databasePath_ = *chosen;
        f_.SetPathText(chosen->u16string());
    }
    SetStatus(u"");
}

bool Controller::StartScan() {
    if (Busy()) {
        return false;
    }
    Wait();
    f_.EnableControl(Control::kScanFile, false);
    f_.EnableControl(Control::kBrowse, false);
    f_.EnableControl(Control::kMenuSelectFile, false);
    f_.EnableControl(Control::kMenuRepair, false);
    SetStatus(u"Status: Start Scaning Exchange EDB File");
    // Shown here, before the scan runs: shown by the scan, it could come after a Stop that was
    // answered at once, over the page that says the scan was abandoned.
    ShowStatusPage(kScanStartedPage);
    NewToken();
    StartWorker(scanning_, [this] { RunScan(); });
    return true;
}

bool Controller::RunScan() {
    if (session_.token == nullptr) {
        NewToken();
    }
    if (Abandoned()) {
        return false;  // stopped before it began: the window is left as the Stop left it
    }
    const fs::path path = databasePath_;
    f_.ClearTree();
    f_.ClearRows();
    session_.model = store::StoreModel{};
    session_.tableReadings.clear();
    session_.recover = recover_;
    session_.databaseNode = f_.InsertTreeItem(store::kNoTreeItem, path.u16string(), 0);
    ReleaseDatabase();
    auto fail = [&] {
        ReleaseDatabase();
        if (!Abandoned()) {
            f_.ScanFailed(platform::Utf8ToUtf16(session_.lastError));
        }
        return false;
    };
    SetStatus(u"Status: initialize Exchange EDB File");
    if (store::OpenStore(session_, path) != store::kOk) {
        return fail();
    }
    if (!session_.storeWarning.empty() && !Abandoned()) {
        f_.ShowMessage(u"The store " + platform::Utf8ToUtf16(session_.storeWarning) + u".",
                       kAppCaption);
    }
    SetStatus(u"Status: Opening Exchange EDB File");
    if (store::ListTables(session_) != store::kOk || Abandoned()) {
        return fail();
    }
    // Recovering, a table that is not read whole still gives what its pages hold, and the
    // scan goes on; the save's report names it.
    const bool recovering = session_.recover;
    auto scanned = [&](std::u16string_view table) {
        return (store::ScanTableByName(session_, table) == store::kOk || recovering) &&
               !Abandoned();
    };
    f_.EnableTree(false);
    SetStatus(u"Status: Getting MailBox List");
    if (!scanned(u"Mailbox")) {
        return fail();
    }
    SetStatus(u"Status: Getting Mailbox Folder List");
    if (!scanned(u"Folders")) {
        return fail();
    }
    SetStatus(u"Status: Getting Message Informations");
    // A message index that cannot be read still leaves the mailboxes and folders to show:
    // their items are then listed without content, and the save reports each one.
    (void)store::ScanTableByName(session_, u"Msg");
    if (Abandoned()) {
        return fail();
    }
    SetStatus(u"Status: Getting Attachment Informations");
    if (!scanned(u"1-23")) {
        return fail();
    }
    f_.EnableTree(true);
    SetStatus(u"Status: Scanning Completed");
    if (store::CloseStore(session_) != store::kOk || store::FreeStore(session_) != store::kOk) {
        return fail();
    }
    f_.SetProgress(0);
    ShowStatusPage(kScanCompletedPage);
    std::u16string damaged;
    for (const store::TableReading& reading : session_.tableReadings) {
        if (!reading.error.empty()) {
            damaged += u"\n" + platform::Utf8ToUtf16(reading.error);
        }
    }
    if (damaged.empty()) {
        f_.ShowMessage(u"Analysis Completed sucessfully", kAppCaption);
    } else {
        f_.ShowMessage(u"The store is damaged; recovery read what its pages still hold:" + damaged,
                       kAppCaption);
    }
    f_.EnableControl(Control::kSave, true);
    f_.EnableControl(Control::kBrowse, true);
    f_.EnableControl(Control::kScanFile, false);
    f_.EnableControl(Control::kStop, false);
    f_.EnableControl(Control::kMenuSelectFile, true);
    f_.EnableControl(Control::kMenuRepair, false);
    f_.EnableControl(Control::kMenuSave, false);
    return true;
}

void Controller::RebuildExportList() {
    exportList_ = msgexport::BuildExportList(
        session_.model, [this](store::TreeItem item) { return f_.IsChecked(item); });
}

bool Controller::StartListing(store::TreeItem item) {
    if (Busy()) {
        return false;
    }
    Wait();
    NewToken();
    // The window learns of a failed listing from the status line.
    StartWorker(listing_, [this, item] { (void)RunListing(item); });
    return true;
}

platform::Result<> Controller::RunListing(store::TreeItem item) {
    if (session_.token == nullptr) {
        NewToken();
    }
    session_.model.items.clear();
    session_.model.contacts.clear();
    const std::u16string name = f_.TreeItemText(item);
    session_.state.sequence = 0;
    session_.state.filteredOut = 0;
    session_.state.exportMode = 0;
    f_.SetColumns(ColumnSetFor(name));
    f_.ClearRows();
    RebuildExportList();
    const store::FolderEntry* folder = nullptr;
    for (const store::FolderEntry& entry : session_.model.folders) {
        if (entry.treeItem == item) {
            folder = &entry;
            break;
        }
    }
    std::string failure;
    if (folder != nullptr) {
        session_.state.currentFolderClass = folder->folderClass;
        const std::u16string table = folder->messageTableName;
        f_.EnableTree(false);
        f_.EnableList(false);
        SetStatus(u"Status: Getting " + name + u" Header Informations");
        ShowStatusPage(kListingStartedPage);
        content_.mailDetails.clear();
        content_.contactCards.clear();
        if (store::OpenStore(session_, databasePath_) != store::kOk) {
            failure = session_.lastError;
        } else {
            session_.filter = filter_.empty() ? nullptr : &filter_;
            if (store::ScanTableByName(session_, table) != store::kOk) {
                failure = session_.lastError;
            }
            session_.filter = nullptr;
            content_.bodyParts.clear();
            SetStatus(u"Status: Getting " + name + u" Body & Attachment Informations");
            // The rows already listed are read in full even when the folder's table ended
            // early.
            if (store::LoadFolderItems(session_) != store::kOk && failure.empty()) {
                failure = session_.lastError;
            }
        }
        ReleaseDatabase();
        f_.EnableList(true);
        f_.EnableTree(true);
    }
    ShowStatusPage(kListingDonePage);
    if (failure.empty() || Abandoned()) {
        SetStatus(u" ");
        return {};
    }
    SetStatus(u"Status: " + name + u" was not read whole: " + platform::Utf8ToUtf16(failure));
    return platform::Failure(failure);
}

void Controller::Preview(const std::vector<std::u16string>& row) {
    fs::path path = paths_.tempFolder;
    session_.state.exportMode = 0;
    std::vector<std::u16string> columns(8);
    for (std::size_t i = 0; i < columns.size() && i < row.size(); ++i) {
        columns[i] = row[i];
    }
    const std::u16string& id = columns[0];
    const bool found = !id.empty() && !session_.model.MessagesWithId(id).empty();
    f_.SetLabel(Label::kFrom, columns[3]);
    f_.SetLabel(Label::kSubject, columns[4]);
    f_.SetLabel(Label::kDate, columns[5]);
    if (!found) {
        return;
    }
    const std::u16string& folderClass = session_.state.currentFolderClass;
    if (folderClass == u"Folder" || folderClass.empty()) {
        for (const content::MailDetailEntry& detail : content_.mailDetails) {
            if (detail.messageId != id) {
                continue;
            }
            f_.SetLabel(Label::kTo, detail.recipients.value_or(u""));
            f_.SetLabel(Label::kAttachments, detail.attachmentNames.value_or(u""));
            path /= detail.bodyKind == content::kKindText ? "txtbody.txt" : "txtbody.html";
            std::vector<std::u16string_view> parts;
            // The body of the item's kind: an item with both a plain-text and an HTML body
            // shows the one its kind names, never the two run together.
            for (const content::BodyPartEntry& part : content_.bodyParts) {
                if (part.messageKey == id && part.kind == detail.bodyKind) {
                    parts.push_back(part.text);
                }
            }
            // The preview shows what was written; a page that could not be written shows as
            // missing, never an older item's body.
            (void)platform::ReplaceFileContents(path, PreviewBodyBytes(parts));
            break;
        }
        f_.Navigate(path);
    } else if (IsOneOf(folderClass, {u"IPM.Contact", u"IPF.Contact"})) {
        for (const content::ContactCardEntry& card : content_.contactCards) {
            if (card.messageId == id) {
                path = paths_.tempFolder / "htmlbody.html";
                WriteUtf16File(path, card.page);
            }
        }
        f_.Navigate(path);
    } else {
        std::u16string page;
        if (IsOneOf(folderClass, {u"IPM.Appointment", u"IPM.SchedulePlus.ExpansionData",
                                  u"IPF.Appointment", u"IPF.SchedulePlus.ExpansionData"})) {
            page = ItemPage(columns, {{u"From : ", 3},
                                      {u"Subject : ", 4},
                                      {u"Start Date : ", 5},
                                      {u"End Date : ", 6},
                                      {u"Status : ", 7}});
        } else if (IsOneOf(folderClass, {u"IPM.Journal", u"IPF.Journal"})) {
            page = ItemPage(
                columns,
                {{u"From : ", 3}, {u"Subject : ", 4}, {u"Attchment : ", 6}, {u"Date : ", 5}});
        } else if (IsOneOf(folderClass, {u"IPM.Task", u"IPF.Task"})) {
            page = ItemPage(columns, {{u"From : ", 3},
                                      {u"Subject : ", 4},
                                      {u"Start Date : ", 5},
                                      {u"End Date : ", 6},
                                      {u"Message : ", 7}});
        } else {
            return;
        }
        path = paths_.tempFolder / "htmlbody.html";
        WriteUtf16File(path, page);
        f_.Navigate(path);
    }
}

bool Controller::StartSave(const fs::path& destinationRoot) {
    if (Busy()) {
        return false;
    }
    Wait();
    NewToken();
    StartWorker(saving_, [this, destinationRoot] { RunSave(destinationRoot); });
    return true;
}

msgexport::SaveReport Controller::RunSave(
    const fs::path& destinationRoot,
    const std::function<bool(const msgexport::ExportFolderEntry&)>& folderFilter) {
    if (session_.token == nullptr) {
        NewToken();
    }
    // The check marks as they are now, also when no folder was listed since they changed.
    RebuildExportList();
    if (folderFilter) {
        std::erase_if(exportList_.folders, [&](const auto& f) { return !folderFilter(f); });
    }
    f_.EnableTree(false);
    f_.EnableList(false);
    f_.EnableControl(Control::kSave, false);
    f_.EnableControl(Control::kStop, true);
    msgexport::SaveRequest request;
    request.database = databasePath_;
    request.destinationRoot = destinationRoot;
    request.workFolder = paths_.workFolder;
    request.exportList = exportList_;
    request.mailFormat = mailFormat_;
    request.filter = filter_;
    request.hashStore = hashStore_;
    request.recover = session_.recover;
    msgexport::SaveReport report = msgexport::RunSave(session_, request, &ui_, factory_);
    if (!Abandoned()) {
        f_.SetProgress(0);
        SetStatus(u" ");
        f_.EnableTree(true);
        f_.EnableList(true);
        f_.EnableControl(Control::kSave, true);
        f_.EnableControl(Control::kStop, false);
        f_.SaveFinished(report);
    }
    return report;
}

void Controller::Stop() {
    std::shared_ptr<store::WorkToken> token;
    {
        std::lock_guard lock(tokenMutex_);
        token = token_;
    }
    if (!token || token->cancelled()) {
        return;
    }
    if (scanning_) {
        token->Pause();
        if (f_.AskYesNo(u"Do you want to stop recovery process ?", kStopCaption)) {
            token->Cancel();
            f_.SetProgress(0);
            f_.EnableControl(Control::kBrowse, true);
            f_.EnableTree(true);
            ShowStatusPage(kScanStoppedPage);
        } else {
            token->Resume();
        }
    }
    if (saving_ && !token->cancelled()) {
        token->Pause();
        if (f_.AskYesNo(u"Do you want to stop EDB to MSG Conversion process ?", kStopCaption)) {
            token->Cancel();
            ShowStatusPage(kSaveStoppedPage);
            // The abandoned save no longer holds the model: the window is usable again.
            f_.EnableTree(true);
            f_.EnableList(true);
            f_.EnableControl(Control::kSave, true);
        } else {
            token->Resume();
        }
    }
}

}  // namespace app
