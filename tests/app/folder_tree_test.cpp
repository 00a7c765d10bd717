// Check marks, bold state, clicks and the space bar on the folder tree of a shown window.
#include <QFont>
#include <QImage>
#include <QKeyEvent>
#include <QPaintEvent>

#include "app/window/artwork.h"
#include "window_fixture.h"

namespace {

using app::CFolderTreeCtrl1;
using app::TreeHandle;

// A database with two mailboxes: Ann with Inbox, Sent Items and Calendar, Bob with Inbox.
class FolderTreeTest : public testing_support::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        tree = window->FolderTree();
        root = window->InsertTreeItem(app::kNoTreeHandle, u"/data/priv1.edb", 5);
        ann = window->InsertTreeItem(root, u"Ann", 0);
        annInbox = window->InsertTreeItem(ann, u"Inbox", 7);
        annSent = window->InsertTreeItem(ann, u"Sent Items", 12);
        annCalendar = window->InsertTreeItem(ann, u"Calendar", 3);
        bob = window->InsertTreeItem(root, u"Bob", 0);
        bobInbox = window->InsertTreeItem(bob, u"Inbox", 7);
        window->ExpandTreeRoot();
        tree->ItemFromHandle(ann)->setExpanded(true);
        tree->ItemFromHandle(bob)->setExpanded(true);
        ShowNormal();
    }

    QTreeWidgetItem* Item(TreeHandle handle) const { return tree->ItemFromHandle(handle); }

    void ClickCheckBox(TreeHandle handle) {
        const QRect box = tree->CheckBoxRect(Item(handle));
        ASSERT_FALSE(box.isEmpty());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, box.center());
    }

    void ClickText(TreeHandle handle) {
        const QRect row = tree->visualItemRect(Item(handle));
        const QRect box = tree->CheckBoxRect(Item(handle));
        // Well to the right of the check box and the icon, on the text.
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          QPoint(box.right() + 30, row.center().y()));
    }

    // "C" checked or "-" not, then "B" bold or "." not, for each handle.
    std::string Marks(std::initializer_list<TreeHandle> handles) const {
        std::string marks;
        for (TreeHandle handle : handles) {
            marks += tree->IsChecked(handle) ? 'C' : '-';
            marks += tree->IsBold(handle) ? 'B' : '.';
            marks += ' ';
        }
        return marks;
    }

    CFolderTreeCtrl1* tree = nullptr;
    TreeHandle root{}, ann{}, annInbox{}, annSent{}, annCalendar{}, bob{}, bobInbox{};
};

TEST_F(FolderTreeTest, ItemsStartUncheckedWithTheirImages) {
    EXPECT_EQ(tree->Root(), root);
    EXPECT_EQ(tree->CheckStateOf(annInbox), CFolderTreeCtrl1::kStateUnchecked);
    EXPECT_EQ(Marks({root, ann, annInbox}), "-. -. -. ");
    EXPECT_EQ(tree->ImageOf(root), 0);  // the root always shows image 0
    EXPECT_EQ(tree->ImageOf(annInbox), 7);
    EXPECT_EQ(tree->ImageOf(annSent), 12);
    EXPECT_EQ(tree->ImageOf(annCalendar), 3);
    EXPECT_EQ(tree->ImageOf(window->InsertTreeItem(ann, u"Odd", 99)), 0);
    EXPECT_EQ(tree->ImageOf(window->InsertTreeItem(ann, u"Odd", -1)), 0);
    // Each item shows the image-list entry of its index.
    const QImage inbox = Item(annInbox)->icon(0).pixmap(16, 16).toImage();
    EXPECT_EQ(inbox, tree->ImageAt(7).pixmap(16, 16).toImage());
    EXPECT_NE(inbox, tree->ImageAt(0).pixmap(16, 16).toImage());
}

TEST_F(FolderTreeTest, TheSeventeenImagesAreDistinctAndInResourceOrder) {
    ASSERT_EQ(tree->ImageCount(), 17);
    for (int i = 0; i < 17; ++i) {
        const QImage image = tree->ImageAt(i).pixmap(16, 16).toImage();
        EXPECT_EQ(image, app::FolderImagePixmap(app::kFolderImageResources[i]).toImage()) << i;
        for (int j = 0; j < i; ++j) {
            EXPECT_NE(image, tree->ImageAt(j).pixmap(16, 16).toImage()) << i << " vs " << j;
        }
    }
    EXPECT_EQ(app::kFolderImageResources[7], 142);  // inbox
    EXPECT_EQ(app::kFolderImageResources[3], 149);  // calendar
    EXPECT_EQ(app::kFolderImageResources[16], 147);
}

TEST_F(FolderTreeTest, CheckingAMailboxChecksItsFoldersAndMarksTheRootBold) {
    ClickCheckBox(ann);
    EXPECT_EQ(Marks({ann, annInbox, annSent, annCalendar}), "CB CB CB CB ");
    EXPECT_EQ(Marks({root, bob, bobInbox}), "-B -. -. ");
    ClickCheckBox(bob);
    EXPECT_EQ(Marks({root, bob, bobInbox}), "CB CB CB ");
}

TEST_F(FolderTreeTest, UncheckingOneFolderUnchecksItsAncestorsButKeepsThemBold) {
    ClickCheckBox(root);
    EXPECT_EQ(Marks({root, ann, annInbox, annSent, annCalendar, bob, bobInbox}),
              "CB CB CB CB CB CB CB ");
    ClickCheckBox(annSent);
    EXPECT_EQ(Marks({annSent}), "-. ");
    EXPECT_EQ(Marks({ann, root}), "-B -B ");
    EXPECT_EQ(Marks({annInbox, annCalendar, bob, bobInbox}), "CB CB CB CB ");
}

