// The main window driven through its real widgets on the off-screen platform.
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

#include <QAbstractItemModel>
#include <QAction>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include "app/window/about_dlg.h"
#include "app/window/dialog_template.h"
#include "app/window/explorer.h"
#include "app/window/transparent_static.h"
#include "window_fixture.h"

namespace {

using app::CExportEdbDlg;
using app::DialogControl;
using testing_support::WindowTest;

QRect ToQRect(const app::LayoutRect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

std::map<int, QRect> Geometries(const CExportEdbDlg& window) {
    std::map<int, QRect> rects;
    for (const app::TemplateControl& control : app::kMainTemplate) {
        if (control.id != app::kIdNone) {
            rects[control.id] = window.Control(control.id)->geometry();
        }
    }
    return rects;
}

TEST_F(WindowTest, EveryTemplateControlStandsAtItsPlace) {
    const app::DialogFontMetrics metrics = window->FontMetrics();
    ASSERT_GT(metrics.averageCharWidth, 0);
    ASSERT_GT(metrics.charHeight, 0);
    const QRect client = ToQRect(app::MapDialogRect(app::kDialogRect, metrics));
    EXPECT_EQ(window->ClientArea()->size(), client.size());

    for (std::size_t i = 0; i < app::kMainTemplate.size(); ++i) {
        const app::TemplateControl& entry = app::kMainTemplate[i];
        SCOPED_TRACE(::testing::Message() << "template control " << i << " id " << entry.id);
        QWidget* widget = window->TemplateWidget(i);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), window->ClientArea());
        if (entry.id != app::kIdNone) {
            EXPECT_EQ(window->Control(entry.id), widget);
        }
        if (entry.id == app::kIdPreview) {
            // The size step places the preview pane itself.
            EXPECT_EQ(widget->geometry(),
                      ToQRect(app::PreviewPaneRect(client.width(), client.height(), metrics)));
            // Beside the tree, below the labels, above the progress bar.
            EXPECT_GE(widget->x(), window->FolderTree()->geometry().right());
            EXPECT_GT(widget->y(), window->Control(app::kIdAttachmentValue)->geometry().bottom());
            EXPECT_LT(widget->geometry().bottom(), window->Progress()->y());
            EXPECT_NE(qobject_cast<app::CExplorer1*>(widget), nullptr);
            continue;
        }
        EXPECT_EQ(widget->geometry(), ToQRect(app::MapDialogRect(entry.rect, metrics)));
        const QString text = QString::fromStdU16String(std::u16string(entry.text));
        switch (entry.kind) {
            case app::ControlKind::kButton:
                ASSERT_NE(qobject_cast<QPushButton*>(widget), nullptr);
                EXPECT_EQ(qobject_cast<QPushButton*>(widget)->text(), text);
                break;
            case app::ControlKind::kLabel:
            case app::ControlKind::kTransparentLabel: {
                auto* label = qobject_cast<QLabel*>(widget);
                ASSERT_NE(label, nullptr);
                EXPECT_EQ(label->text(), text);
                EXPECT_FALSE(label->autoFillBackground());
                EXPECT_FALSE(label->wordWrap());
                EXPECT_EQ(label->textFormat(), Qt::PlainText);
                if (entry.kind == app::ControlKind::kTransparentLabel) {
                    EXPECT_NE(qobject_cast<app::CTransparentStatic*>(widget), nullptr);
                }
                break;
            }
            case app::ControlKind::kEdit:
                EXPECT_NE(qobject_cast<QLineEdit*>(widget), nullptr);
                break;
            case app::ControlKind::kProgress: {
                auto* bar = qobject_cast<QProgressBar*>(widget);
                ASSERT_NE(bar, nullptr);
                EXPECT_EQ(bar->minimum(), 0);
                EXPECT_EQ(bar->maximum(), 100);
                break;
            }
            default:
                break;
        }
    }
    EXPECT_EQ(window->Control(app::kIdFolderTree), window->FolderTree());
    EXPECT_EQ(window->Control(app::kIdItemList), window->ItemList());
}

