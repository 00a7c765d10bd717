// Whole sessions in the main window wired to the controller, on the bundled sample store:
// Browse, Scan File, folder listings, previews, Save, Stop and the exit, all through the real
// widgets, with the dialogs answered by the test.
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include <QAbstractItemModel>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "app/window/dialog_template.h"
#include "app/window/explorer.h"
#include "app/window/filter_dlg.h"
#include "app/window/window_front_end.h"
#include "export/message_component.h"
#include "platform/work_folder.h"
#include "store_damage.h"
#include "support/manifest_check.h"
#include "support/planted_links.h"
#include "tools/edbforge/large_store.h"
#include "window_fixture.h"

namespace {

namespace fs = std::filesystem;
using app::DialogControl;

const std::vector<QString> kFolderNames = {"Inbox",         "Sent Items", "Drafts",
                                           "Deleted Items", "Contacts",   "Calendar",
                                           "Tasks",         "Journal",    "Notes"};
// The image of each of those folders.
const std::vector<int> kFolderImages = {7, 12, 6, 5, 4, 3, 13, 8, 10};

class SessionTest : public testing_support::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        msgfile::RegisterMessageFileComponent();
        store = temp.path() / "stores" / "sample-store.edb";
        fs::create_directories(store.parent_path());
        fs::copy_file(fs::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.edb", store);
        for (const char* image : {"loading.gif", "done.gif", "wait.gif", "cancel.gif"}) {
            fs::copy_file(fs::path(EDB2MSG_SOURCE_DIR) / "res" / image, appFolder / image);
        }
        previewFolder = temp.path() / "preview";
        fs::create_directories(previewFolder);
        app::WindowFrontEndOptions options;
        options.programFile = appFolder / "ExportEdb";
        if (!ownWorkFolder) {
            options.tempFolder = previewFolder;
        }
        front = std::make_unique<app::WindowFrontEnd>(*window, std::move(options));
        ShowNormal();
    }

    void TearDown() override {
        front.reset();
        WindowTest::TearDown();
    }

    // Lets the window answer the workers until no work runs.
    bool WaitIdle() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (front->Busy() && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        Settle();
        return !front->Busy();
    }

    // Answers the workers one pass at a time until the condition holds.
    template <typename Condition>
    bool PumpUntil(Condition condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!condition() && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents();
        }
        return condition();
    }

    void Click(int id) { QTest::mouseClick(window->Control(id), Qt::LeftButton); }

    void Browse(const std::optional<fs::path>& file) {
        dialogs.chosenFile = file;
        Click(app::kIdBrowse);
    }

    void Scan(const fs::path& file) {
        Browse(file);
        Click(app::kIdScanFile);
        ASSERT_TRUE(WaitIdle());
        window->FolderTree()->expandAll();
    }

    app::CFolderTreeCtrl1* Tree() const { return window->FolderTree(); }
    QTreeWidgetItem* Root() const { return Tree()->ItemFromHandle(Tree()->Root()); }

    QTreeWidgetItem* Folder(const QString& mailbox, const QString& folder) const {
        QTreeWidgetItem* root = Root();
        for (int i = 0; root != nullptr && i < root->childCount(); ++i) {
            QTreeWidgetItem* m = root->child(i);
            for (int j = 0; m->text(0) == mailbox && j < m->childCount(); ++j) {
                if (m->child(j)->text(0) == folder) {
                    return m->child(j);
                }
            }
        }
        return nullptr;
    }

    void ClickText(QTreeWidgetItem* item) {
        ASSERT_NE(item, nullptr);
        Tree()->scrollToItem(item);
        const QRect row = Tree()->visualItemRect(item);
        const QRect box = Tree()->CheckBoxRect(item);
        QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {},
                          QPoint(box.right() + 30, row.center().y()));
    }

    void ClickCheckBox(QTreeWidgetItem* item) {
        ASSERT_NE(item, nullptr);
        Tree()->scrollToItem(item);
        QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {},
                          Tree()->CheckBoxRect(item).center());
    }

    // Lists a folder and waits for the listing to end.
    void List(const QString& mailbox, const QString& folder) {
        ClickText(Folder(mailbox, folder));
        ASSERT_TRUE(WaitIdle());
    }

    void ClickRow(int row) {
        app::ItemListCtrl* list = window->ItemList();
        ASSERT_LT(row, list->rowCount());
        const QModelIndex cell = list->model()->index(row, 1);
        list->scrollTo(cell);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(cell).center());
        Settle();
    }

    QStringList Titles() const {
        QStringList titles;
        app::ItemListCtrl* list = window->ItemList();
        for (int i = 0; i < list->columnCount(); ++i) {
            titles.append(list->model()->headerData(i, Qt::Horizontal).toString());
        }
        return titles;
    }

    QString Cell(int row, int column) const {
        const QAbstractItemModel* model = window->ItemList()->model();
        return model->index(row, column).data().toString();
    }

    QString Text(int id) const { return qobject_cast<QLabel*>(window->Control(id))->text(); }
    QString Pane() const { return window->Preview()->toPlainText(); }

    // Browse, Scan File, Stop, Save, tree, Select File, Repair, Save command: 1 enabled.
    std::string State() const {
        std::string s;
        for (DialogControl c :
             {DialogControl::kBrowse, DialogControl::kScanFile, DialogControl::kStop,
              DialogControl::kSave, DialogControl::kFolderTree, DialogControl::kMenuSelectFile,
              DialogControl::kMenuRepair, DialogControl::kMenuSave}) {
            s += window->IsControlEnabled(c) ? '1' : '0';
        }
        return s;
    }

    // The tree as text: one line per item, indented by level.
    std::vector<QString> TreeLines() const {
        std::vector<QString> lines;
        std::vector<std::pair<QTreeWidgetItem*, int>> pending;
        for (int i = Tree()->topLevelItemCount() - 1; i >= 0; --i) {
            pending.emplace_back(Tree()->topLevelItem(i), 0);
        }
        while (!pending.empty()) {
            const auto [item, level] = pending.back();
            pending.pop_back();
            lines.push_back(QString(level * 2, ' ') + item->text(0));
            for (int i = item->childCount() - 1; i >= 0; --i) {
                pending.emplace_back(item->child(i), level + 1);
            }
        }
        return lines;
    }

    static int CountFiles(const fs::path& folder, const std::string& extension) {
        int count = 0;
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
            if (entry.is_regular_file() && entry.path().extension() == extension) {
                ++count;
            }
        }
        return count;
    }

    fs::path StatusPage() const { return appFolder / "ExportEdbtemp.html"; }

    // A generated store of one mailbox whose Inbox holds all of its items.
    fs::path GeneratedStore(std::uint64_t items) {
        edbforge::LargeStoreOptions options;
        options.messages = items;
        options.bigFolderItems = items;
        options.mailboxes = 1;
        const fs::path path = temp.path() / "stores" / "generated.edb";
        edbforge::writeLargeStore(path, options);
        return path;
    }

    // Lists the Inbox of the first mailbox without waiting for the listing.
    void StartListingFirstInbox() {
        ASSERT_NE(Root(), nullptr);
        ASSERT_GT(Root()->childCount(), 0);
        ClickText(Folder(Root()->child(0)->text(0), "Inbox"));
    }

    fs::path store;
    fs::path previewFolder;
    std::unique_ptr<app::WindowFrontEnd> front;
};

