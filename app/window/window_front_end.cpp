#include "app/window/window_front_end.h"

#include <system_error>

#include "export/export_run.h"
#include "platform/codepage.h"

namespace app {

namespace {

namespace fs = std::filesystem;

// The number of list columns a preview reads.
constexpr int kPreviewColumns = 8;

constexpr std::u16string_view kScanCompletedMessage = u"Analysis Completed sucessfully";

DialogControl ToDialogControl(Control control) {
    switch (control) {
        case Control::kBrowse:
            return DialogControl::kBrowse;
        case Control::kScanFile:
            return DialogControl::kScanFile;
        case Control::kStop:
            return DialogControl::kStop;
        case Control::kSave:
            return DialogControl::kSave;
        case Control::kMenuSelectFile:
            return DialogControl::kMenuSelectFile;
        case Control::kMenuRepair:
            return DialogControl::kMenuRepair;
        case Control::kMenuSave:
            return DialogControl::kMenuSave;
    }
    return DialogControl::kBrowse;
}

DetailLabel ToDetailLabel(Label label) {
    switch (label) {
        case Label::kFrom:
            return DetailLabel::kFrom;
        case Label::kTo:
            return DetailLabel::kTo;
        case Label::kSubject:
            return DetailLabel::kSubject;
        case Label::kDate:
            return DetailLabel::kDate;
        case Label::kAttachments:
            return DetailLabel::kAttachments;
    }
    return DetailLabel::kFrom;
}

std::u16string Number(int n) {
    return platform::Utf8ToUtf16(std::to_string(n));
}

}  // namespace

std::u16string FilterStatusText(const store::ItemFilterTexts& texts) {
    if (texts.empty()) {
        return u"Status: No item filter";
    }
    std::string text;
    auto add = [&text](const std::string& label, const std::string& value) {
        if (!value.empty()) {
            text += (text.empty() ? "" : ", ") + label + value;
        }
    };
    add("since ", texts.since);
    add("until ", texts.until);
    add("from contains \"", texts.from.empty() ? "" : texts.from + "\"");
    add("subject contains \"", texts.subject.empty() ? "" : texts.subject + "\"");
    add("class ", texts.messageClass);
    return u"Status: Items filtered: " + platform::Utf8ToUtf16(text);
}

// Lines of pages and items a summary names before it stops.
constexpr std::size_t kMaxSummaryLines = 20;

std::u16string SaveSummaryText(const msgexport::SaveReport& report, const fs::path& destination) {
    std::u16string text = u"Saved " + Number(report.mails()) + u" mails and " +
                          Number(report.contacts()) + u" contacts into " + destination.u16string() +
                          u" (" + Number(static_cast<int>(report.folders.size())) + u" folders, " +
                          Number(report.skipped()) + u" skipped";
    if (report.filtered() > 0) {
        text += u", " + Number(report.filtered()) + u" left out by the item filter";
    }
    text += u").\nSaved " + platform::Utf8ToUtf16(msgexport::OtherItemsText(report)) + u".";
    if (report.skipped() > 0) {
        text += u"\nSkipped items are those that could not be read or saved.";
    }
    if (!report.manifest.empty()) {
        text += u"\nEvery saved file is listed with its SHA-256 in " + report.manifest.u16string();
    }
    if (!report.storeWarning.empty()) {
        text += u"\nThe store " + platform::Utf8ToUtf16(report.storeWarning) + u".";
    }
    for (const std::string& table : report.unreadTables()) {
        text += u"\nNot read whole, so items may be missing: " + platform::Utf8ToUtf16(table);
    }
    if (report.recovering) {
        text += u"\nRecovery: " + Number(report.unlisted()) +
                u" items that no folder lists were saved into \"Recovered items\", " +
                Number(report.partial()) + u" items were saved in part.";
        for (const store::TableReading& t : report.tables) {
            text += u"\nTable " + t.table + u": " + Number(static_cast<int>(t.records)) +
                    u" records, " + Number(static_cast<int>(t.recovered)) +
                    u" recovered outside the tree, " + Number(static_cast<int>(t.pagesRead)) +
                    u" leaf pages read, " + Number(static_cast<int>(t.unreadable.size())) +
                    u" pages unreadable";
            for (std::size_t i = 0; i < t.unreadable.size() && i < kMaxSummaryLines; ++i) {
                text += u"\n    " + platform::Utf8ToUtf16(t.unreadable[i].reason);
            }
        }
        // The first partial items by message id; the command-line report lists them all.
        std::size_t shown = 0;
        for (const msgexport::FolderReport& f : report.folders) {
            for (const content::SkippedItem& item : f.partial) {
                if (shown++ < kMaxSummaryLines) {
                    text += u"\nPartial " + item.item + u": " + platform::Utf8ToUtf16(item.reason);
                }
            }
        }
    }
    if (!report.error.empty()) {
        text += u"\nThe save did not run to the end: " + platform::Utf8ToUtf16(report.error);
    }
    return text;
}

WindowFrontEnd::WindowFrontEnd(CExportEdbDlg& dialog, WindowFrontEndOptions options)
    : dialog_(dialog),
      relay_(std::make_unique<WorkerRelay>(
          [this](std::vector<WorkerRelay::Row> rows) { dialog_.AppendListRows(std::move(rows)); },
          [this](int position) { dialog_.SetProgress(position); })) {
    ControllerPaths paths;
    paths.statusPage = StatusPagePath(options.programFile);
    paths.imageFolder = SharedFilesFolder(options.programFile);
    paths.tempFolder = options.tempFolder.empty() ? dialog.WorkFolder() : options.tempFolder;
    paths.workFolder = dialog.WorkFolder();
    controller_ = std::make_unique<Controller>(*this, std::move(paths), std::move(options.factory));
    dialog_.SetCommands(this);
    // The exit ends the process without waiting for the workers; they are told to stop first
    // so that they leave the work folder alone as far as they can.
    dialog_.SetBeforeExit([this] { controller_->Cancel(); });
}

WindowFrontEnd::~WindowFrontEnd() {
    dialog_.SetCommands(nullptr);
    dialog_.SetBeforeExit({});
    // Once the work is abandoned and the relay closed, a worker's calls return at once and a
    // worker waiting for this thread is let go: the workers end without this thread's help.
    controller_->Cancel();
    relay_->Close();
    controller_->Wait();
    controller_.reset();
}

// ---- Commands ----

void WindowFrontEnd::OnBrowse() {
    // Browse discards the store model, which a running worker reads.
    if (Busy()) {
        return;
    }
    controller_->BeginBrowse();
    const std::optional<fs::path> chosen = dialog_.ChooseDatabaseFile();
    controller_->Browse(chosen);
    if (chosen) {
        dialog_.SetListFullRowSelect(true);
    }
}

void WindowFrontEnd::OnScanFile() {
    controller_->StartScan();
}

void WindowFrontEnd::OnStop() {
    controller_->Stop();
}

void WindowFrontEnd::OnSave() {
    if (Busy()) {
        return;
    }
    controller_->RebuildExportList();
    if (controller_->exportList().mailboxes.empty()) {
        dialog_.ShowMessage(kNothingCheckedMessage, kAppCaption, MessageIcon::kInformation, false);
        return;
    }
    const std::optional<fs::path> folder = dialog_.ChooseSaveFolder();
    if (!folder) {
        return;
    }
    saveFolder_ = *folder;
    controller_->StartSave(*folder);
}

void WindowFrontEnd::OnMailFormatChosen(bool eml) {
    controller_->setMailFormat(eml ? msgexport::MailFormat::kEml : msgexport::MailFormat::kMsg);
}

void WindowFrontEnd::OnRecoverChosen(bool recover) {
    // Read by the next scan; the listings and saves after it read the store as it did.
    controller_->setRecover(recover);
}

void WindowFrontEnd::OnFolderItemPressed(TreeHandle item) {
    // One listing at a time, and none while a scan or a save runs.
    controller_->StartListing(item);
}

void WindowFrontEnd::OnFilter() {
    // The filter is read by the running work.
    if (Busy()) {
        return;
    }
    const std::optional<store::ItemFilterTexts> texts = dialog_.EditItemFilter(filterTexts_);
    if (!texts) {
        return;
    }
    platform::Result<store::ItemFilter> filter = store::MakeItemFilter(*texts);
    if (!filter) {
        dialog_.ShowMessage(
            u"The item filter was not changed: " + platform::Utf8ToUtf16(filter.error()),
            kAppCaption, MessageIcon::kWarning, false);
        return;
    }
    filterTexts_ = *texts;
    controller_->setItemFilter(std::move(*filter));
    dialog_.SetStatusText(FilterStatusText(filterTexts_));
}

void WindowFrontEnd::OnTreeClicked() {
    if (!Busy()) {
        controller_->session().state.exportMode = 0;
    }
}

void WindowFrontEnd::OnItemListClicked() {
    // The preview reads what a running worker writes.
    if (Busy()) {
        return;
    }
    const int row = dialog_.ListSelectionMark();
    std::vector<std::u16string> texts;
    if (row >= 0) {
        texts = dialog_.ListRowTexts(row, kPreviewColumns);
    }
    controller_->Preview(texts);
}

// ---- Front end ----

void WindowFrontEnd::SetProgress(int position) {
    relay_->SetProgress(controller_->CurrentWork(), position);
}

void WindowFrontEnd::SetStatus(std::u16string_view text) {
    OnWindowThread([&] { dialog_.SetStatusText(text); });
}

store::TreeItem WindowFrontEnd::InsertTreeItem(store::TreeItem parent, std::u16string_view text,
                                               int image) {
    // The item's handle is given out at once and the item added with the next batch, so that
    // a scan of thousands of folders does not wait for the window's thread at each one. A
    // parent the tree does not know (its own insertion was dropped) takes nothing in.
    const TreeHandle item = dialog_.ReserveTreeHandle();
    relay_->Post(controller_->CurrentWork(),
                 [this, item, parent, text = std::u16string(text), image] {
                     dialog_.InsertTreeItemAs(item, parent, text, image);
                 });
    return item;
}

void WindowFrontEnd::ExpandRoot() {
    // Asked after every folder a scan adds: it follows the insertions in their batch instead of
    // waiting for the window's thread each time.
    relay_->Post(controller_->CurrentWork(), [this] { dialog_.ExpandTreeRoot(); });
}

void WindowFrontEnd::ClearTree() {
    OnWindowThread([&] { dialog_.ClearTree(); });
}

bool WindowFrontEnd::IsChecked(store::TreeItem item) {
    return OnWindowThread([&] { return dialog_.IsTreeItemChecked(item); }, false);
}

std::u16string WindowFrontEnd::TreeItemText(store::TreeItem item) {
    return OnWindowThread([&] { return dialog_.TreeItemText(item); }, std::u16string());
}

void WindowFrontEnd::EnableTree(bool enabled) {
    OnWindowThread([&] { dialog_.EnableControl(DialogControl::kFolderTree, enabled); });
}

void WindowFrontEnd::SetColumns(const std::vector<ListColumn>& columns) {
    OnWindowThread([&] {
        std::vector<ItemListColumn> shown;
        shown.reserve(columns.size());
        for (const ListColumn& column : columns) {
            shown.push_back({QString::fromStdU16String(column.title), column.width});
        }
        dialog_.SetListColumns(shown);
    });
}

void WindowFrontEnd::AppendRow(std::vector<std::u16string> cells) {
    relay_->AppendRow(controller_->CurrentWork(), std::move(cells));
}

void WindowFrontEnd::ClearRows() {
    OnWindowThread([&] { dialog_.ClearListRows(); });
}

void WindowFrontEnd::EnableList(bool enabled) {
    OnWindowThread([&] { dialog_.EnableControl(DialogControl::kItemList, enabled); });
}

void WindowFrontEnd::SetLabel(Label label, std::u16string_view text) {
    OnWindowThread([&] { dialog_.SetDetailLabel(ToDetailLabel(label), text); });
}

void WindowFrontEnd::Navigate(const fs::path& path) {
    OnWindowThread([&] { dialog_.NavigatePreview(path); });
}

void WindowFrontEnd::SetPathText(std::u16string_view text) {
    OnWindowThread([&] { dialog_.SetDatabasePathText(fs::path(std::u16string(text))); });
}

void WindowFrontEnd::EnableControl(Control control, bool enabled) {
    OnWindowThread([&] { dialog_.EnableControl(ToDialogControl(control), enabled); });
}

bool WindowFrontEnd::AskYesNo(std::u16string_view text, std::u16string_view caption) {
    return OnWindowThread([&] { return dialog_.AskYesNo(text, caption); }, false);
}

void WindowFrontEnd::ShowMessage(std::u16string_view text, std::u16string_view caption) {
    OnWindowThread([&] {
        // The completion of a scan is news; anything else the work reports is a problem.
        const MessageIcon icon =
            text == kScanCompletedMessage ? MessageIcon::kInformation : MessageIcon::kWarning;
        dialog_.ShowMessage(text, caption, icon, false);
    });
}

void WindowFrontEnd::SaveFinished(const msgexport::SaveReport& report) {
    OnWindowThread([&] {
        const bool whole = report.error.empty() && report.unreadTables().empty() &&
                           report.partial() == 0 && report.storeWarning.empty();
        const MessageIcon icon = whole ? MessageIcon::kInformation : MessageIcon::kWarning;
        dialog_.ShowMessage(SaveSummaryText(report, saveFolder_), kAppCaption, icon, false);
    });
}

void WindowFrontEnd::ScanFailed(std::u16string_view reason) {
    OnWindowThread([&] {
        // Another file can be chosen, and what was read so far can be looked at.
        dialog_.EnableControl(DialogControl::kFolderTree, true);
        dialog_.EnableControl(DialogControl::kBrowse, true);
        dialog_.EnableControl(DialogControl::kMenuSelectFile, true);
        std::u16string text = u"The database could not be scanned to the end.";
        if (!reason.empty()) {
            text += u"\n" + std::u16string(reason);
        }
        dialog_.ShowMessage(text, kAppCaption, MessageIcon::kWarning, false);
    });
}

}  // namespace app
