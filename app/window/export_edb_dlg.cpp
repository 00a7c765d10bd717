#include "app/window/export_edb_dlg.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSizeGrip>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include "app/window/about_dlg.h"
#include "app/window/artwork.h"
#include "app/window/dialog_template.h"
#include "app/window/explorer.h"
#include "app/window/filter_dlg.h"
#include "app/window/transparent_static.h"
#include "platform/codepage.h"
#include "platform/work_folder.h"

namespace app {

namespace {

std::atomic<CExportEdbDlg*> g_mainDialog{nullptr};

const QColor kBackground(kBackgroundRed, kBackgroundGreen, kBackgroundBlue);

QString ToQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString PathToQString(const std::filesystem::path& path) {
    return QString::fromStdU16String(path.u16string());
}

QRect ToQRect(const LayoutRect& rect) {
    return QRect(rect.left, rect.top, rect.Width(), rect.Height());
}

ControlHandle HandleOf(QWidget* widget) {
    return reinterpret_cast<ControlHandle>(widget);
}

QWidget* WidgetOf(ControlHandle handle) {
    return reinterpret_cast<QWidget*>(handle);
}

// Bitmaps 132 and 133.
class BannerPicture : public QWidget {
  public:
    BannerPicture(int resource, QWidget* parent) : QWidget(parent), resource_(resource) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (resource_ == 133) {
            PaintRightBanner(painter, rect());
        } else {
            PaintLeftBanner(painter, rect());
        }
    }

  private:
    int resource_;
};

// The window's own labels: transparent, black, left-aligned, plain text, no wrapping.
void ConfigureLabel(QLabel* label) {
    label->setAutoFillBackground(false);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(colours);
}

QFont DialogFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS Shell Dlg"), QStringLiteral("Tahoma"),
                      QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPointSize(8);
    return font;
}

DialogFontMetrics MetricsOf(const QFont& font) {
    const QFontMetrics fm(font);
    const int alphabet = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogFontMetrics{AverageCharWidthFromAlphabet(alphabet), fm.height()};
}

}  // namespace

// The client area: everything below the menu bar, painted green.
class ClientArea : public QWidget {
  public:
    ClientArea(CExportEdbDlg* dialog, QWidget* parent) : QWidget(parent), dialog_(dialog) {}

  protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.fillRect(event->rect(), kBackground);
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        dialog_->ClientResized();
    }

  private:
    CExportEdbDlg* dialog_;
};

// The layout's view of the client area.
class WidgetLayoutHost final : public LayoutHost {
  public:
    WidgetLayoutHost(CExportEdbDlg& dialog, QWidget& client) : dialog_(dialog), client_(client) {}

    ControlHandle FindControl(int id) override { return HandleOf(dialog_.Control(id)); }
    std::vector<int> ChildControlIds() override {
        std::vector<int> ids;
        for (const TemplateControl& control : kMainTemplate) {
            if (control.id != kIdNone) {
                ids.push_back(control.id);
            }
        }
        return ids;
    }
    LayoutRect ControlRect(ControlHandle control) override {
        const QRect r = WidgetOf(control)->geometry();
        return LayoutRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    LayoutRect ClientRect() override { return LayoutRect{0, 0, client_.width(), client_.height()}; }
    int VerticalScrollBarWidth() override {
        return client_.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &client_);
    }
    int HorizontalScrollBarHeight() override {
        return client_.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &client_);
    }
    ControlHandle CreateSizeGrip(const LayoutRect& rect) override {
        grip_ = new QSizeGrip(&client_);
        grip_->setGeometry(ToQRect(rect));
        grip_->show();
        grip_->raise();
        return HandleOf(grip_);
    }
    bool IsMaximized() override { return dialog_.isMaximized(); }
    bool IsVisible(ControlHandle control) override { return !WidgetOf(control)->isHidden(); }
    void SetVisible(ControlHandle control, bool visible) override {
        WidgetOf(control)->setVisible(visible);
    }
    void MoveControls(const std::vector<ControlMove>& moves) override {
        const bool updates = client_.updatesEnabled();
        client_.setUpdatesEnabled(false);
        for (const ControlMove& move : moves) {
            WidgetOf(move.control)
                ->setGeometry(move.x, move.y, std::max(0, move.width), std::max(0, move.height));
        }
        client_.setUpdatesEnabled(updates);
    }

    QSizeGrip* Grip() const { return grip_; }

  private:
    CExportEdbDlg& dialog_;
    QWidget& client_;
    QSizeGrip* grip_ = nullptr;
};