TEST_F(SessionTest, BrowseAndScanFillTheTreeWithTheMailboxesAndTheirFolders) {
    Browse(store);
    ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(dialogs.fileDialogs[0].first, "Select Microsoft Exchange Database File...");
    EXPECT_EQ(dialogs.fileDialogs[0].second,
              "Microsoft Exchange Database  File (*edb)|*.edb;*.edb||");
    EXPECT_EQ(qobject_cast<QLineEdit*>(window->Control(app::kIdPathBox))->text(),
              QString::fromStdU16String(store.u16string()));
    EXPECT_EQ(State(), "11101100");
    EXPECT_TRUE(window->ItemList()->FullRowSelect());
    EXPECT_EQ(Text(app::kIdStatusLine), "");

    Click(app::kIdScanFile);
    // The worker waits for the window: the scan start is all that has happened yet.
    EXPECT_TRUE(front->Busy());
    EXPECT_EQ(State().substr(0, 2), "00");
    EXPECT_FALSE(window->IsControlEnabled(DialogControl::kMenuSelectFile));
    EXPECT_EQ(Text(app::kIdStatusLine), "Status: Start Scaning Exchange EDB File");
    ASSERT_TRUE(WaitIdle());

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Analysis Completed sucessfully");
    EXPECT_EQ(dialogs.messages[0].caption, "Quorvale Systems Exchange Recovery");
    EXPECT_EQ(dialogs.messages[0].icon, app::MessageIcon::kInformation);
    EXPECT_FALSE(dialogs.messages[0].systemModal);
    EXPECT_EQ(State(), "10011100");
    EXPECT_EQ(window->Progress()->value(), 0);
    EXPECT_EQ(Text(app::kIdStatusLine), "Status: Scanning Completed");
    EXPECT_EQ(window->Preview()->Location(), StatusPage());
    EXPECT_TRUE(Pane().contains("Scaning process completed...")) << Pane().toStdString();

    // The database, its two visible mailboxes and their nine folders each, with their images.
    app::CFolderTreeCtrl1* tree = Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = Root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), QString::fromStdU16String(store.u16string()));
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(tree->ImageOf(tree->Root()), 0);
    ASSERT_EQ(root->childCount(), 2);
    EXPECT_EQ(root->child(0)->text(0), "Alice Martin");
    EXPECT_EQ(root->child(1)->text(0), "David Novak");
    ASSERT_NE(tree->ImageAt(7).pixmap(16).toImage(), tree->ImageAt(0).pixmap(16).toImage());
    for (int m = 0; m < 2; ++m) {
        QTreeWidgetItem* mailbox = root->child(m);
        EXPECT_EQ(tree->ImageOf(tree->HandleOf(mailbox)), 0);
        ASSERT_EQ(mailbox->childCount(), 9) << mailbox->text(0).toStdString();
        for (int f = 0; f < 9; ++f) {
            QTreeWidgetItem* folder = mailbox->child(f);
            SCOPED_TRACE(folder->text(0).toStdString());
            EXPECT_EQ(folder->text(0), kFolderNames[static_cast<std::size_t>(f)]);
            const int image = kFolderImages[static_cast<std::size_t>(f)];
            EXPECT_EQ(tree->ImageOf(tree->HandleOf(folder)), image);
            EXPECT_EQ(folder->icon(0).pixmap(16).toImage(),
                      tree->ImageAt(image).pixmap(16).toImage());
            EXPECT_FALSE(tree->IsChecked(tree->HandleOf(folder)));
        }
    }
}

