// The folder tree: the database at the root, its mailboxes below and each mailbox's folders
// below those. Every item has a check box; a checked item, or one with anything checked below
// it, is shown bold, and a parent is checked exactly when all its children are.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include <QHash>
#include <QIcon>
#include <QRect>
#include <QString>
#include <QTreeWidget>

namespace app {

// A tree item as the rest of the program knows it; 0 is no item. Handles are never reused,
// so a handle kept past DeleteAllItems simply finds nothing.
using TreeHandle = std::intptr_t;
inline constexpr TreeHandle kNoTreeHandle = 0;

class CheckBoxDelegate;

class CFolderTreeCtrl1 : public QTreeWidget {
    Q_OBJECT

  public:
    // Check marks, as the tree's state images.
    static constexpr int kStateUnchecked = 1;
    static constexpr int kStateChecked = 2;

    // While items come in one after another, the tree is drawn again at most this often.
    static constexpr int kRedrawEvery = 100;  // milliseconds

    explicit CFolderTreeCtrl1(QWidget* parent = nullptr);

    // Builds the seventeen folder images and uses them for the items.
    void AttachImageList();
    int ImageCount() const { return static_cast<int>(images_.size()); }
    const QIcon& ImageAt(int index) const { return images_.at(static_cast<std::size_t>(index)); }

    // Appends an item as the last child of parent; parent kNoTreeHandle makes the root,
    // which always shows image 0. An image outside the list shows image 0. kNoTreeHandle
    // when the tree does not know the parent.
    TreeHandle InsertItem(TreeHandle parent, const QString& text, int image) {
        return InsertItemAs(ReserveHandle(), parent, text, image);
    }
    // A handle no item has had, for an item to be inserted later; from any thread.
    TreeHandle ReserveHandle() { return nextHandle_++; }
    // The same insertion under a reserved handle.
    TreeHandle InsertItemAs(TreeHandle handle, TreeHandle parent, const QString& text, int image);
    void ExpandRoot();
    void DeleteAllItems();

    TreeHandle Root() const { return root_; }
    QTreeWidgetItem* ItemFromHandle(TreeHandle handle) const;
    TreeHandle HandleOf(const QTreeWidgetItem* item) const;

    // The state image of an item: 1 unchecked, 2 checked; 0 for an unknown handle.
    int CheckStateOf(TreeHandle handle) const;
    bool IsChecked(TreeHandle handle) const { return CheckStateOf(handle) == kStateChecked; }
    bool IsBold(TreeHandle handle) const;
    // The image index of an item, -1 for an unknown handle.
    int ImageOf(TreeHandle handle) const;
    QString TextOf(TreeHandle handle) const;

    // What a click on an item's check box does: the item and everything below it take the
    // opposite of the item's check mark, then the ancestors follow.
    void ToggleCheck(QTreeWidgetItem* item);

    // Where an item's check box is drawn, in viewport coordinates; empty when not visible.
    QRect CheckBoxRect(const QTreeWidgetItem* item) const;

  signals:
    // The left button went down on an item: its folder is to be listed.
    void ListingRequested(app::TreeHandle item);
    // A click that the tree handled itself (not one on a check box or beside the items).
    void TreeClicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    static int StateOf(const QTreeWidgetItem* item);
    static bool BoldOf(const QTreeWidgetItem* item);
    static void SetChecked(QTreeWidgetItem* item, bool checked);
    static void SetBold(QTreeWidgetItem* item, bool bold);
    void UpdateAncestors(QTreeWidgetItem* item);
    void ApplyImage(QTreeWidgetItem* item);

    CheckBoxDelegate* delegate_;
    std::vector<QIcon> images_;
    QHash<TreeHandle, QTreeWidgetItem*> items_;
    QHash<const QTreeWidgetItem*, TreeHandle> handles_;
    std::atomic<TreeHandle> nextHandle_ = 1;
    TreeHandle root_ = kNoTreeHandle;
    enum class Press { kNone, kDefault, kConsumed };
    Press press_ = Press::kNone;
};

}  // namespace app