CExportEdbDlg::CExportEdbDlg(DialogOptions options, QWidget* parent)
    : QWidget(parent), dialogs_(options.dialogs), endProcess_(std::move(options.endProcess)) {
    g_mainDialog.store(this);
    if (!endProcess_) {
        endProcess_ = [](int code) {
            std::fflush(nullptr);
            std::_Exit(code);
        };
    }
    setWindowTitle(ToQString(kWindowTitle));
    setWindowIcon(ProgramIcon());
    setFont(DialogFont());
    metrics_ = MetricsOf(font());

    CreateMenus();
    client_ = new app::ClientArea(this, this);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->setSpacing(0);
    frame->setMenuBar(menuBar_);
    frame->addWidget(client_);

    const LayoutRect clientRect = MapDialogRect(kDialogRect, metrics_);
    client_->resize(clientRect.Width(), clientRect.Height());
    resize(clientRect.Width(), clientRect.Height() + menuBar_->sizeHint().height());

    CreateControls();
    CreateStatusBar();
    InitialiseLayout();

    // Initial columns, grid lines only.
    list_->SetColumns({{QString(), 2},
                       {QStringLiteral("S.No"), 40},
                       {QStringLiteral("From"), 149},
                       {QStringLiteral("E-mail Subject"), 149},
                       {QStringLiteral("Date-time"), 149},
                       {QStringLiteral("Attachment"), 148}});
    list_->SetFullRowSelect(false);
    tree_->AttachImageList();

    std::error_code ec;
    applicationDirectory_ = options.applicationDirectory.empty() ? std::filesystem::current_path(ec)
                                                                 : options.applicationDirectory;
    sharedFolder_ = options.sharedFolder;
    ApplyUiState(UiState::kStart);
    if (!options.workFolder.empty()) {
        workFolder_ = options.workFolder;
        std::filesystem::create_directories(workFolder_, ec);
        return;
    }
    auto own = platform::WorkFolder::Create("ExportEdb");
    if (!own) {
        // Without a folder of its own the window has nowhere safe for its work files.
        dialogs_->ShowMessage(this, ToQString(platform::Utf8ToUtf16(own.error())),
                              ToQString(kRecoveryCaption), MessageIcon::kError, true);
        endProcess_(1);
        return;
    }
    ownWorkFolder_.emplace(std::move(*own));
    workFolder_ = ownWorkFolder_->path();
}

CExportEdbDlg::~CExportEdbDlg() {
    CExportEdbDlg* self = this;
    g_mainDialog.compare_exchange_strong(self, nullptr);
}

CExportEdbDlg* CExportEdbDlg::MainDialog() {
    return g_mainDialog.load();
}

void CExportEdbDlg::CreateMenus() {
    menuBar_ = new QMenuBar(this);
    auto add = [this](QMenu* menu, const QString& text, int command) {
        QAction* action = menu->addAction(text);
        action->setData(command);
        connect(action, &QAction::triggered, this, [this, command] { Command(command); });
        commandsById_[command] = action;
    };
    QMenu* file = menuBar_->addMenu(QStringLiteral("File"));
    add(file, QStringLiteral("Select File"), kCmdSelectFile);
    add(file, QStringLiteral("Repair"), kCmdRepair);
    add(file, QStringLiteral("Save"), kCmdSave);
    add(file, QStringLiteral("Filter Items..."), kCmdFilter);
    add(file, QStringLiteral("Exit"), kCmdExit);
    QMenu* help = menuBar_->addMenu(QStringLiteral("Help"));
    add(help, QStringLiteral("Help Topic"), kCmdHelpTopic);
    add(help, QStringLiteral("About "), kCmdAbout);
    // There is no window menu to extend here, so its About item joins the Help menu.
    help->addSeparator();
    add(help, QStringLiteral("&About Quorvale EDB to MSG"), kCmdSystemAbout);
}