TEST_F(WindowTest, StartsWithOnlyBrowseEnabledAndTheWorkFolderCreated) {
    EXPECT_EQ(CExportEdbDlg::MainDialog(), window.get());
    EXPECT_TRUE(std::filesystem::is_directory(workFolder));
    EXPECT_EQ(window->ApplicationDirectory(), appFolder);
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kBrowse));
    EXPECT_FALSE(window->IsControlEnabled(DialogControl::kScanFile));
    EXPECT_FALSE(window->IsControlEnabled(DialogControl::kStop));
    EXPECT_FALSE(window->IsControlEnabled(DialogControl::kSave));
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kFolderTree));
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kMenuSelectFile));
    EXPECT_FALSE(window->IsControlEnabled(DialogControl::kMenuRepair));
    EXPECT_FALSE(window->IsControlEnabled(DialogControl::kMenuSave));

    // Menus in order, with their texts.
    const QList<QAction*> menus = window->MenuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), "File");
    EXPECT_EQ(menus[1]->text(), "Help");
    const std::pair<int, const char*> menuCommands[] = {
        {app::kCmdSelectFile, "Select File"},
        {app::kCmdRepair, "Repair"},
        {app::kCmdSave, "Save"},
        {app::kCmdExit, "Exit"},
        {app::kCmdHelpTopic, "Help Topic"},
        {app::kCmdAbout, "About "},
        {app::kCmdSystemAbout, "&About Quorvale EDB to MSG"}};
    for (const auto& [command, text] : menuCommands) {
        ASSERT_NE(window->MenuCommand(command), nullptr) << command;
        EXPECT_EQ(window->MenuCommand(command)->text(), QString::fromUtf8(text));
    }

    // The list's first columns, grid lines only.
    app::ItemListCtrl* list = window->ItemList();
    const std::pair<const char*, int> columns[] = {{"", 2},
                                                   {"S.No", 40},
                                                   {"From", 149},
                                                   {"E-mail Subject", 149},
                                                   {"Date-time", 149},
                                                   {"Attachment", 148}};
    ASSERT_EQ(list->columnCount(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(list->model()->headerData(i, Qt::Horizontal).toString(),
                  QString::fromUtf8(columns[i].first));
        EXPECT_EQ(list->columnWidth(i), columns[i].second);
    }
    EXPECT_TRUE(list->showGrid());
    EXPECT_FALSE(list->FullRowSelect());

    EXPECT_EQ(window->StatusBarPart(0)->text(), "Quorvale EDB to MSG Converter Software");
    EXPECT_EQ(window->StatusBarPart(0)->width(), 300);
    EXPECT_EQ(window->StatusBarPart(1)->width(), 299);
    EXPECT_FALSE(window->StatusBarPart(1)->text().isEmpty());
    EXPECT_EQ(window->FolderTree()->ImageCount(), 17);
}

TEST_F(WindowTest, WiderBy100FollowsTheAnchors) {
    ShowNormal();
    const QSize client = window->ClientArea()->size();
    const std::map<int, QRect> before = Geometries(*window);
    window->resize(window->width() + 100, window->height());
    ASSERT_TRUE(WaitForClientSize(client + QSize(100, 0)));
    const std::map<int, QRect> after = Geometries(*window);

    for (int id :
         {app::kIdBrowse, app::kIdScanFile, app::kIdStop, app::kIdSave, app::kIdStatusLine}) {
        EXPECT_EQ(after.at(id), before.at(id).translated(100, 0)) << id;
    }
    for (int id : {app::kIdItemList, app::kIdPathBox, app::kIdProgress, app::kIdRightBanner,
                   app::kIdToLabel, app::kIdDateLabel, app::kIdToValue}) {
        EXPECT_EQ(after.at(id), before.at(id).adjusted(0, 0, 100, 0)) << id;
    }
    for (int id : {app::kIdFolderTree, app::kIdFromValue, app::kIdSubjectValue,
                   app::kIdAttachmentValue, app::kIdDateValue}) {
        EXPECT_EQ(after.at(id), before.at(id)) << id;
    }
    EXPECT_EQ(after.at(app::kIdPreview),
              ToQRect(app::PreviewPaneRect(client.width() + 100, client.height(),
                                           window->FontMetrics())));
    // The grip stays in the bottom-right corner.
    EXPECT_EQ(window->SizeGrip()->geometry().right(), window->ClientArea()->width() - 1);
}

