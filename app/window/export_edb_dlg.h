// The main window: the database path and the four command buttons, the folder tree, the item
// list, the item's From, To, Subject, Date and attachment labels, the preview pane, the
// progress bar, the status line and the status bar, on a green background, with the File and
// Help menus. Its controls follow the window's edges through CResizeLayout.
//
// The work is done elsewhere: the buttons, menu commands and clicks are handed to
// DialogCommands, and the front-end methods below let that code fill and drive the window.
// Those methods may be called from any thread: a call from another thread is carried out on
// the window's thread while the caller waits, so a worker must never be waited for by the
// window's thread while it may be inside such a call.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <QMetaObject>
#include <QThread>
#include <QWidget>

#include "app/resize_layout.h"
#include "app/window/dialogs.h"
#include "app/window/folder_tree.h"
#include "app/window/item_list.h"
#include "platform/work_folder.h"
#include "store/item_filter.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QLabel;

namespace app {

class CExplorer1;
class CTransparentStatic;
class ClientArea;
class WidgetLayoutHost;

// Captions and questions of the window.
inline constexpr char16_t kRecoveryCaption[] = u"Quorvale Systems Exchange Recovery";
inline constexpr char16_t kCloseQuestion[] = u"Do you want to Exit ?       ";
inline constexpr char16_t kExitQuestion[] =
    u"Are you sure, you want to close this application..                       ";
inline constexpr char16_t kWindowTitle[] = u"Quorvale EDB to MSG Converter";
inline constexpr char16_t kStatusBarProduct[] = u"Quorvale EDB to MSG Converter Software";
inline constexpr char16_t kProductWebPage[] = u"www.quorvale.example";
inline constexpr char16_t kHelpFileName[] = u"quorvale-pst.chm";
inline constexpr char16_t kOpenFileTitle[] = u"Select Microsoft Exchange Database File...";
inline constexpr char16_t kOpenFileFilter[] =
    u"Microsoft Exchange Database  File (*edb)|*.edb;*.edb||";
inline constexpr char16_t kSaveFolderTitle[] = u"Select the folder to save the items in...";

// The background of the window.
inline constexpr int kBackgroundRed = 176;
inline constexpr int kBackgroundGreen = 213;
inline constexpr int kBackgroundBlue = 138;

// Right edges of the two status bar parts.
inline constexpr int kStatusPart0Right = 300;
inline constexpr int kStatusPart1Right = 599;

// What the window hands on: each is called on the window's thread.
class DialogCommands {
  public:
    virtual ~DialogCommands() = default;
    // The Browse button and File > Select File.
    virtual void OnBrowse() {}
    // The Scan File button and File > Repair.
    virtual void OnScanFile() {}
    virtual void OnStop() {}
    // The Save button and File > Save.
    virtual void OnSave() {}
    // The choice beside Save: mail as .eml files (true) or .msg files (false).
    virtual void OnMailFormatChosen(bool /*eml*/) {}
    // The check box above Scan File: the next scan recovers a damaged store.
    virtual void OnRecoverChosen(bool /*recover*/) {}
    // The left button went down on a tree item: list that item's folder.
    virtual void OnFolderItemPressed(TreeHandle /*item*/) {}
    // A click on a tree item that the tree handled itself.
    virtual void OnTreeClicked() {}
    // A click in the item list: preview the row at the selection mark.
    virtual void OnItemListClicked() {}
    // File > Filter Items...
    virtual void OnFilter() {}
};

// The controls whose enabled state the work changes.
enum class DialogControl {
    kBrowse,
    kScanFile,
    kStop,
    kSave,
    kFolderTree,
    kItemList,
    kMenuSelectFile,
    kMenuRepair,
    kMenuSave,
};

// The item detail labels.
enum class DetailLabel { kFrom, kTo, kSubject, kDate, kAttachments };

// The states of the scan and save control; each sets the controls it names and leaves the
// rest as they are.
enum class UiState { kStart, kFileChosen, kScanning, kScanCompleted, kScanFailed, kScanStopped };

enum class ExitPath {
    kClose,        // the window's close button, Esc or Enter
    kExitCommand,  // File > Exit
};

struct DialogOptions {
    // Required: answers questions and shows messages and modal dialogs.
    Dialogs* dialogs = nullptr;
    // Where the help file is looked for; empty: the current directory at start-up.
    std::filesystem::path applicationDirectory;
    // Where the help file is looked for next, the program's shared files; empty: nowhere else.
    std::filesystem::path sharedFolder;
    // The work folder, removed at the exit; empty: a new folder of the window's own under the
    // system temporary directory.
    std::filesystem::path workFolder;
    // Ends the process at once with the code; empty: std::_Exit. When it returns, the
    // window closes normally.
    std::function<void(int)> endProcess;
};

class CExportEdbDlg : public QWidget {
    Q_OBJECT

  public:
    explicit CExportEdbDlg(DialogOptions options, QWidget* parent = nullptr);
    ~CExportEdbDlg() override;

    // The one main window of the process, from its construction until its destruction.
    static CExportEdbDlg* MainDialog();

    // Shows the window maximised, as at start-up.
    void ShowInitial();

    void SetCommands(DialogCommands* commands) { commands_ = commands; }
    // Called on the window's thread when the user has confirmed the exit, before the work
    // folder is removed and the process ends: the place to stop workers at a safe point.
    void SetBeforeExit(std::function<void()> beforeExit) { beforeExit_ = std::move(beforeExit); }

