#include "app/window/self_run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPixmap>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QUrl>
#include <QVariant>

#include "app/window/dialog_template.h"
#include "app/window/explorer.h"
#include "app/window/export_edb_dlg.h"
#include "app/window/window_front_end.h"

namespace app {

namespace {

namespace fs = std::filesystem;

constexpr int kPollMilliseconds = 10;
constexpr qint64 kIdleTimeoutMilliseconds = 60000;
// The window's size in the picture.
constexpr int kPictureWidth = 1180;
constexpr int kPictureHeight = 760;

void Say(const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString PathText(const fs::path& path) {
    return QString::fromStdU16String(path.u16string());
}

// A left click as the mouse makes it: press and release at a point of the widget.
void Click(QWidget* widget, QPoint at) {
    const QPointF local(at);
    const QPointF global(widget->mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

void ClickButton(CExportEdbDlg& dialog, int id) {
    if (auto* button = qobject_cast<QAbstractButton*>(dialog.Control(id))) {
        button->click();
    }
}

}  // namespace

std::optional<SelfRunOptions> SelfRunFromArguments(const QStringList& arguments) {
    const QString test = QStringLiteral("--self-test=");
    const QString picture = QStringLiteral("--screenshot=");
    std::optional<SelfRunOptions> options;
    fs::path screenshot;
    for (const QString& argument : arguments) {
        if (argument.startsWith(test)) {
            options.emplace();
            options->store = fs::path(argument.mid(test.size()).toStdU16String());
        } else if (argument.startsWith(picture)) {
            screenshot = fs::path(argument.mid(picture.size()).toStdU16String());
        }
    }
    if (options) {
        options->screenshot = screenshot;
    }
    return options;
}

// ---- Dialogs ----

bool SelfRunDialogs::AskYesNo(QWidget*, const QString& text, const QString&) {
    Say(QStringLiteral("question: ") + text.trimmed() + QStringLiteral(" - Yes"));
    return true;
}

void SelfRunDialogs::ShowMessage(QWidget*, const QString& text, const QString&, MessageIcon, bool) {
    Say(QStringLiteral("message: ") + text);
    messages_.push_back(text);
}

std::optional<fs::path> SelfRunDialogs::ChooseOpenFile(QWidget*, const QString&, const QString&) {
    return store_;
}

std::optional<fs::path> SelfRunDialogs::ChooseFolder(QWidget*, const QString&) {
    return std::nullopt;
}

int SelfRunDialogs::RunModal(QDialog&) {
    return 0;
}

bool SelfRunDialogs::OpenDocument(const fs::path&) {
    return false;
}

// ---- The run ----

SelfRun::SelfRun(SelfRunOptions options, SelfRunDialogs& dialogs)
    : options_(std::move(options)), dialogs_(dialogs) {}

void SelfRun::EndProcess(int code) {
    Say(failed_ ? QStringLiteral("self-test failed") : QStringLiteral("self-test passed"));
    std::fflush(nullptr);
    std::_Exit(failed_ ? 1 : code);
}

void SelfRun::Fail(const std::string& what) {
    Say(QStringLiteral("failure: ") + QString::fromStdString(what));
    failed_ = true;
}

void SelfRun::Start(CExportEdbDlg& dialog, WindowFrontEnd& frontEnd) {
    dialog_ = &dialog;
    frontEnd_ = &frontEnd;
    if (options_.screenshot.empty()) {
        dialog.ShowInitial();
    } else {
        dialog.resize(kPictureWidth, kPictureHeight);
        dialog.show();
    }
    QTimer::singleShot(0, this, [this] {
        Say(QStringLiteral("store: ") + PathText(options_.store));
        ClickButton(*dialog_, kIdBrowse);
        if (!dialog_->IsControlEnabled(DialogControl::kScanFile)) {
            Fail("Browse did not enable Scan File");
            Leave();
            return;
        }
        ClickButton(*dialog_, kIdScanFile);
        WhenIdle([this] { AfterScan(); });
    });
}

void SelfRun::WhenIdle(std::function<void()> next) {
    auto* timer = new QTimer(this);
    QElapsedTimer clock;
    clock.start();
    connect(timer, &QTimer::timeout, this, [this, timer, clock, next = std::move(next)] {
        const bool timedOut = clock.elapsed() > kIdleTimeoutMilliseconds;
        if (frontEnd_->Busy() && !timedOut) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (timedOut) {
            Fail("the work did not end within a minute");
            Leave();
            return;
        }
        next();
    });
    timer->start(kPollMilliseconds);
}

void SelfRun::AfterScan() {
    CFolderTreeCtrl1* tree = dialog_->FolderTree();
    QTreeWidgetItem* root = tree->ItemFromHandle(tree->Root());
    const bool completed =
        !dialogs_.messages().empty() &&
        dialogs_.messages().back() == QStringLiteral("Analysis Completed sucessfully");
    if (!completed || root == nullptr) {
        Fail("the scan did not complete");
        Leave();
        return;
    }
    int folders = 0;
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem* mailbox = root->child(i);
        folders += mailbox->childCount();
        Say(QStringLiteral("mailbox: %1 (%2 folders)")
                .arg(mailbox->text(0))
                .arg(mailbox->childCount()));
    }
    Say(QStringLiteral("scanned: %1 mailboxes, %2 folders").arg(root->childCount()).arg(folders));
    if (root->childCount() == 0) {
        Fail("the store shows no mailbox");
    }
    // The status page of a completed scan shows its image, found where the program's shared
    // files are, in the build folder or installed.
    const QVariant image = dialog_->Preview()->document()->resource(
        QTextDocument::ImageResource, QUrl(QStringLiteral("done.gif")));
    if (image.isValid() && !image.value<QPixmap>().isNull()) {
        Say(QStringLiteral("status image: done.gif"));
    } else {
        Fail("the status page does not show its image done.gif");
    }
    if (options_.screenshot.empty() || failed_) {
        Leave();
        return;
    }
    Picture();
}

void SelfRun::Picture() {
    CFolderTreeCtrl1* tree = dialog_->FolderTree();
    QTreeWidgetItem* root = tree->ItemFromHandle(tree->Root());
    QTreeWidgetItem* mailbox = root->childCount() > 0 ? root->child(0) : nullptr;
    QTreeWidgetItem* inbox = nullptr;
    for (int i = 0; mailbox != nullptr && i < mailbox->childCount(); ++i) {
        if (mailbox->child(i)->text(0) == QStringLiteral("Inbox")) {
            inbox = mailbox->child(i);
            break;
        }
    }
    if (inbox == nullptr) {
        Fail("the first mailbox has no Inbox");
        Leave();
        return;
    }
    mailbox->setExpanded(true);
    QCoreApplication::processEvents();
    // Check the mailbox, as for a save.
    Click(tree->viewport(), tree->CheckBoxRect(mailbox).center());
    WhenIdle([this, tree, inbox] {
        // List the Inbox.
        const QRect row = tree->visualItemRect(inbox);
        Click(tree->viewport(), QPoint(tree->CheckBoxRect(inbox).right() + 30, row.center().y()));
        WhenIdle([this] {
            ItemListCtrl* list = dialog_->ItemList();
            if (list->rowCount() == 0) {
                Fail("the Inbox lists no item");
                Leave();
                return;
            }
            // Preview its first item.
            const QRect cell = list->visualRect(list->model()->index(0, 4));
            Click(list->viewport(), cell.center());
            QTimer::singleShot(200, this, [this] {
                const QPixmap picture = dialog_->grab();
                const fs::path file = options_.screenshot;
                std::error_code ec;
                if (file.has_parent_path()) {
                    fs::create_directories(file.parent_path(), ec);
                }
                if (picture.save(PathText(file), "PNG")) {
                    Say(QStringLiteral("picture: %1 (%2 x %3)")
                            .arg(PathText(file))
                            .arg(picture.width())
                            .arg(picture.height()));
                } else {
                    Fail("cannot save the picture to " + file.string());
                }
                Leave();
            });
        });
    });
}

void SelfRun::Leave() {
    // The window's own exit: the question, the work folder's removal, the end of the process.
    QTimer::singleShot(0, this, [this] { dialog_->close(); });
}

}  // namespace app