TEST_F(SessionTest, EachKindOfFolderListsItsColumnsAndRows) {
    Scan(store);

    List("Alice Martin", "Inbox");
    EXPECT_EQ(Titles(), QStringList({"", "Type", "S.No", "From", "Subject", "Date", "Attachment"}));
    EXPECT_EQ(window->ItemList()->columnWidth(0), 5);
    ASSERT_EQ(window->ItemList()->rowCount(), 10);
    EXPECT_EQ(Cell(0, 1), "IPM.Note");
    EXPECT_EQ(Cell(0, 2), "1");
    EXPECT_EQ(Cell(0, 3), "Bob Stone;Bob Stone<bob.stone@contoso.com>");
    EXPECT_EQ(Cell(0, 4), "Quarterly budget review");
    EXPECT_EQ(Cell(0, 5), "Mar 05, 2009 14:07:09");
    EXPECT_EQ(Cell(0, 6), "true");
    EXPECT_EQ(Cell(9, 2), "10");
    EXPECT_EQ(Cell(9, 4), "RE: Re: Budget");
    // The listing has ended: the tree and the list take clicks again.
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kFolderTree));
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kItemList));
    EXPECT_EQ(Text(app::kIdStatusLine), " ");
    EXPECT_TRUE(Pane().contains("Click on above recovered items to see the preview!"));

    List("Alice Martin", "Contacts");
    EXPECT_EQ(Titles(), QStringList({"", "Type", "S.No", "Full name", "First name", "Last name",
                                     "Home Phone No", "Business Phone No", "Mobile Phone No",
                                     "Business Address", "Email Address", "Date"}));
    EXPECT_EQ(window->ItemList()->columnWidth(0), 0);
    ASSERT_EQ(window->ItemList()->rowCount(), 4);
    EXPECT_EQ(Cell(0, 1), "IPM.Contact");
    EXPECT_EQ(Cell(0, 3), "Bob Stone");
    EXPECT_EQ(Cell(0, 6), "+1 555 0103");
    EXPECT_EQ(Cell(0, 9), "1 Main Street, Springfield");
    EXPECT_EQ(Cell(3, 10), "emma.garcia@northwind.es");

    List("Alice Martin", "Calendar");
    EXPECT_EQ(Titles(), QStringList({"", "Type", "S.No", "To", "Subject", "Start Date", "End Date",
                                     "Status"}));
    ASSERT_EQ(window->ItemList()->rowCount(), 3);
    EXPECT_EQ(Cell(1, 1), "IPM.Appointment");
    EXPECT_EQ(Cell(1, 4), "Dentist");
    EXPECT_EQ(Cell(1, 5), "Mar 25, 2009 15:30:00");
    EXPECT_EQ(Cell(1, 7), "Dr. Weiß, Hauptstraße 5");

    List("Alice Martin", "Tasks");
    EXPECT_EQ(Titles(), QStringList({"", "Type", "S.No", "From", "Subject", "Start Date",
                                     "End Date", "Message"}));
    ASSERT_EQ(window->ItemList()->rowCount(), 2);
    EXPECT_EQ(Cell(0, 1), "IPM.Task");
    EXPECT_EQ(Cell(0, 4), "Prepare Q1 report");
    EXPECT_EQ(Cell(0, 7), "Collect numbers from all departments and draft the summary.");

    List("Alice Martin", "Journal");
    EXPECT_EQ(Titles(), QStringList({"", "Type", "S.No", "From", "Subject", "Date", "Attachment"}));
    ASSERT_EQ(window->ItemList()->rowCount(), 2);
    EXPECT_EQ(Cell(0, 1), "IPM.Activity");
    EXPECT_EQ(Cell(1, 4), "Meeting notes: hiring");

    List("David Novak", "Inbox");
    EXPECT_EQ(window->ItemList()->rowCount(), 5);

    // A mailbox lists nothing and does not open the database.
    ClickText(Root()->child(0));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(window->ItemList()->rowCount(), 0);
    EXPECT_TRUE(Pane().contains("Click on above recovered items to see the preview!"));
}