void CExportEdbDlg::CreateControls() {
    for (const TemplateControl& entry : kMainTemplate) {
        QWidget* widget = nullptr;
        const QString text = ToQString(entry.text);
        switch (entry.kind) {
            case ControlKind::kBitmap:
                widget = new BannerPicture(entry.resource, client_);
                break;
            case ControlKind::kLabel: {
                auto* label = new QLabel(text, client_);
                ConfigureLabel(label);
                widget = label;
                break;
            }
            case ControlKind::kTransparentLabel: {
                auto* label = new CTransparentStatic(client_);
                label->SetText(text);
                valueLabels_[entry.id] = label;
                widget = label;
                break;
            }
            case ControlKind::kEdit:
                pathBox_ = new QLineEdit(client_);
                widget = pathBox_;
                break;
            case ControlKind::kButton: {
                auto* button = new QPushButton(text, client_);
                button->setAutoDefault(false);
                const int id = entry.id;
                connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
                if (id == kIdBrowse) {
                    browse_ = button;
                } else if (id == kIdScanFile) {
                    scanFile_ = button;
                } else if (id == kIdStop) {
                    stop_ = button;
                } else {
                    save_ = button;
                }
                widget = button;
                break;
            }
            case ControlKind::kTree:
                tree_ = new CFolderTreeCtrl1(client_);
                connect(tree_, &CFolderTreeCtrl1::ListingRequested, this, [this](TreeHandle item) {
                    if (commands_ != nullptr) {
                        commands_->OnFolderItemPressed(item);
                    }
                });
                connect(tree_, &CFolderTreeCtrl1::TreeClicked, this, [this] {
                    if (commands_ != nullptr) {
                        commands_->OnTreeClicked();
                    }
                });
                widget = tree_;
                break;
            case ControlKind::kList:
                list_ = new ItemListCtrl(client_);
                connect(list_, &ItemListCtrl::Clicked, this, [this] {
                    if (commands_ != nullptr) {
                        commands_->OnItemListClicked();
                    }
                });
                widget = list_;
                break;
            case ControlKind::kBrowser:
                preview_ = new CExplorer1(client_);
                widget = preview_;
                break;
            case ControlKind::kProgress:
                progress_ = new QProgressBar(client_);
                progress_->setRange(0, 100);
                progress_->setValue(0);
                progress_->setTextVisible(false);
                widget = progress_;
                break;
        }
        widget->setGeometry(ToQRect(MapDialogRect(entry.rect, metrics_)));
        if (entry.id != kIdNone) {
            widget->setObjectName(QStringLiteral("control%1").arg(entry.id));
            controls_[entry.id] = widget;
        }
        templateWidgets_.push_back(widget);
    }
    mailFormat_ = new QComboBox(client_);
    mailFormat_->addItems({QStringLiteral(".msg"), QStringLiteral(".eml")});
    mailFormat_->setToolTip(
        QStringLiteral("Save writes mail as Outlook .msg or as MIME .eml files"));
    mailFormat_->setGeometry(ToQRect(MapDialogRect(kMailFormatRect, metrics_)));
    mailFormat_->setObjectName(QStringLiteral("control%1").arg(kIdMailFormat));
    controls_[kIdMailFormat] = mailFormat_;
    connect(mailFormat_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (commands_ != nullptr) {
            commands_->OnMailFormatChosen(index == 1);
        }
    });
    recover_ = new QCheckBox(ToQString(kRecoverCaption), client_);
    recover_->setToolTip(QStringLiteral(
        "Scan File reads every page of the file for the items of a damaged store, and Save "
        "also writes the items no folder lists into \"Recovered items\""));
    recover_->setGeometry(ToQRect(MapDialogRect(kRecoverRect, metrics_)));
    recover_->setObjectName(QStringLiteral("control%1").arg(kIdRecover));
    controls_[kIdRecover] = recover_;
    connect(recover_, &QCheckBox::toggled, this, [this](bool on) {
        if (commands_ != nullptr) {
            commands_->OnRecoverChosen(on);
        }
    });
}

