// The work of the main window without the window: the scan, the folder listing, the preview
// and the save, each on a worker thread, and Stop. A front end (the window, the command-line
// tool, a test) shows what the controller tells it through FrontEnd. Workers call FrontEnd
// from their own threads; a front end with a user-interface thread hands those calls over
// and waits for them, or queues some (list rows, progress) for that thread and goes on.
#pragma once

#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "content/item_content.h"
#include "export/export_run.h"
#include "platform/result.h"
#include "store/item_filter.h"
#include "store/session.h"

namespace app {

inline constexpr std::u16string_view kAppCaption = u"Quorvale Systems Exchange Recovery";
inline constexpr std::u16string_view kStopCaption = u"Quorvale EDB to MSG Converter";

// Controls whose enabled state the controller sets.
enum class Control { kBrowse, kScanFile, kStop, kSave, kMenuSelectFile, kMenuRepair, kMenuSave };

// The value labels of the preview.
enum class Label { kFrom, kTo, kSubject, kDate, kAttachments };

struct ListColumn {
    std::u16string title;
    int width = 0;
};

// The item list's columns for a folder's display name.
std::vector<ListColumn> ColumnSetFor(std::u16string_view displayName);

// The start-up columns of the item list.
std::vector<ListColumn> StartupColumns();

class FrontEnd : public store::ScanHost {
  public:
    // Tree
    virtual store::TreeItem InsertTreeItem(store::TreeItem parent, std::u16string_view text,
                                           int image) = 0;
    virtual void ExpandRoot() = 0;
    virtual void ClearTree() = 0;
    virtual bool IsChecked(store::TreeItem item) = 0;
    virtual std::u16string TreeItemText(store::TreeItem item) = 0;
    virtual void EnableTree(bool enabled) = 0;
    // List
    virtual void SetColumns(const std::vector<ListColumn>& columns) = 0;
    virtual void AppendRow(std::vector<std::u16string> cells) = 0;
    virtual void ClearRows() = 0;
    virtual void EnableList(bool enabled) = 0;
    // Labels, preview pane, path box
    virtual void SetLabel(Label label, std::u16string_view text) = 0;
    virtual void Navigate(const std::filesystem::path& path) = 0;
    virtual void SetPathText(std::u16string_view text) = 0;
    virtual void EnableControl(Control control, bool enabled) = 0;
    // Questions and messages
    virtual bool AskYesNo(std::u16string_view text, std::u16string_view caption) = 0;
    virtual void ShowMessage(std::u16string_view text, std::u16string_view caption) = 0;
    // A save has ended, with its report.
    virtual void SaveFinished(const msgexport::SaveReport& report) = 0;
    // A scan ended early (the file could not be opened or a table could not be read); the
    // reason in words. Not called for a scan that was stopped.
    virtual void ScanFailed(std::u16string_view /*reason*/) {}
};

struct ControllerPaths {
    std::filesystem::path statusPage;  // beside the program: its name without ".exe" + "temp.html"
    std::filesystem::path tempFolder;  // the preview files go here
    std::filesystem::path workFolder;  // attachment contents and converter files
    // Where the status pages' images are; empty: beside the status page. When it is another
    // folder, the pages are written into the work folder with copies of the images.
    std::filesystem::path imageFolder = {};
};

// The status page beside the program: every ".exe" removed from the program's file name,
// then "temp.html".
std::filesystem::path StatusPagePath(const std::filesystem::path& programFile);

// The folder of the program's shared files (the status pages' images, the help file): the
// program's own folder when they are there, as in the build folder, else "../share/edb2msg"
// from it, as installed; the program's own folder when neither has them.
std::filesystem::path SharedFilesFolder(const std::filesystem::path& programFile);

// Writes a page as UTF-16 little-endian without a byte-order mark. False when it cannot.
bool WriteUtf16File(const std::filesystem::path& path, std::u16string_view text);

// The mail body file of the preview: every character as UTF-8, without NUL, tab, carriage
// return and backslash, each line feed as CR LF.
std::string PreviewBodyBytes(const std::vector<std::u16string_view>& parts);

// Status pages.
inline constexpr std::u16string_view kScanStartedPage =
    u"<div align=\"center\"><p><img src=\"loading.gif\" width=\"100\" height=\"100\" /></p><h1 "
    u">Recovery Started! Please wait for completion...</h1></div>";
inline constexpr std::u16string_view kScanCompletedPage =
    u"<div align=\"center\"><p><img src=\"done.gif\" width=\"100\" height=\"100\" /></p><h1 "
    u">Scaning process completed...</h1></div>";
inline constexpr std::u16string_view kScanStoppedPage =
    u"<div align=\"center\"><p><img src=\"cancel.gif\"/></p><h1 >Scaning Aborted by "
    u"user...</h1></div>";
inline constexpr std::u16string_view kSaveStoppedPage =
    u"<div align=\"center\"><h1 >Saving Aborted by user...</h1></div>";
inline constexpr std::u16string_view kListingStartedPage =
    u"<div align=\"center\"><p><p><img src=\"wait.gif\" /></p></div>";
inline constexpr std::u16string_view kListingDonePage =
    u"<div align=\"center\"><p><img src=\"done.gif\" width=\"100\" height=\"100\" /></p><h1 "
    u">Click on above recovered items to see the preview!</h1></div>";

class Controller {
  public:
    Controller(FrontEnd& frontEnd, ControllerPaths paths,
               msgexport::ComponentFactory factory = dispatch::CreateObject);
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // Browse: the front end has shown the file dialog; nothing when it was cancelled.
    void Browse(const std::optional<std::filesystem::path>& chosen);
    void BeginBrowse();  // before the dialog: drops the model, sets the status line