TEST_F(SessionTest, ARowClickShowsTheItemInTheLabelsAndThePreview) {
    Scan(store);
    List("Alice Martin", "Inbox");

    // A plain-text body.
    ClickRow(0);
    EXPECT_EQ(Text(app::kIdFromValue), "Bob Stone;Bob Stone<bob.stone@contoso.com>");
    EXPECT_EQ(Text(app::kIdSubjectValue), "Quarterly budget review");
    EXPECT_EQ(Text(app::kIdDateValue), "Mar 05, 2009 14:07:09");
    EXPECT_EQ(Text(app::kIdToValue), "alice.martin@contoso.com,");
    EXPECT_EQ(Text(app::kIdAttachmentValue), "Budget Q1 2009.xlsx;");
    EXPECT_EQ(window->Preview()->Location(), previewFolder / "txtbody.txt");
    EXPECT_EQ(window->Preview()->ShownKind(), app::CExplorer1::Shown::kText);
    EXPECT_TRUE(Pane().contains("please find the budget figures for Q1 attached."))
        << Pane().toStdString();
    EXPECT_TRUE(Pane().contains("Regards,\nBob"));

    // An HTML body is shown as a page.
    ClickRow(1);
    EXPECT_EQ(Text(app::kIdSubjectValue), "RE: Lunch on Friday?");
    EXPECT_EQ(Text(app::kIdToValue), "alice.martin@contoso.com,david.novak@contoso.com,");
    EXPECT_EQ(Text(app::kIdAttachmentValue), "");
    EXPECT_EQ(window->Preview()->Location(), previewFolder / "txtbody.html");
    EXPECT_EQ(window->Preview()->ShownKind(), app::CExplorer1::Shown::kHtml);
    EXPECT_TRUE(Pane().contains("Friday works for me."));
    EXPECT_FALSE(Pane().contains("<p>"));

    // A compressed RTF body, as text.
    ClickRow(3);
    EXPECT_EQ(Text(app::kIdAttachmentValue), "Contract draft v3.docx;Änderungen.txt;");
    EXPECT_TRUE(Pane().contains("Voici la troisième version du contrat.")) << Pane().toStdString();

    // A contact shows its card; the mail item's To and attachment labels stay.
    List("Alice Martin", "Contacts");
    ClickRow(0);
    EXPECT_EQ(window->Preview()->Location(), previewFolder / "htmlbody.html");
    EXPECT_TRUE(Pane().contains("Full Name: Bob Stone")) << Pane().toStdString();
    EXPECT_TRUE(Pane().contains("Company Name: Contoso Ltd."));
    EXPECT_EQ(Text(app::kIdAttachmentValue), "Contract draft v3.docx;Änderungen.txt;");

    // Appointments, tasks and journal entries show their list columns.
    List("Alice Martin", "Calendar");
    ClickRow(1);
    EXPECT_EQ(Text(app::kIdSubjectValue), "Dentist");
    EXPECT_TRUE(Pane().contains("Subject : Dentist")) << Pane().toStdString();
    EXPECT_TRUE(Pane().contains("Start Date : Mar 25, 2009 15:30:00"));
    EXPECT_TRUE(Pane().contains("Status : Dr. Weiß, Hauptstraße 5"));

    List("Alice Martin", "Tasks");
    ClickRow(0);
    EXPECT_TRUE(Pane().contains("Subject : Prepare Q1 report"));
    EXPECT_TRUE(Pane().contains("Message : Collect numbers from all departments"));

    List("Alice Martin", "Journal");
    ClickRow(0);
    EXPECT_TRUE(Pane().contains("Subject : Phone call with Carla Weber")) << Pane().toStdString();
    EXPECT_TRUE(Pane().contains("Date : Mar 12, 2009 14:00:00"));
    EXPECT_EQ(Text(app::kIdToValue), "alice.martin@contoso.com,");
}

TEST_F(SessionTest, SaveWritesEveryItemOfTheCheckedMailboxes) {
    Scan(store);
    const fs::path out = temp.path() / "out";
    dialogs.chosenFolder = out;

    // Nothing checked: nothing to choose a folder for.
    Click(app::kIdSave);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, QString::fromUtf16(app::kNothingCheckedMessage));
    EXPECT_TRUE(dialogs.folderDialogs.empty());

    // Check everything through the database's check box.
    ClickCheckBox(Root());
    ASSERT_TRUE(WaitIdle());
    for (int m = 0; m < 2; ++m) {
        EXPECT_TRUE(Tree()->IsChecked(Tree()->HandleOf(Root()->child(m))));
    }

    // Cancelling the folder dialog saves nothing.
    dialogs.chosenFolder.reset();
    Click(app::kIdSave);
    EXPECT_FALSE(front->Busy());
    EXPECT_EQ(dialogs.messages.size(), 2u);

    dialogs.chosenFolder = out;
    Click(app::kIdSave);
    ASSERT_EQ(dialogs.folderDialogs.size(), 2u);
    EXPECT_EQ(dialogs.folderDialogs[1], "Select the folder to save the items in...");
    ASSERT_TRUE(WaitIdle());

    EXPECT_EQ(CountFiles(out, ".msg"), 24 + 12 + 5);
    EXPECT_EQ(CountFiles(out, ".html"), 5);
    EXPECT_EQ(CountFiles(out, ".vcf"), 5);
    EXPECT_EQ(CountFiles(out, ".ics"), 2);
    EXPECT_TRUE(fs::is_directory(out / "Alice Martin" / "Inbox"));
    // Every message file is a compound file.
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (entry.path().extension() == ".msg") {
            std::ifstream in(entry.path(), std::ios::binary);
            std::string head(8, '\0');
            in.read(head.data(), 8);
            EXPECT_EQ(head, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) << entry.path();
        }
    }
    ASSERT_EQ(dialogs.messages.size(), 3u);
    const QString summary = dialogs.messages[2].text;
    EXPECT_TRUE(summary.startsWith("Saved 24 mails and 5 contacts into " +
                                   QString::fromStdU16String(out.u16string()) +
                                   " (18 folders, 0 skipped).\nSaved 4 appointments, 3 tasks, "
                                   "2 journal entries, 3 notes and 0 distribution lists as .msg "
                                   "files, 2 calendars as .ics files."))
        << summary.toStdString();
    EXPECT_EQ(dialogs.messages[2].caption, "Quorvale Systems Exchange Recovery");
    EXPECT_EQ(dialogs.messages[2].icon, app::MessageIcon::kInformation);
    // The save has ended: Save again, nothing to stop, the tree and the list usable.
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kSave));
    EXPECT_FALSE(window->IsControlEnabled(DialogControl::kStop));
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kFolderTree));
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kItemList));

    // Only David Novak: his 8 mails, 1 contact, an appointment, a task and a note, beside the
    // first save, which stays.
    ClickCheckBox(Root()->child(0));
    ASSERT_TRUE(WaitIdle());
    const fs::path second = temp.path() / "second";
    dialogs.chosenFolder = second;
    Click(app::kIdSave);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(CountFiles(second, ".msg"), 8 + 3 + 1);
    EXPECT_EQ(CountFiles(second, ".html"), 1);
    EXPECT_EQ(CountFiles(second, ".ics"), 1);
    EXPECT_FALSE(fs::exists(second / "Alice Martin"));
    EXPECT_EQ(CountFiles(out, ".msg"), 24 + 12 + 5);

    // ".eml" beside Save: the same mails as MIME messages.
    auto* format = qobject_cast<QComboBox*>(window->Control(app::kIdMailFormat));
    ASSERT_NE(format, nullptr);
    format->setCurrentIndex(1);
    const fs::path third = temp.path() / "third";
    dialogs.chosenFolder = third;
    Click(app::kIdSave);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(CountFiles(third, ".eml"), 8);
    // The choice is for mail: the other items and the contact stay message files.
    EXPECT_EQ(CountFiles(third, ".msg"), 3 + 1);
    EXPECT_EQ(CountFiles(third, ".html"), 1);
}