TEST_F(WindowTest, TallerBy50StretchesTheTreeAndMovesTheBottomRow) {
    ShowNormal();
    const QSize client = window->ClientArea()->size();
    const std::map<int, QRect> before = Geometries(*window);
    window->resize(window->width(), window->height() + 50);
    ASSERT_TRUE(WaitForClientSize(client + QSize(0, 50)));
    const std::map<int, QRect> after = Geometries(*window);

    EXPECT_EQ(after.at(app::kIdFolderTree), before.at(app::kIdFolderTree).adjusted(0, 0, 0, 50));
    EXPECT_EQ(after.at(app::kIdProgress), before.at(app::kIdProgress).translated(0, 50));
    EXPECT_EQ(after.at(app::kIdStatusLine), before.at(app::kIdStatusLine).translated(0, 50));
    for (int id :
         {app::kIdItemList, app::kIdBrowse, app::kIdScanFile, app::kIdStop, app::kIdSave}) {
        EXPECT_EQ(after.at(id), before.at(id)) << id;
    }
    EXPECT_EQ(
        after.at(app::kIdPreview),
        ToQRect(app::PreviewPaneRect(client.width(), client.height() + 50, window->FontMetrics())));
    const QRect bar = window->StatusBar()->geometry();
    EXPECT_EQ(bar.bottom(), window->ClientArea()->height() - 1);
}

TEST_F(WindowTest, MovingTheWindowMovesNoControl) {
    ShowNormal();
    const std::map<int, QRect> before = Geometries(*window);
    window->move(window->pos() + QPoint(37, 21));
    Settle();
    QTest::qWait(20);
    EXPECT_EQ(Geometries(*window), before);
}

TEST_F(WindowTest, MaximisingHidesTheGripAndRestoringShowsIt) {
    ShowNormal();
    ASSERT_NE(window->SizeGrip(), nullptr);
    EXPECT_TRUE(window->SizeGrip()->isVisible());
    window->showMaximized();
    QTest::qWait(20);
    Settle();
    EXPECT_TRUE(window->isMaximized());
    EXPECT_FALSE(window->SizeGrip()->isVisible());
    window->showNormal();
    QTest::qWait(20);
    Settle();
    EXPECT_TRUE(window->SizeGrip()->isVisible());
}

TEST_F(WindowTest, ExitAnsweredNoKeepsTheWindowAndTheWorkFolder) {
    ShowNormal();
    dialogs.answers = {false, false};
    EXPECT_FALSE(window->close());
    window->MenuCommand(app::kCmdExit)->trigger();
    Settle();
    ASSERT_EQ(dialogs.questions.size(), 2u);
    EXPECT_EQ(dialogs.questions[0].text, QString::fromUtf16(app::kCloseQuestion));
    EXPECT_EQ(dialogs.questions[0].text, "Do you want to Exit ?       ");
    EXPECT_EQ(dialogs.questions[1].text,
              "Are you sure, you want to close this application..                       ");
    for (const auto& question : dialogs.questions) {
        EXPECT_EQ(question.caption, "Quorvale Systems Exchange Recovery");
    }
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(std::filesystem::is_directory(workFolder));
    EXPECT_TRUE(endCodes.empty());
}

TEST_F(WindowTest, ExitAnsweredYesRemovesTheWorkFolderAndEndsTheProcess) {
    ShowNormal();
    std::filesystem::create_directories(workFolder / "inner");
    std::ofstream(workFolder / "inner" / "part_lzfu.txt") << "x";
    bool folderThereBeforeExit = false;
    window->SetBeforeExit(
        [&] { folderThereBeforeExit = std::filesystem::exists(workFolder / "inner"); });
    dialogs.answers = {true};
    window->MenuCommand(app::kCmdExit)->trigger();
    Settle();
    EXPECT_TRUE(folderThereBeforeExit);
    EXPECT_FALSE(std::filesystem::exists(workFolder));
    EXPECT_EQ(endCodes, std::vector<int>{0});
    // The process end was only recorded, so the window closed the ordinary way, asking once.
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(dialogs.questions.size(), 1u);
}