    // Scan File: starts the scan on its thread. False when a scan or listing runs.
    bool StartScan();
    // The scan itself, on the calling thread. True when it completed.
    bool RunScan();

    // A click on a tree item: starts its listing. False when a scan, a listing or a save runs.
    bool StartListing(store::TreeItem item);
    // The listing on the calling thread. Fails with the reason when the folder could not be
    // read whole; the rows that could be read are listed all the same.
    platform::Result<> RunListing(store::TreeItem item);

    // A click on a list row: the row's texts, column 0 first.
    void Preview(const std::vector<std::u16string>& row);

    // Save into the folder: starts the save on its thread. False when other work runs.
    bool StartSave(const std::filesystem::path& destinationRoot);
    // The save on the calling thread; folderFilter, when given, keeps only some folders of
    // the checked mailboxes.
    msgexport::SaveReport RunSave(
        const std::filesystem::path& destinationRoot,
        const std::function<bool(const msgexport::ExportFolderEntry&)>& folderFilter = {});

    // Stop: pauses the running scan or save, asks, and abandons or resumes it.
    void Stop();
    // Abandons the running work without asking (the exit does this).
    void Cancel();
    // True once the running or last work has been abandoned: its worker no longer reaches the
    // front end through the controller, and a front end drops what it still sends.
    bool Abandoned() const {
        std::lock_guard lock(tokenMutex_);
        return token_ && token_->cancelled();
    }
    // The token of the running or last work (null before the first). A front end that carries
    // a worker's calls out later tells by it whether their work was abandoned in between.
    std::shared_ptr<const store::WorkToken> CurrentWork() const {
        std::lock_guard lock(tokenMutex_);
        return token_;
    }

    // Waits for every worker to end.
    void Wait();
    bool Busy() const { return scanning_ || listing_ || saving_; }