TEST_F(SessionTest, RecoveringADamagedStoreSavesTheItemsNoFolderListsAndTheSummarySaysSo) {
    // The folder rows are lost with the pages of "Folders".
    damaged::Bytes bytes = damaged::ReadFileBytes(store);
    const damaged::PageMap map = damaged::PageMap::Of(bytes);
    for (const auto& [object, owner] : damaged::TreeOwners(store)) {
        if (owner.table == u"Folders" && !owner.longValues) {
            for (const damaged::Page& page :
                 map.Select([&](const damaged::Page& p) { return p.object == object; })) {
                damaged::ZeroPage(bytes, map, page);
            }
        }
    }
    const fs::path copy = temp.path() / "stores" / "damaged.edb";
    damaged::WriteFileBytes(copy, bytes);

    auto* recover = qobject_cast<QCheckBox*>(window->Control(app::kIdRecover));
    ASSERT_NE(recover, nullptr);
    EXPECT_EQ(recover->text(), QString::fromUtf16(app::kRecoverCaption));
    recover->setChecked(true);
    Scan(copy);
    ClickCheckBox(Root());
    ASSERT_TRUE(WaitIdle());
    const fs::path out = temp.path() / "out";
    dialogs.chosenFolder = out;
    Click(app::kIdSave);
    ASSERT_TRUE(WaitIdle());

    // Every mail of the message table is saved, with no folder to go to but the top one.
    EXPECT_GE(CountFiles(out / "Recovered items", ".msg"), 24);
    const QString summary = dialogs.messages.back().text;
    EXPECT_TRUE(summary.contains("Not read whole, so items may be missing: table \"Folders\""))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains("items that no folder lists were saved into \"Recovered items\""))
        << summary.toStdString();
    EXPECT_EQ(dialogs.messages.back().icon, app::MessageIcon::kWarning);
}

TEST_F(SessionTest, TheItemFilterNarrowsTheListAndTheSave) {
    Scan(store);
    auto filterWith = [this](std::vector<std::pair<app::FilterField, QString>> texts) {
        dialogs.onModal = [texts](QDialog& dialog) {
            auto& filter = dynamic_cast<app::CFilterDlg&>(dialog);
            for (const auto& [field, text] : texts) {
                filter.Edit(field)->setText(text);
            }
            return static_cast<int>(QDialog::Accepted);
        };
        window->MenuCommand(app::kCmdFilter)->trigger();
    };

    // A date that cannot be read is named, and the filter stays as it was: none.
    filterWith({{app::FilterField::kSince, "2009-02-30"}});
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.messages[1].text.contains("\"2009-02-30\""))
        << dialogs.messages[1].text.toStdString();
    List("Alice Martin", "Inbox");
    EXPECT_EQ(window->ItemList()->rowCount(), 10);

    // Item 6 is dated exactly the bound.
    filterWith({{app::FilterField::kSince, "2009-03-13T17:05:12"}});
    ASSERT_EQ(dialogs.modalTitles.size(), 2u);
    EXPECT_EQ(dialogs.modalTitles[1], "Filter Items");
    EXPECT_EQ(Text(app::kIdStatusLine), "Status: Items filtered: since 2009-03-13T17:05:12");
    List("Alice Martin", "Inbox");
    ASSERT_EQ(window->ItemList()->rowCount(), 5);
    EXPECT_EQ(Cell(0, 2), "6");
    // The dialog opens with the texts in force: the date stays, and of those items two are
    // Bob Stone's.
    filterWith({{app::FilterField::kFrom, "BOB"}});
    EXPECT_EQ(Text(app::kIdStatusLine),
              "Status: Items filtered: since 2009-03-13T17:05:12, from contains \"BOB\"");
    List("Alice Martin", "Inbox");
    ASSERT_EQ(window->ItemList()->rowCount(), 2);
    EXPECT_EQ(Cell(0, 2), "8");
    EXPECT_EQ(Cell(1, 2), "10");

    // The save keeps to the filter; its manifest lists exactly what it wrote.
    ClickCheckBox(Root()->child(0));
    ASSERT_TRUE(WaitIdle());
    const fs::path out = temp.path() / "out";
    dialogs.chosenFolder = out;
    Click(app::kIdSave);
    ASSERT_TRUE(WaitIdle());
    const QString summary = dialogs.messages.back().text;
    EXPECT_TRUE(summary.contains(" left out by the item filter).")) << summary.toStdString();
    const nlohmann::json manifest = testing_support::CheckManifest(out / "manifest.csv");
    ASSERT_TRUE(manifest.is_object());
    EXPECT_EQ(manifest["problems"], nlohmann::json::array());
    EXPECT_EQ(manifest["listed"], manifest["present"]);
    std::vector<std::string> inboxRecords;
    for (const nlohmann::json& row : manifest["rows"]) {
        if (row[1] == "Inbox") {
            inboxRecords.push_back(row[2]);
        }
    }
    EXPECT_EQ(inboxRecords, (std::vector<std::string>{"8", "10"}));
}