TEST_F(WindowTest, WithoutAUsableTemporaryDirectorySaysWhyAndEnds) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("TMPDIR", (temp.path() / "not-there").c_str(), 1);
    testing_support::ScriptedDialogs own;
    std::vector<int> codes;
    app::DialogOptions options;
    options.dialogs = &own;
    options.endProcess = [&codes](int code) { codes.push_back(code); };
    app::CExportEdbDlg second(std::move(options));
    old != nullptr ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_EQ(codes, std::vector<int>{1});
    ASSERT_EQ(own.messages.size(), 1u);
    EXPECT_TRUE(own.messages[0].text.contains("not-there")) << own.messages[0].text.toStdString();
    EXPECT_TRUE(second.WorkFolder().empty());
}

TEST_F(WindowTest, EscapeAndEnterAskTheCloseQuestion) {
    ShowNormal();
    dialogs.answers = {false, false};
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyClick(window.get(), Qt::Key_Return);
    Settle();
    ASSERT_EQ(dialogs.questions.size(), 2u);
    EXPECT_EQ(dialogs.questions[0].text, QString::fromUtf16(app::kCloseQuestion));
    EXPECT_EQ(dialogs.questions[1].text, QString::fromUtf16(app::kCloseQuestion));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(std::filesystem::is_directory(workFolder));
}

TEST_F(WindowTest, AboutBoxFromBothMenuItems) {
    int okResults = 0;
    dialogs.onModal = [&](QDialog& dialog) {
        auto* about = qobject_cast<app::CAboutDlg*>(&dialog);
        EXPECT_NE(about, nullptr);
        if (about == nullptr) {
            return 0;
        }
        EXPECT_EQ(about->OkButton()->text(), "OK");
        // The OK button ends the box with Accepted.
        about->show();
        about->OkButton()->click();
        EXPECT_EQ(about->result(), QDialog::Accepted);
        okResults += about->result() == QDialog::Accepted ? 1 : 0;
        return about->result();
    };
    window->MenuCommand(app::kCmdAbout)->trigger();
    window->MenuCommand(app::kCmdSystemAbout)->trigger();
    ASSERT_EQ(dialogs.modalTitles.size(), 2u);
    for (const QString& title : dialogs.modalTitles) {
        EXPECT_EQ(title, QString::fromUtf16(app::kAboutCaption));
        EXPECT_TRUE(title.contains("3.0"));
    }
    EXPECT_EQ(okResults, 2);
}

TEST_F(WindowTest, HelpOpensTheFileFromTheStartFolderOrTheSharedFilesOrSaysItIsMissing) {
    window->MenuCommand(app::kCmdHelpTopic)->trigger();
    EXPECT_TRUE(dialogs.openedDocuments.empty());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains("quorvale-pst.chm"));

    // The installed help, when the start folder has none.
    std::filesystem::create_directories(sharedFolder);
    std::ofstream(sharedFolder / "quorvale-pst.chm") << "installed help";
    window->MenuCommand(app::kCmdHelpTopic)->trigger();
    ASSERT_EQ(dialogs.openedDocuments.size(), 1u);
    EXPECT_EQ(dialogs.openedDocuments[0], sharedFolder / "quorvale-pst.chm");

    // The start folder's own comes first.
    std::ofstream(appFolder / "quorvale-pst.chm") << "help";
    window->MenuCommand(app::kCmdHelpTopic)->trigger();
    ASSERT_EQ(dialogs.openedDocuments.size(), 2u);
    EXPECT_EQ(dialogs.openedDocuments[1], appFolder / "quorvale-pst.chm");
    EXPECT_EQ(dialogs.messages.size(), 1u);

    dialogs.openSucceeds = false;
    window->MenuCommand(app::kCmdHelpTopic)->trigger();
    EXPECT_EQ(dialogs.messages.size(), 2u);
}