void CExportEdbDlg::CreateStatusBar() {
    statusBar_ = new QStatusBar(client_);
    statusBar_->setSizeGripEnabled(false);
    const int widths[2] = {kStatusPart0Right, kStatusPart1Right - kStatusPart0Right};
    const QString texts[2] = {ToQString(kStatusBarProduct), ToQString(kProductWebPage)};
    for (int i = 0; i < 2; ++i) {
        statusParts_[i] = new QLabel(texts[i], statusBar_);
        statusParts_[i]->setTextFormat(Qt::PlainText);
        statusParts_[i]->setFixedWidth(widths[i]);
        statusBar_->addWidget(statusParts_[i]);
    }
    statusBar_->show();
}

void CExportEdbDlg::InitialiseLayout() {
    for (const TemplateAnchor& anchor : kMainAnchors) {
        layout_.AddAnchor(anchor.id, anchor.flags);
    }
    layoutHost_ = std::make_unique<WidgetLayoutHost>(*this, *client_);
    layout_.Initialise(*layoutHost_, ClientScreenRect());
    ClientResized();
}

LayoutRect CExportEdbDlg::ClientScreenRect() const {
    const QPoint origin = client_->mapToGlobal(QPoint(0, 0));
    return LayoutRect{origin.x(), origin.y(), origin.x() + client_->width(),
                      origin.y() + client_->height()};
}

void CExportEdbDlg::ClientResized() {
    if (preview_ == nullptr || statusBar_ == nullptr) {
        return;
    }
    const int cx = client_->width();
    const int cy = client_->height();
    const LayoutRect pane = PreviewPaneRect(cx, cy, metrics_);
    preview_->setGeometry(pane.left, pane.top, std::max(0, pane.Width()),
                          std::max(0, pane.Height()));
    const int barHeight = statusBar_->sizeHint().height();
    statusBar_->setGeometry(0, cy - barHeight, cx, barHeight);
    if (QWidget* grip = SizeGrip()) {
        grip->raise();
    }
    layout_.Apply(ClientScreenRect());
    client_->update();
}

QWidget* CExportEdbDlg::Control(int id) const {
    const auto it = controls_.find(id);
    return it != controls_.end() ? it->second : nullptr;
}

QWidget* CExportEdbDlg::ClientArea() const {
    return client_;
}

QWidget* CExportEdbDlg::TemplateWidget(std::size_t index) const {
    return index < templateWidgets_.size() ? templateWidgets_[index] : nullptr;
}

QAction* CExportEdbDlg::MenuCommand(int command) const {
    const auto it = commandsById_.find(command);
    return it != commandsById_.end() ? it->second : nullptr;
}

QLabel* CExportEdbDlg::StatusBarPart(int part) const {
    return part >= 0 && part < 2 ? statusParts_[part] : nullptr;
}

QWidget* CExportEdbDlg::SizeGrip() const {
    return layoutHost_ != nullptr ? layoutHost_->Grip() : nullptr;
}

void CExportEdbDlg::ShowInitial() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - rect().center());
    }
    showMaximized();
}

void CExportEdbDlg::Command(int command) {
    switch (command) {
        case kIdBrowse:
        case kCmdSelectFile:
            if (commands_ != nullptr) {
                commands_->OnBrowse();
            }
            break;
        case kIdScanFile:
        case kCmdRepair:
            if (commands_ != nullptr) {
                commands_->OnScanFile();
            }
            break;
        case kIdStop:
            if (commands_ != nullptr) {
                commands_->OnStop();
            }
            break;
        case kIdSave:
        case kCmdSave:
            if (commands_ != nullptr) {
                commands_->OnSave();
            }
            break;
        case kCmdFilter:
            if (commands_ != nullptr) {
                commands_->OnFilter();
            }
            break;
        case kCmdExit:
            if (ConfirmExit(ExitPath::kExitCommand)) {
                exitConfirmed_ = true;
                close();
            }
            break;
        case kCmdHelpTopic:
            OpenHelp();
            break;
        case kCmdAbout:
        case kCmdSystemAbout:
            ShowAbout();
            break;
        default:
            break;
    }
}