TEST_F(SessionTest, StopAnsweredNoLetsTheScanFinish) {
    Browse(store);
    Click(app::kIdScanFile);
    // The question comes while the scan waits for the window.
    dialogs.answers = {false};
    Click(app::kIdStop);
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0].text, "Do you want to stop recovery process ?");
    EXPECT_EQ(dialogs.questions[0].caption, "Quorvale EDB to MSG Converter");
    ASSERT_TRUE(WaitIdle());

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Analysis Completed sucessfully");
    EXPECT_EQ(State(), "10011100");
    ASSERT_NE(Root(), nullptr);
    ASSERT_EQ(Root()->childCount(), 2);
    EXPECT_EQ(Root()->child(0)->childCount() + Root()->child(1)->childCount(), 18);
}

TEST_F(SessionTest, StopAnsweredYesAbandonsTheScan) {
    Browse(store);
    Click(app::kIdScanFile);
    // Where a scan that has come some way would have the progress bar.
    window->SetProgress(37);
    dialogs.answers = {true};
    Click(app::kIdStop);
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(window->Preview()->Location(), StatusPage());
    EXPECT_TRUE(Pane().contains("Scaning Aborted by user...")) << Pane().toStdString();
    ASSERT_TRUE(WaitIdle());

    // The abandoned scan changed nothing more: no tree, no message, the page stays.
    EXPECT_EQ(Tree()->topLevelItemCount(), 0);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(Pane().contains("Scaning Aborted by user..."));
    EXPECT_EQ(Text(app::kIdStatusLine), "Status: Start Scaning Exchange EDB File");
    EXPECT_EQ(window->Progress()->value(), 0);
    // Browse and the tree are back; Scan File, Stop and Save keep their state.
    EXPECT_EQ(State(), "10101000");

    // Stop on an abandoned scan does nothing.
    Click(app::kIdStop);
    EXPECT_EQ(dialogs.questions.size(), 1u);

    // A new scan runs normally.
    Scan(store);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Analysis Completed sucessfully");
    ASSERT_NE(Root(), nullptr);
    EXPECT_EQ(Root()->childCount(), 2);
}

TEST_F(SessionTest, StopAnsweredYesKeepsWhatWasReadSoFar) {
    Browse(store);
    Click(app::kIdScanFile);
    // Answer the scan until the first mailbox is in the tree.
    ASSERT_TRUE(PumpUntil([&] { return Root() != nullptr && Root()->childCount() > 0; }));
    EXPECT_FALSE(Tree()->isEnabled());

    dialogs.answers = {true};
    Click(app::kIdStop);
    const std::vector<QString> readSoFar = TreeLines();
    ASSERT_TRUE(WaitIdle());

    EXPECT_EQ(TreeLines(), readSoFar);
    EXPECT_TRUE(Tree()->isEnabled());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(window->IsControlEnabled(DialogControl::kSave));
    EXPECT_TRUE(Pane().contains("Scaning Aborted by user..."));
}