TEST_F(FolderTreeTest, CheckingTheLastUncheckedFolderChecksTheMailbox) {
    ClickCheckBox(annInbox);
    ClickCheckBox(annSent);
    EXPECT_EQ(Marks({ann}), "-B ");
    ClickCheckBox(annCalendar);
    EXPECT_EQ(Marks({ann, root}), "CB -B ");
    // And unchecking every folder again leaves nothing bold.
    ClickCheckBox(annInbox);
    ClickCheckBox(annSent);
    ClickCheckBox(annCalendar);
    EXPECT_EQ(Marks({root, ann, annInbox}), "-. -. -. ");
}

TEST_F(FolderTreeTest, ACheckBoxClickAlsoSelectsAndStartsTheListing) {
    ClickCheckBox(annInbox);
    EXPECT_EQ(tree->currentItem(), Item(annInbox));
    EXPECT_TRUE(Item(annInbox)->isSelected());
    EXPECT_EQ(window->focusWidget(), tree);
    // The press starts the listing; the tree does not handle this click itself.
    EXPECT_EQ(commands.calls, (std::vector<std::string>{"pressed"}));
    EXPECT_EQ(commands.pressed, (std::vector<TreeHandle>{annInbox}));
}

TEST_F(FolderTreeTest, ClickingTheTextSelectsAndListsWithoutChangingMarks) {
    ClickText(annSent);
    EXPECT_EQ(tree->currentItem(), Item(annSent));
    EXPECT_TRUE(Item(annSent)->isSelected());
    EXPECT_EQ(Marks({root, ann, annInbox, annSent, annCalendar, bob, bobInbox}),
              "-. -. -. -. -. -. -. ");
    EXPECT_EQ(commands.calls, (std::vector<std::string>{"pressed", "tree-click"}));
    EXPECT_EQ(commands.pressed, (std::vector<TreeHandle>{annSent}));
}

TEST_F(FolderTreeTest, ClickingBelowTheLastItemDoesNothing) {
    ClickText(annInbox);
    commands.calls.clear();
    const QRect last = tree->visualItemRect(Item(bobInbox));
    const QPoint below(last.center().x(), last.bottom() + 3 * last.height());
    ASSERT_LT(below.y(), tree->viewport()->height());
    ASSERT_EQ(tree->itemAt(below), nullptr);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(tree->currentItem(), Item(annInbox));
    EXPECT_TRUE(Item(annInbox)->isSelected());
    EXPECT_TRUE(commands.calls.empty());
}

TEST_F(FolderTreeTest, SpaceBarTogglesTheSelectedItemAndEverythingBelowIt) {
    ClickText(ann);
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(Marks({ann, annInbox, annSent, annCalendar, root}), "CB CB CB CB -B ");
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(Marks({ann, annInbox, annSent, annCalendar, root}), "-. -. -. -. -. ");
    // On a folder, judged from the folder's own mark.
    ClickText(bobInbox);
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(Marks({bobInbox, bob, root}), "CB CB -B ");
}

TEST_F(FolderTreeTest, ADisabledTreeTakesNoClicksOrKeys) {
    window->EnableControl(app::DialogControl::kFolderTree, false);
    ClickCheckBox(ann);
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(Marks({ann, annInbox}), "-. -. ");
    EXPECT_TRUE(commands.calls.empty());
}

TEST_F(FolderTreeTest, HandlesOfDeletedItemsFindNothing) {
    ClickCheckBox(ann);
    window->ClearTree();
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_EQ(tree->Root(), app::kNoTreeHandle);
    EXPECT_FALSE(window->IsTreeItemChecked(ann));
    EXPECT_EQ(tree->CheckStateOf(ann), 0);
    EXPECT_EQ(window->TreeItemText(ann), u"");
    EXPECT_EQ(window->InsertTreeItem(ann, u"orphan", 0), app::kNoTreeHandle);
    // New handles are never those of deleted items.
    const TreeHandle newRoot = window->InsertTreeItem(app::kNoTreeHandle, u"/data/other.edb", 0);
    EXPECT_NE(newRoot, root);
    EXPECT_NE(newRoot, bobInbox);
    EXPECT_EQ(tree->Root(), newRoot);
}

// Counts the paint events a widget takes.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

// A scan adds folders one at a time and the window's events run between them: the tree is
// drawn a few times while they come in, not once for each, and shows them when they stop.
TEST_F(FolderTreeTest, FoldersComingInOneByOneAreDrawnNowAndThen) {
    PaintCounter paints(tree->viewport());
    QTest::qWait(2 * CFolderTreeCtrl1::kRedrawEvery);
    paints.count = 0;
    QElapsedTimer clock;
    clock.start();
    constexpr int kFolders = 300;
    for (int i = 0; i < kFolders; ++i) {
        window->InsertTreeItem(
            ann, u"Folder " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)), 7);
        QCoreApplication::processEvents();
    }
    const int whileComing = paints.count;
    EXPECT_LE(whileComing, clock.elapsed() / CFolderTreeCtrl1::kRedrawEvery + 2);
    EXPECT_EQ(Item(ann)->childCount(), 3 + kFolders);
    EXPECT_TRUE(QTest::qWaitFor([&] { return paints.count > whileComing; },
                                20 * CFolderTreeCtrl1::kRedrawEvery));
    EXPECT_TRUE(tree->updatesEnabled());
}

}  // namespace