    // ---- Front end: callable from any thread. ----
    TreeHandle InsertTreeItem(TreeHandle parent, std::u16string_view text, int image);
    // A handle for an item that InsertTreeItemAs adds later: a worker hands it out at once.
    TreeHandle ReserveTreeHandle();
    TreeHandle InsertTreeItemAs(TreeHandle item, TreeHandle parent, std::u16string_view text,
                                int image);
    void ExpandTreeRoot();
    void ClearTree();
    bool IsTreeItemChecked(TreeHandle item);
    std::u16string TreeItemText(TreeHandle item);

    void SetListColumns(const std::vector<ItemListColumn>& columns);
    void AppendListRow(const std::vector<std::u16string>& texts);
    // Appends the rows in their order, all in one go.
    void AppendListRows(std::vector<std::vector<std::u16string>> rows);
    void ClearListRows();
    void SetListFullRowSelect(bool on);
    int ListSelectionMark();
    std::vector<std::u16string> ListRowTexts(int row, int count);

    void SetProgress(int position);
    void SetStatusText(std::u16string_view text);
    void SetDetailLabel(DetailLabel label, std::u16string_view text);
    void SetDatabasePathText(const std::filesystem::path& path);
    void NavigatePreview(const std::filesystem::path& path);

    void EnableControl(DialogControl control, bool enabled);
    bool IsControlEnabled(DialogControl control);
    void ApplyUiState(UiState state);

    bool AskYesNo(std::u16string_view text, std::u16string_view caption);
    void ShowMessage(std::u16string_view text, std::u16string_view caption, MessageIcon icon,
                     bool systemModal);
    // The open-file dialog for the database; nullopt when cancelled.
    std::optional<std::filesystem::path> ChooseDatabaseFile();
    // The folder dialog for the destination of a save; nullopt when cancelled.
    std::optional<std::filesystem::path> ChooseSaveFolder();
    // The item filter's dialog, filled with the texts; the edited texts when the user chose OK.
    std::optional<store::ItemFilterTexts> EditItemFilter(const store::ItemFilterTexts& texts);

    // ---- Shell commands (window thread). ----
    void ShowAbout();
    void OpenHelp();
    // Asks the exit question of the path; on Yes removes the work folder and ends the
    // process. True when the user confirmed.
    bool ConfirmExit(ExitPath path);

    // ---- The parts, for the code that drives the window and for tests. ----
    QWidget* Control(int id) const;
    QWidget* ClientArea() const;
    // The widget of the index-th control of the template, in template order.
    QWidget* TemplateWidget(std::size_t index) const;
    QMenuBar* MenuBar() const { return menuBar_; }
    QAction* MenuCommand(int command) const;
    CFolderTreeCtrl1* FolderTree() const { return tree_; }
    ItemListCtrl* ItemList() const { return list_; }
    CExplorer1* Preview() const { return preview_; }
    QProgressBar* Progress() const { return progress_; }
    QStatusBar* StatusBar() const { return statusBar_; }
    QLabel* StatusBarPart(int part) const;
    QWidget* SizeGrip() const;
    const CResizeLayout& Layout() const { return layout_; }
    DialogFontMetrics FontMetrics() const { return metrics_; }
    const std::filesystem::path& WorkFolder() const { return workFolder_; }
    const std::filesystem::path& ApplicationDirectory() const { return applicationDirectory_; }
    // The window's client rectangle in screen coordinates, as the layout sees it.
    LayoutRect ClientScreenRect() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    friend class app::ClientArea;

    void CreateControls();
    void CreateMenus();
    void CreateStatusBar();
    void InitialiseLayout();
    void ClientResized();
    void Command(int command);

    template <typename F>
    auto OnUiThread(F&& f) -> std::invoke_result_t<F&> {
        using Result = std::invoke_result_t<F&>;
        if (QThread::currentThread() == thread()) {
            return f();
        }
        if constexpr (std::is_void_v<Result>) {
            QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
        } else {
            Result result{};
            QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection,
                                      &result);
            return result;
        }
    }

    Dialogs* dialogs_;
    std::function<void(int)> endProcess_;
    std::function<void()> beforeExit_;
    DialogCommands* commands_ = nullptr;
    bool exitConfirmed_ = false;

    CResizeLayout layout_;
    std::unique_ptr<WidgetLayoutHost> layoutHost_;
    DialogFontMetrics metrics_;
    std::filesystem::path applicationDirectory_;
    std::filesystem::path sharedFolder_;
    std::filesystem::path workFolder_;
    std::optional<platform::WorkFolder> ownWorkFolder_;

    QMenuBar* menuBar_ = nullptr;
    app::ClientArea* client_ = nullptr;
    CFolderTreeCtrl1* tree_ = nullptr;
    ItemListCtrl* list_ = nullptr;
    CExplorer1* preview_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* statusParts_[2] = {nullptr, nullptr};
    QLineEdit* pathBox_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* scanFile_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* save_ = nullptr;
    QComboBox* mailFormat_ = nullptr;
    QCheckBox* recover_ = nullptr;
    std::map<int, CTransparentStatic*> valueLabels_;
    std::map<int, QWidget*> controls_;
    std::vector<QWidget*> templateWidgets_;
    std::map<int, QAction*> commandsById_;
};

}  // namespace app