TEST_F(SessionTest, StopDuringASave) {
    Scan(store);
    ClickCheckBox(Root());
    ASSERT_TRUE(WaitIdle());
    const fs::path out = temp.path() / "out";
    dialogs.chosenFolder = out;

    // No: the save runs to its end. Stop is pressed as soon as the save enables it.
    auto stopEnabled = [&] { return window->IsControlEnabled(DialogControl::kStop); };
    Click(app::kIdSave);
    ASSERT_TRUE(PumpUntil(stopEnabled));
    dialogs.answers = {false};
    Click(app::kIdStop);
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0].text, "Do you want to stop EDB to MSG Conversion process ?");
    EXPECT_EQ(dialogs.questions[0].caption, "Quorvale EDB to MSG Converter");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(CountFiles(out, ".msg"), 24 + 12 + 5);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.messages[1].text.startsWith("Saved 24 mails and 5 contacts"));

    // Yes, asked before the save has written anything: nothing is written, nothing reported.
    const fs::path stopped = temp.path() / "stopped";
    dialogs.chosenFolder = stopped;
    Click(app::kIdSave);
    ASSERT_TRUE(PumpUntil(stopEnabled));
    dialogs.answers = {true};
    Click(app::kIdStop);
    ASSERT_EQ(dialogs.questions.size(), 2u);
    EXPECT_EQ(dialogs.questions[1].text, "Do you want to stop EDB to MSG Conversion process ?");
    EXPECT_TRUE(Pane().contains("Saving Aborted by user...")) << Pane().toStdString();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(CountFiles(stopped, ".msg"), 0);
    EXPECT_EQ(CountFiles(stopped, ".html"), 0);
    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(Pane().contains("Saving Aborted by user..."));
    // Stop on the abandoned save does nothing.
    Click(app::kIdStop);
    EXPECT_EQ(dialogs.questions.size(), 2u);
}

TEST_F(SessionTest, AFileThatIsNoDatabaseIsReportedAndAnotherCanBeChosen) {
    const fs::path broken = temp.path() / "stores" / "broken.edb";
    std::ofstream(broken) << "this is not an ESE database\n";
    Browse(broken);
    Click(app::kIdScanFile);
    ASSERT_TRUE(WaitIdle());

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith("The database could not be scanned"));
    EXPECT_TRUE(dialogs.messages[0].text.contains("not a readable ESE database"))
        << dialogs.messages[0].text.toStdString();
    EXPECT_EQ(dialogs.messages[0].icon, app::MessageIcon::kWarning);
    EXPECT_EQ(Text(app::kIdStatusLine), "Status: initialize Exchange EDB File");
    ASSERT_NE(Root(), nullptr);
    EXPECT_EQ(Root()->text(0), QString::fromStdU16String(broken.u16string()));
    EXPECT_EQ(Root()->childCount(), 0);
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kBrowse));
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kMenuSelectFile));
    EXPECT_TRUE(window->IsControlEnabled(DialogControl::kFolderTree));

    Scan(store);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, "Analysis Completed sucessfully");
    EXPECT_EQ(Root()->childCount(), 2);
}

TEST_F(SessionTest, BrowseCancelledKeepsTheTreeButForgetsTheStore) {
    Scan(store);
    Browse(std::nullopt);
    EXPECT_EQ(dialogs.fileDialogs.size(), 2u);
    EXPECT_EQ(qobject_cast<QLineEdit*>(window->Control(app::kIdPathBox))->text(),
              QString::fromStdU16String(store.u16string()));
    EXPECT_EQ(Text(app::kIdStatusLine), "");
    ASSERT_NE(Folder("Alice Martin", "Inbox"), nullptr);

    List("Alice Martin", "Inbox");
    EXPECT_EQ(Titles(), QStringList({"", "Type", "S.No", "From", "Subject", "Date", "Attachment"}));
    EXPECT_EQ(window->ItemList()->rowCount(), 0);
}

TEST_F(SessionTest, OneListingAtATimeAndNoneDuringAScan) {
    Scan(store);

    // A second click while a listing runs starts nothing; neither does Browse.
    ClickText(Folder("Alice Martin", "Inbox"));
    ASSERT_TRUE(front->Busy());
    ClickText(Folder("Alice Martin", "Contacts"));
    Click(app::kIdBrowse);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(Titles(), QStringList({"", "Type", "S.No", "From", "Subject", "Date", "Attachment"}));
    EXPECT_EQ(window->ItemList()->rowCount(), 10);
    // The model is whole: the Inbox's items still preview.
    ClickRow(0);
    EXPECT_EQ(Text(app::kIdToValue), "alice.martin@contoso.com,");

    // A click on a folder while the next scan starts lists nothing.
    window->ItemList()->SetColumns({{"", 2}, {"S.No", 40}});
    Browse(store);
    Click(app::kIdScanFile);
    ClickText(Folder("Alice Martin", "Inbox"));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Titles(), QStringList({"", "S.No"}));
    EXPECT_EQ(window->ItemList()->rowCount(), 0);
}

TEST_F(SessionTest, ExitAnsweredNoKeepsTheWindowAndItsWork) {
    Scan(store);
    List("Alice Martin", "Inbox");
    dialogs.answers = {false, false};
    window->MenuCommand(app::kCmdExit)->trigger();
    EXPECT_FALSE(window->close());
    Settle();
    EXPECT_EQ(dialogs.questions.size(), 2u);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(endCodes.empty());
    EXPECT_TRUE(fs::is_directory(workFolder));
    // The session goes on.
    ClickRow(0);
    EXPECT_EQ(Text(app::kIdSubjectValue), "Quarterly budget review");
}

TEST_F(SessionTest, ExitAnsweredYesDuringAScanDoesNotWaitForIt) {
    Browse(store);
    Click(app::kIdScanFile);
    ASSERT_TRUE(front->Busy());
    // The scan waits for the window while the exit is confirmed.
    dialogs.answers = {true};
    window->MenuCommand(app::kCmdExit)->trigger();
    EXPECT_EQ(endCodes, std::vector<int>{0});
    EXPECT_FALSE(fs::exists(workFolder));
    EXPECT_TRUE(front->controller().Abandoned());
    // Here the process would have ended; the test lets the worker go and finds it gone.
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(dialogs.messages.empty());
}