// ---- Front end ----

TreeHandle CExportEdbDlg::InsertTreeItem(TreeHandle parent, std::u16string_view text, int image) {
    return InsertTreeItemAs(ReserveTreeHandle(), parent, text, image);
}

TreeHandle CExportEdbDlg::ReserveTreeHandle() {
    return tree_->ReserveHandle();
}

TreeHandle CExportEdbDlg::InsertTreeItemAs(TreeHandle item, TreeHandle parent,
                                           std::u16string_view text, int image) {
    return OnUiThread([&] { return tree_->InsertItemAs(item, parent, ToQString(text), image); });
}

void CExportEdbDlg::ExpandTreeRoot() {
    OnUiThread([&] { tree_->ExpandRoot(); });
}

void CExportEdbDlg::ClearTree() {
    OnUiThread([&] { tree_->DeleteAllItems(); });
}

bool CExportEdbDlg::IsTreeItemChecked(TreeHandle item) {
    return OnUiThread([&] { return tree_->IsChecked(item); });
}

std::u16string CExportEdbDlg::TreeItemText(TreeHandle item) {
    return OnUiThread([&] { return tree_->TextOf(item).toStdU16String(); });
}

void CExportEdbDlg::SetListColumns(const std::vector<ItemListColumn>& columns) {
    OnUiThread([&] { list_->SetColumns(columns); });
}

void CExportEdbDlg::AppendListRow(const std::vector<std::u16string>& texts) {
    OnUiThread([&] {
        QStringList row;
        for (const std::u16string& text : texts) {
            row.append(QString::fromStdU16String(text));
        }
        list_->AppendRow(row);
    });
}

void CExportEdbDlg::AppendListRows(std::vector<std::vector<std::u16string>> rows) {
    OnUiThread([&] {
        std::vector<QStringList> shown;
        shown.reserve(rows.size());
        for (const std::vector<std::u16string>& texts : rows) {
            QStringList row;
            row.reserve(static_cast<qsizetype>(texts.size()));
            for (const std::u16string& text : texts) {
                row.append(QString::fromStdU16String(text));
            }
            shown.push_back(std::move(row));
        }
        list_->AppendRows(std::move(shown));
    });
}

void CExportEdbDlg::ClearListRows() {
    OnUiThread([&] { list_->DeleteAllRows(); });
}

void CExportEdbDlg::SetListFullRowSelect(bool on) {
    OnUiThread([&] { list_->SetFullRowSelect(on); });
}

int CExportEdbDlg::ListSelectionMark() {
    return OnUiThread([&] { return list_->SelectionMark(); });
}

std::vector<std::u16string> CExportEdbDlg::ListRowTexts(int row, int count) {
    return OnUiThread([&] {
        std::vector<std::u16string> texts;
        for (const QString& text : list_->RowTexts(row, count)) {
            texts.push_back(text.toStdU16String());
        }
        return texts;
    });
}

void CExportEdbDlg::SetProgress(int position) {
    OnUiThread([&] { progress_->setValue(position); });
}

void CExportEdbDlg::SetStatusText(std::u16string_view text) {
    OnUiThread([&] { valueLabels_.at(kIdStatusLine)->SetText(ToQString(text)); });
}