    // How saves write mail: .msg files (the default) or .eml files.
    void setMailFormat(msgexport::MailFormat format) { mailFormat_ = format; }
    msgexport::MailFormat mailFormat() const { return mailFormat_; }
    // The filter of the next listings and saves; an empty filter takes every item. Set it
    // while no work runs.
    void setItemFilter(store::ItemFilter filter) { filter_ = std::move(filter); }
    const store::ItemFilter& itemFilter() const { return filter_; }
    // Whether the manifest of the next saves gives the store file's SHA-256.
    void setHashStore(bool hash) { hashStore_ = hash; }
    // Recovery mode of the next scan, and of the listings and saves that follow it: every
    // page of the file is read for each table's records (see store/page_census.h), a scan goes
    // on past a table it cannot read whole, and a save also writes the items no folder lists.
    void setRecover(bool recover) { recover_ = recover; }
    bool recover() const { return recover_; }

    const std::filesystem::path& databasePath() const { return databasePath_; }
    void setDatabasePath(std::filesystem::path path) { databasePath_ = std::move(path); }
    store::StoreSession& session() { return session_; }
    content::ItemContent& content() { return content_; }
    const msgexport::ExportList& exportList() const { return exportList_; }
    const std::u16string& statusText() const { return statusText_; }
    // Rebuilds the export list from the tree's check marks.
    void RebuildExportList();

    // Writes a status page and shows it; in the work folder when beside the program fails.
    void ShowStatusPage(std::u16string_view page);

  private:
    // Forward the store's calls to the front end until the work is abandoned; an abandoned
    // worker never touches the window again.
    class HostBridge final : public store::ScanHost {
      public:
        explicit HostBridge(Controller& c) : c_(c) {}
        void SetProgress(int position) override {
            if (!c_.Abandoned()) {
                c_.f_.SetProgress(position);
            }
        }
        void SetStatus(std::u16string_view text) override {
            if (!c_.Abandoned()) {
                c_.f_.SetStatus(text);
            }
        }

      private:
        Controller& c_;
    };
    class TreeBridge final : public store::FolderTreeSink {
      public:
        explicit TreeBridge(Controller& c) : c_(c) {}
        store::TreeItem InsertItem(store::TreeItem parent, std::u16string_view text,
                                   int image) override {
            // An abandoned scan gets a handle that is never used.
            return c_.Abandoned() ? store::TreeItem{-2} : c_.f_.InsertTreeItem(parent, text, image);
        }
        void ExpandRoot() override {
            if (!c_.Abandoned()) {
                c_.f_.ExpandRoot();
            }
        }

      private:
        Controller& c_;
    };
    class ListBridge final : public store::ItemListSink {
      public:
        explicit ListBridge(Controller& c) : c_(c) {}
        void AppendRow(std::vector<std::u16string> cells) override {
            if (!c_.Abandoned()) {
                c_.f_.AppendRow(std::move(cells));
            }
        }

      private:
        Controller& c_;
    };
    class UiBridge final : public msgexport::ExportUi {
      public:
        explicit UiBridge(Controller& c) : c_(c) {}
        void ShowMessage(std::u16string_view text) override {
            if (!c_.Abandoned()) {
                c_.f_.ShowMessage(text, kAppCaption);
            }
        }

      private:
        Controller& c_;
    };

    void SetStatus(std::u16string_view text);
    void ReleaseDatabase();
    void NewToken();
    void StartWorker(std::atomic<bool>& flag, std::function<void()> work);

    FrontEnd& f_;
    ControllerPaths paths_;
    msgexport::ComponentFactory factory_;
    HostBridge host_{*this};
    TreeBridge tree_{*this};
    ListBridge list_{*this};
    UiBridge ui_{*this};
    content::ItemContent content_;
    store::StoreSession session_;
    std::filesystem::path databasePath_;
    std::u16string statusText_;
    msgexport::ExportList exportList_;
    store::ItemFilter filter_;
    bool hashStore_ = false;
    std::atomic<bool> recover_{false};
    mutable std::mutex tokenMutex_;
    std::shared_ptr<store::WorkToken> token_;
    std::vector<std::thread> workers_;
    std::mutex workersMutex_;
    std::atomic<bool> scanning_{false};
    std::atomic<bool> listing_{false};
    std::atomic<bool> saving_{false};
    std::atomic<msgexport::MailFormat> mailFormat_{msgexport::MailFormat::kMsg};
};

}  // namespace app