// The window as it starts for a user: its work files in a folder of its own, whatever another
// user of the machine planted in the temporary directory.
class OwnWorkFolderSessionTest : public SessionTest {
  protected:
    OwnWorkFolderSessionTest() { ownWorkFolder = true; }
    const testing_support::PlantedLinks planted;
};

TEST_F(OwnWorkFolderSessionTest, PreviewsNeverGoThroughPlantedLinksAndTheExitRemovesOnlyItsFolder) {
    ASSERT_EQ(workFolder.parent_path(), planted.tmpdir());
    EXPECT_EQ(fs::status(workFolder).permissions(), fs::perms::owner_all);
    Scan(store);
    List("Alice Martin", "Inbox");
    for (int row : {0, 1, 3}) {
        ClickRow(row);
        EXPECT_EQ(window->Preview()->Location().parent_path(), workFolder) << row;
        EXPECT_FALSE(Pane().isEmpty()) << row;
    }
    List("Alice Martin", "Contacts");
    ClickRow(0);
    EXPECT_EQ(window->Preview()->Location(), workFolder / "htmlbody.html");
    EXPECT_TRUE(Pane().contains("Full Name: Bob Stone"));
    List("Alice Martin", "Calendar");
    ClickRow(1);
    EXPECT_TRUE(Pane().contains("Subject : Dentist"));
    EXPECT_EQ(planted.Check(), "");

    // A command-line run that is still at work keeps its files through the window's exit.
    auto run = platform::WorkFolder::Create("edb2msg");
    ASSERT_TRUE(run) << run.error();
    std::ofstream(run->path() / "attachment.bin") << "in use";
    dialogs.answers = {true};
    window->MenuCommand(app::kCmdExit)->trigger();
    EXPECT_EQ(endCodes, std::vector<int>{0});
    EXPECT_FALSE(fs::exists(workFolder));
    EXPECT_TRUE(fs::exists(run->path() / "attachment.bin"));
    EXPECT_EQ(planted.Check(), "");
}

TEST_F(SessionTest, AFolderOfManyItemsHasEveryRowInOrderWhenItsListingEnds) {
    // Rows for several batches, the last one not full.
    constexpr int kItems = 1000;
    Scan(GeneratedStore(kItems));
    StartListingFirstInbox();
    // The listing's last calls come after its rows: once its worker has ended, every row is in
    // the list without the window having to do anything more.
    ASSERT_TRUE(PumpUntil([&] { return !front->Busy(); }));
    app::ItemListCtrl* list = window->ItemList();
    ASSERT_EQ(list->rowCount(), kItems);
    for (int row = 0; row < kItems; ++row) {
        // The S.No counts the items in the folder's order; the generator numbers the subjects.
        ASSERT_EQ(Cell(row, 2), QString::number(row + 1));
        ASSERT_TRUE(Cell(row, 4).endsWith(" #" + QString::number(row)))
            << row << ": " << Cell(row, 4).toStdString();
    }
    EXPECT_TRUE(list->isEnabled());
    EXPECT_EQ(window->Progress()->value(), 0);

    // A row far down is selected and previewed like any other.
    const int row = kItems - 10;
    ClickRow(row);
    EXPECT_EQ(list->SelectionMark(), row);
    EXPECT_EQ(Text(app::kIdSubjectValue), Cell(row, 4));
}

TEST_F(SessionTest, AListingAbandonedByTheExitChangesTheWindowNoMore) {
    Scan(GeneratedStore(3000));
    StartListingFirstInbox();
    app::ItemListCtrl* list = window->ItemList();
    // The first rows are in; the worker goes on queuing rows while the exit is confirmed.
    ASSERT_TRUE(PumpUntil([&] { return list->rowCount() > 0; }));
    dialogs.answers = {true};
    window->MenuCommand(app::kCmdExit)->trigger();
    ASSERT_TRUE(front->controller().Abandoned());
    const int shown = list->rowCount();
    const int progress = window->Progress()->value();
    const QString status = Text(app::kIdStatusLine);

    ASSERT_TRUE(WaitIdle());
    // Also past the time after which queued rows are taken in unasked.
    QTest::qWait(static_cast<int>(3 * app::WorkerRelay::kBatchWait.count()));
    EXPECT_EQ(list->rowCount(), shown);
    EXPECT_EQ(window->Progress()->value(), progress);
    EXPECT_EQ(Text(app::kIdStatusLine), status);
    // The listing had disabled the list; its end, which would enable it, was dropped.
    EXPECT_FALSE(list->isEnabled());
}

TEST_F(SessionTest, DestroyedWhileAWorkerWaitsForTheWindowItLetsTheWorkerGo) {
    Browse(store);
    Click(app::kIdScanFile);
    ASSERT_TRUE(front->Busy());
    // The scan's first call waits for the window's thread, which is busy here and never
    // answers it: the destruction has to end the worker all the same.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    front.reset();
    Settle();
    EXPECT_EQ(Tree()->topLevelItemCount(), 0);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Text(app::kIdStatusLine), "Status: Start Scaning Exchange EDB File");
}

}  // namespace