void CExportEdbDlg::SetDetailLabel(DetailLabel label, std::u16string_view text) {
    int id = kIdFromValue;
    switch (label) {
        case DetailLabel::kFrom:
            id = kIdFromValue;
            break;
        case DetailLabel::kTo:
            id = kIdToValue;
            break;
        case DetailLabel::kSubject:
            id = kIdSubjectValue;
            break;
        case DetailLabel::kDate:
            id = kIdDateValue;
            break;
        case DetailLabel::kAttachments:
            id = kIdAttachmentValue;
            break;
    }
    OnUiThread([&] { valueLabels_.at(id)->SetText(ToQString(text)); });
}

void CExportEdbDlg::SetDatabasePathText(const std::filesystem::path& path) {
    OnUiThread([&] { pathBox_->setText(PathToQString(path)); });
}

void CExportEdbDlg::NavigatePreview(const std::filesystem::path& path) {
    OnUiThread([&] { preview_->Navigate(path); });
}

void CExportEdbDlg::EnableControl(DialogControl control, bool enabled) {
    OnUiThread([&] {
        switch (control) {
            case DialogControl::kBrowse:
                browse_->setEnabled(enabled);
                break;
            case DialogControl::kScanFile:
                scanFile_->setEnabled(enabled);
                break;
            case DialogControl::kStop:
                stop_->setEnabled(enabled);
                break;
            case DialogControl::kSave:
                // The mail format is chosen for the next save: it goes with Save, so that it
                // cannot change under a save that is running.
                save_->setEnabled(enabled);
                mailFormat_->setEnabled(enabled);
                break;
            case DialogControl::kFolderTree:
                tree_->setEnabled(enabled);
                break;
            case DialogControl::kItemList:
                list_->setEnabled(enabled);
                break;
            case DialogControl::kMenuSelectFile:
                commandsById_.at(kCmdSelectFile)->setEnabled(enabled);
                break;
            case DialogControl::kMenuRepair:
                commandsById_.at(kCmdRepair)->setEnabled(enabled);
                break;
            case DialogControl::kMenuSave:
                commandsById_.at(kCmdSave)->setEnabled(enabled);
                break;
        }
    });
}

bool CExportEdbDlg::IsControlEnabled(DialogControl control) {
    return OnUiThread([&] {
        switch (control) {
            case DialogControl::kBrowse:
                return browse_->isEnabled();
            case DialogControl::kScanFile:
                return scanFile_->isEnabled();
            case DialogControl::kStop:
                return stop_->isEnabled();
            case DialogControl::kSave:
                return save_->isEnabled();
            case DialogControl::kFolderTree:
                return tree_->isEnabled();
            case DialogControl::kItemList:
                return list_->isEnabled();
            case DialogControl::kMenuSelectFile:
                return commandsById_.at(kCmdSelectFile)->isEnabled();
            case DialogControl::kMenuRepair:
                return commandsById_.at(kCmdRepair)->isEnabled();
            case DialogControl::kMenuSave:
                return commandsById_.at(kCmdSave)->isEnabled();
        }
        return false;
    });
}

void CExportEdbDlg::ApplyUiState(UiState state) {
    OnUiThread([&] {
        auto set = [this](DialogControl control, bool enabled) { EnableControl(control, enabled); };
        switch (state) {
            case UiState::kStart:
                set(DialogControl::kBrowse, true);
                set(DialogControl::kScanFile, false);
                set(DialogControl::kStop, false);
                set(DialogControl::kSave, false);
                set(DialogControl::kFolderTree, true);
                set(DialogControl::kMenuSelectFile, true);
                break;
            case UiState::kFileChosen:
                set(DialogControl::kBrowse, true);
                set(DialogControl::kScanFile, true);
                set(DialogControl::kStop, true);
                set(DialogControl::kMenuSelectFile, true);
                break;
            case UiState::kScanning:
            case UiState::kScanFailed:
                set(DialogControl::kBrowse, false);
                set(DialogControl::kScanFile, false);
                set(DialogControl::kStop, true);
                set(DialogControl::kMenuSelectFile, false);
                break;
            case UiState::kScanCompleted:
                set(DialogControl::kBrowse, true);
                set(DialogControl::kScanFile, false);
                set(DialogControl::kStop, false);
                set(DialogControl::kSave, true);
                set(DialogControl::kFolderTree, true);
                set(DialogControl::kMenuSelectFile, true);
                break;
            case UiState::kScanStopped:
                set(DialogControl::kBrowse, true);
                set(DialogControl::kScanFile, false);
                set(DialogControl::kStop, true);
                set(DialogControl::kFolderTree, true);
                set(DialogControl::kMenuSelectFile, false);
                break;
        }
        // Nothing enables Repair and the Save command.
        set(DialogControl::kMenuRepair, false);
        set(DialogControl::kMenuSave, false);
    });
}