TEST_F(WindowTest, ButtonsAndMenuCommandsReachTheSameHandlers) {
    ShowNormal();
    window->ApplyUiState(app::UiState::kFileChosen);
    window->EnableControl(DialogControl::kSave, true);
    QTest::mouseClick(window->Control(app::kIdBrowse), Qt::LeftButton);
    QTest::mouseClick(window->Control(app::kIdScanFile), Qt::LeftButton);
    QTest::mouseClick(window->Control(app::kIdStop), Qt::LeftButton);
    QTest::mouseClick(window->Control(app::kIdSave), Qt::LeftButton);
    window->MenuCommand(app::kCmdSelectFile)->trigger();
    // Repair and Save are grayed and do nothing until something enables them.
    window->MenuCommand(app::kCmdRepair)->trigger();
    window->MenuCommand(app::kCmdSave)->trigger();
    window->EnableControl(DialogControl::kMenuRepair, true);
    window->EnableControl(DialogControl::kMenuSave, true);
    window->MenuCommand(app::kCmdRepair)->trigger();
    window->MenuCommand(app::kCmdSave)->trigger();
    EXPECT_EQ(commands.calls, (std::vector<std::string>{"browse", "scan", "stop", "save", "browse",
                                                        "scan", "save"}));
    // A disabled button does nothing.
    commands.calls.clear();
    window->EnableControl(DialogControl::kBrowse, false);
    QTest::mouseClick(window->Control(app::kIdBrowse), Qt::LeftButton);
    EXPECT_TRUE(commands.calls.empty());
}

TEST_F(WindowTest, UiStatesSetTheControlsOfTheirRow) {
    using S = app::UiState;
    using C = DialogControl;
    auto state = [&] {
        std::string s;
        for (C c : {C::kBrowse, C::kScanFile, C::kStop, C::kSave, C::kFolderTree,
                    C::kMenuSelectFile, C::kMenuRepair, C::kMenuSave}) {
            s += window->IsControlEnabled(c) ? '1' : '0';
        }
        // The mail format choice goes with Save.
        EXPECT_EQ(window->Control(app::kIdMailFormat)->isEnabled(),
                  window->IsControlEnabled(C::kSave));
        return s;
    };
    window->ApplyUiState(S::kFileChosen);
    EXPECT_EQ(state(), "11101100");
    window->ApplyUiState(S::kScanning);
    window->EnableControl(C::kFolderTree, false);  // the scan does this once the store is open
    EXPECT_EQ(state(), "00100000");
    window->ApplyUiState(S::kScanFailed);
    EXPECT_EQ(state(), "00100000");
    window->ApplyUiState(S::kScanCompleted);
    EXPECT_EQ(state(), "10011100");
    window->ApplyUiState(S::kScanning);
    window->EnableControl(C::kFolderTree, false);
    window->ApplyUiState(S::kScanStopped);
    EXPECT_EQ(state(), "10111000");  // Save as before: enabled by the earlier completion
    window->ApplyUiState(S::kStart);
    EXPECT_EQ(state(), "10001100");
}

