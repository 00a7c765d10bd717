// The window's link to the controller. The buttons, menu commands and clicks of the main window
// start the controller's work (scan, folder listing, preview, save, Stop), and the controller's
// front-end calls fill and drive the window.
//
// The controller's workers call in from their own threads, through a WorkerRelay. List rows and
// progress positions do not hold a worker up: they are queued, and the window's thread takes
// them in a batch at a time (a few hundred rows, or what came within a short while; of the
// positions only the latest). Every other call is carried out on the window's thread while the
// worker waits, after everything the worker queued before it; a listing ends with such calls,
// so once its worker has ended its rows are all in the list. A call, row or position that the
// window's thread comes to after its work was abandoned (Stop answered Yes, the exit) is
// dropped there, and what a worker sends once its work has been abandoned is dropped at once,
// without the window's thread, so an abandoned worker never changes the window again. The
// window's thread never waits for a worker, except when this object is destroyed: it then
// abandons the work, lets go of a worker that waits for it, and waits for the workers to end,
// which from then on need nothing of the window's thread.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "app/controller.h"
#include "app/window/export_edb_dlg.h"
#include "app/window/worker_relay.h"
#include "store/item_filter.h"

namespace app {

inline constexpr char16_t kNothingCheckedMessage[] =
    u"No mailbox is checked. Check the mailboxes to save in the folder tree, then choose Save.";

struct WindowFrontEndOptions {
    // The program file: the status page is written beside it when the status images are there
    // too (see SharedFilesFolder).
    std::filesystem::path programFile;
    // Where the preview files go; empty: the window's work folder.
    std::filesystem::path tempFolder;
    // Creates the message-file component's objects.
    msgexport::ComponentFactory factory = dispatch::CreateObject;
};

// The status line's description of a filter: "Status: Items filtered: since 2009-03-01,
// subject contains \"budget\"", or "Status: No item filter" when the texts set no condition.
std::u16string FilterStatusText(const store::ItemFilterTexts& texts);

// The summary shown when a save has ended.
std::u16string SaveSummaryText(const msgexport::SaveReport& report,
                               const std::filesystem::path& destination);

class WindowFrontEnd final : public FrontEnd, public DialogCommands {
  public:
    WindowFrontEnd(CExportEdbDlg& dialog, WindowFrontEndOptions options);
    // Abandons running work and lets its workers end; call on the window's thread.
    ~WindowFrontEnd() override;
    WindowFrontEnd(const WindowFrontEnd&) = delete;
    WindowFrontEnd& operator=(const WindowFrontEnd&) = delete;

    Controller& controller() { return *controller_; }
    // True while a scan, a listing or a save runs.
    bool Busy() const { return controller_->Busy(); }

    // ---- What the window hands on (window thread) ----
    void OnBrowse() override;
    void OnScanFile() override;
    void OnStop() override;
    void OnSave() override;
    void OnMailFormatChosen(bool eml) override;
    void OnRecoverChosen(bool recover) override;
    void OnFolderItemPressed(TreeHandle item) override;
    void OnTreeClicked() override;
    void OnItemListClicked() override;
    // Edits the item filter; a text that cannot be read is said in a message and the filter
    // stays as it was.
    void OnFilter() override;

    // ---- What the controller shows (any thread) ----
    void SetProgress(int position) override;
    void SetStatus(std::u16string_view text) override;
    store::TreeItem InsertTreeItem(store::TreeItem parent, std::u16string_view text,
                                   int image) override;
    void ExpandRoot() override;
    void ClearTree() override;
    bool IsChecked(store::TreeItem item) override;
    std::u16string TreeItemText(store::TreeItem item) override;
    void EnableTree(bool enabled) override;
    void SetColumns(const std::vector<ListColumn>& columns) override;
    void AppendRow(std::vector<std::u16string> cells) override;
    void ClearRows() override;
    void EnableList(bool enabled) override;
    void SetLabel(Label label, std::u16string_view text) override;
    void Navigate(const std::filesystem::path& path) override;
    void SetPathText(std::u16string_view text) override;
    void EnableControl(Control control, bool enabled) override;
    bool AskYesNo(std::u16string_view text, std::u16string_view caption) override;
    void ShowMessage(std::u16string_view text, std::u16string_view caption) override;
    void SaveFinished(const msgexport::SaveReport& report) override;
    void ScanFailed(std::u16string_view reason) override;

  private:
    // Runs f on the window's thread: at once on that thread, otherwise there while the calling
    // worker waits, and not at all (answering `dropped`) once the work was abandoned.
    template <typename F>
    auto OnWindowThread(F f, std::invoke_result_t<F&> dropped = {}) -> std::invoke_result_t<F&>
    requires(!std::is_void_v<std::invoke_result_t<F&>>) {
        auto result = dropped;
        relay_->Call(controller_->CurrentWork(), [&] { result = f(); });
        return result;
    }
    template <typename F>
    void OnWindowThread(F f) requires std::is_void_v<std::invoke_result_t<F&>> {
        relay_->Call(controller_->CurrentWork(), [&] { f(); });
    }

    CExportEdbDlg& dialog_;
    std::filesystem::path saveFolder_;
    store::ItemFilterTexts filterTexts_;  // as the user last typed them, for the next edit
    std::unique_ptr<WorkerRelay> relay_;
    std::unique_ptr<Controller> controller_;
};

}  // namespace app