bool CExportEdbDlg::AskYesNo(std::u16string_view text, std::u16string_view caption) {
    return OnUiThread(
        [&] { return dialogs_->AskYesNo(this, ToQString(text), ToQString(caption)); });
}

void CExportEdbDlg::ShowMessage(std::u16string_view text, std::u16string_view caption,
                                MessageIcon icon, bool systemModal) {
    OnUiThread([&] {
        dialogs_->ShowMessage(this, ToQString(text), ToQString(caption), icon, systemModal);
    });
}

std::optional<std::filesystem::path> CExportEdbDlg::ChooseDatabaseFile() {
    return OnUiThread([&] {
        return dialogs_->ChooseOpenFile(this, ToQString(kOpenFileTitle),
                                        ToQString(kOpenFileFilter));
    });
}

std::optional<std::filesystem::path> CExportEdbDlg::ChooseSaveFolder() {
    return OnUiThread([&] { return dialogs_->ChooseFolder(this, ToQString(kSaveFolderTitle)); });
}

std::optional<store::ItemFilterTexts> CExportEdbDlg::EditItemFilter(
    const store::ItemFilterTexts& texts) {
    return OnUiThread([&]() -> std::optional<store::ItemFilterTexts> {
        CFilterDlg dialog(texts, this);
        if (dialogs_->RunModal(dialog) != QDialog::Accepted) {
            return std::nullopt;
        }
        return dialog.Texts();
    });
}

// ---- Shell commands ----

void CExportEdbDlg::ShowAbout() {
    CAboutDlg about(this);
    dialogs_->RunModal(about);
}

void CExportEdbDlg::OpenHelp() {
    std::filesystem::path help = applicationDirectory_ / std::u16string(kHelpFileName);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(help, ec) && !sharedFolder_.empty() &&
        std::filesystem::is_regular_file(sharedFolder_ / std::u16string(kHelpFileName), ec)) {
        help = sharedFolder_ / std::u16string(kHelpFileName);
    }
    if (!std::filesystem::is_regular_file(help, ec)) {
        dialogs_->ShowMessage(
            this,
            QStringLiteral("The help file \"%1\" was not found in %2.")
                .arg(ToQString(kHelpFileName), PathToQString(applicationDirectory_)),
            ToQString(kRecoveryCaption), MessageIcon::kWarning, false);
        return;
    }
    if (!dialogs_->OpenDocument(help)) {
        dialogs_->ShowMessage(
            this,
            QStringLiteral("The help file \"%1\" could not be opened.").arg(PathToQString(help)),
            ToQString(kRecoveryCaption), MessageIcon::kWarning, false);
    }
}

bool CExportEdbDlg::ConfirmExit(ExitPath path) {
    const char16_t* question = path == ExitPath::kClose ? kCloseQuestion : kExitQuestion;
    if (!dialogs_->AskYesNo(this, ToQString(question), ToQString(kRecoveryCaption))) {
        return false;
    }
    if (beforeExit_) {
        beforeExit_();
    }
    platform::RemoveWorkFolder(workFolder_);
    endProcess_(0);
    return true;
}

void CExportEdbDlg::closeEvent(QCloseEvent* event) {
    if (exitConfirmed_) {
        event->accept();
        return;
    }
    if (ConfirmExit(ExitPath::kClose)) {
        exitConfirmed_ = true;
        event->accept();
    } else {
        event->ignore();
    }
}

void CExportEdbDlg::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier &&
        (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        event->accept();
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace app