TEST_F(WindowTest, CallsFromAWorkerRunOnTheWindowThreadWhileTheWorkerWaits) {
    std::atomic<bool> done{false};
    app::TreeHandle root = app::kNoTreeHandle;
    app::TreeHandle mailbox = app::kNoTreeHandle;
    bool rootChecked = true;
    std::u16string mailboxText;
    std::vector<std::u16string> row;
    std::thread worker([&] {
        window->ClearTree();
        root = window->InsertTreeItem(app::kNoTreeHandle, u"/stores/priv1.edb", 0);
        mailbox = window->InsertTreeItem(root, u"Ann Example", 0);
        window->ExpandTreeRoot();
        rootChecked = window->IsTreeItemChecked(root);
        mailboxText = window->TreeItemText(mailbox);
        window->SetListColumns({{QString(), 5}, {"Type", 80}, {"S.No", 40}});
        window->AppendListRow({u"1a2b", u"IPM.Note", u"1", u"dropped"});
        row = window->ListRowTexts(0, 4);
        window->SetProgress(42);
        window->SetStatusText(u"Status: Getting MailBox List");
        window->EnableControl(DialogControl::kFolderTree, false);
        done = true;
    });
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    worker.join();
    ASSERT_TRUE(done);
    EXPECT_NE(root, app::kNoTreeHandle);
    EXPECT_NE(mailbox, app::kNoTreeHandle);
    EXPECT_FALSE(rootChecked);
    EXPECT_EQ(mailboxText, u"Ann Example");
    EXPECT_EQ(row, (std::vector<std::u16string>{u"1a2b", u"IPM.Note", u"1", u""}));
    EXPECT_TRUE(window->FolderTree()->ItemFromHandle(root)->isExpanded());
    EXPECT_EQ(window->Progress()->value(), 42);
    EXPECT_EQ(qobject_cast<QLabel*>(window->Control(app::kIdStatusLine))->text(),
              "Status: Getting MailBox List");
    EXPECT_FALSE(window->FolderTree()->isEnabled());
}

TEST_F(WindowTest, DetailLabelsShowTheirTextAsPlainText) {
    const std::pair<app::DetailLabel, int> labels[] = {
        {app::DetailLabel::kFrom, app::kIdFromValue},
        {app::DetailLabel::kTo, app::kIdToValue},
        {app::DetailLabel::kSubject, app::kIdSubjectValue},
        {app::DetailLabel::kDate, app::kIdDateValue},
        {app::DetailLabel::kAttachments, app::kIdAttachmentValue}};
    int n = 0;
    for (const auto& [label, id] : labels) {
        const std::u16string text =
            u"<b>value " + std::u16string(1, char16_t(u'0' + n++)) + u"</b>";
        window->SetDetailLabel(label, text);
        auto* widget = qobject_cast<QLabel*>(window->Control(id));
        EXPECT_EQ(widget->text(), QString::fromStdU16String(text)) << id;
        EXPECT_EQ(widget->textFormat(), Qt::PlainText);
    }
    window->SetDatabasePathText("/data/priv1.edb");
    EXPECT_EQ(qobject_cast<QLineEdit*>(window->Control(app::kIdPathBox))->text(),
              "/data/priv1.edb");
}

TEST_F(WindowTest, BackgroundIsGreenAndShowsThroughTheLabels) {
    ShowNormal();
    const QImage image = window->ClientArea()->grab().toImage();
    const app::DialogFontMetrics m = window->FontMetrics();
    const QColor green(176, 213, 138);
    // Between the tree (ends at x 157) and the list (starts at 160).
    const QPoint gap(app::DialogUnitsToPixelsX(158, m) + 1, app::DialogUnitsToPixelsY(150, m));
    EXPECT_EQ(image.pixelColor(gap), green);
    // Inside the empty From value label.
    const QRect from = window->Control(app::kIdFromValue)->geometry();
    EXPECT_EQ(image.pixelColor(from.center()), green);
}

TEST_F(WindowTest, FileDialogGetsTheTitleAndFilter) {
    dialogs.chosenFile = "/data/priv1.edb";
    const auto chosen = window->ChooseDatabaseFile();
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, std::filesystem::path("/data/priv1.edb"));
    ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(dialogs.fileDialogs[0].first, "Select Microsoft Exchange Database File...");
    EXPECT_EQ(dialogs.fileDialogs[0].second,
              "Microsoft Exchange Database  File (*edb)|*.edb;*.edb||");
    EXPECT_EQ(app::QtFileFilter(dialogs.fileDialogs[0].second),
              "Microsoft Exchange Database  File (*edb) (*.edb)");
    EXPECT_EQ(app::QtFileFilter("Text (*.txt)|*.txt;*.log|All|*.*||"),
              "Text (*.txt) (*.txt *.log);;All (*.*)");
}

}  // namespace
