#include "app/window/folder_tree.h"

#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>
#include <QTimer>

#include "app/window/artwork.h"

namespace app {

namespace {

constexpr int kImageRole = Qt::UserRole + 1;

}  // namespace

// Draws the items as usual but never changes a check mark itself: the tree does that.
class CheckBoxDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QRect CheckRect(const QStyleOptionViewItem& base, const QModelIndex& index,
                    const QWidget* widget) const {
        QStyleOptionViewItem option(base);
        initStyleOption(&option, index);
        const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        return style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, widget);
    }

    bool editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&,
                     const QModelIndex&) override {
        return false;
    }
};

CFolderTreeCtrl1::CFolderTreeCtrl1(QWidget* parent)
    : QTreeWidget(parent), delegate_(new CheckBoxDelegate(this)) {
    setItemDelegate(delegate_);
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(kFolderImageSize, kFolderImageSize));
    setUniformRowHeights(true);
}

void CFolderTreeCtrl1::AttachImageList() {
    images_.clear();
    for (int resource : kFolderImageResources) {
        images_.emplace_back(FolderImagePixmap(resource));
    }
    for (QTreeWidgetItem* item : items_) {
        ApplyImage(item);
    }
}

void CFolderTreeCtrl1::ApplyImage(QTreeWidgetItem* item) {
    const int image = item->data(0, kImageRole).toInt();
    if (image >= 0 && image < ImageCount()) {
        item->setIcon(0, images_[static_cast<std::size_t>(image)]);
    }
}

TreeHandle CFolderTreeCtrl1::InsertItemAs(TreeHandle handle, TreeHandle parent, const QString& text,
                                          int image) {
    QTreeWidgetItem* parentItem = nullptr;
    if (parent != kNoTreeHandle) {
        parentItem = ItemFromHandle(parent);
        if (parentItem == nullptr) {
            return kNoTreeHandle;
        }
    }
    if (parentItem == nullptr || image < 0 || image >= kFolderImageCount) {
        image = 0;
    }
    // A scan adds folders one after another: the tree is drawn again at most every
    // kRedrawEvery while they come in, not once for each.
    if (updatesEnabled()) {
        setUpdatesEnabled(false);
        QTimer::singleShot(kRedrawEvery, this, [this] { setUpdatesEnabled(true); });
    }
    auto* item = new QTreeWidgetItem();
    item->setText(0, text);
    item->setData(0, kImageRole, image);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(0, Qt::Unchecked);
    ApplyImage(item);
    if (parentItem != nullptr) {
        parentItem->addChild(item);
    } else {
        addTopLevelItem(item);
    }
    items_.insert(handle, item);
    handles_.insert(item, handle);
    if (parentItem == nullptr) {
        root_ = handle;
    }
    return handle;
}

void CFolderTreeCtrl1::ExpandRoot() {
    if (QTreeWidgetItem* root = ItemFromHandle(root_)) {
        root->setExpanded(true);
    }
}

void CFolderTreeCtrl1::DeleteAllItems() {
    items_.clear();
    handles_.clear();
    root_ = kNoTreeHandle;
    press_ = Press::kNone;
    clear();
}

QTreeWidgetItem* CFolderTreeCtrl1::ItemFromHandle(TreeHandle handle) const {
    return items_.value(handle, nullptr);
}

TreeHandle CFolderTreeCtrl1::HandleOf(const QTreeWidgetItem* item) const {
    return handles_.value(item, kNoTreeHandle);
}

int CFolderTreeCtrl1::StateOf(const QTreeWidgetItem* item) {
    return item->checkState(0) == Qt::Checked ? kStateChecked : kStateUnchecked;
}

bool CFolderTreeCtrl1::BoldOf(const QTreeWidgetItem* item) {
    return item->font(0).bold();
}

int CFolderTreeCtrl1::CheckStateOf(TreeHandle handle) const {
    const QTreeWidgetItem* item = ItemFromHandle(handle);
    return item != nullptr ? StateOf(item) : 0;
}

bool CFolderTreeCtrl1::IsBold(TreeHandle handle) const {
    const QTreeWidgetItem* item = ItemFromHandle(handle);
    return item != nullptr && BoldOf(item);
}

int CFolderTreeCtrl1::ImageOf(TreeHandle handle) const {
    const QTreeWidgetItem* item = ItemFromHandle(handle);
    return item != nullptr ? item->data(0, kImageRole).toInt() : -1;
}

QString CFolderTreeCtrl1::TextOf(TreeHandle handle) const {
    const QTreeWidgetItem* item = ItemFromHandle(handle);
    return item != nullptr ? item->text(0) : QString();
}

void CFolderTreeCtrl1::SetBold(QTreeWidgetItem* item, bool bold) {
    QFont font = item->font(0);
    if (font.bold() != bold) {
        font.setBold(bold);
        item->setFont(0, font);
    }
}

void CFolderTreeCtrl1::SetChecked(QTreeWidgetItem* item, bool checked) {
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    SetBold(item, checked);
}

void CFolderTreeCtrl1::ToggleCheck(QTreeWidgetItem* item) {
    if (item == nullptr) {
        return;
    }
    const bool check = StateOf(item) == kStateUnchecked;
    SetChecked(item, check);
    // Everything below, depth first, children in order.
    std::vector<QTreeWidgetItem*> pending;
    for (int i = item->childCount() - 1; i >= 0; --i) {
        pending.push_back(item->child(i));
    }
    while (!pending.empty()) {
        QTreeWidgetItem* next = pending.back();
        pending.pop_back();
        SetChecked(next, check);
        for (int i = next->childCount() - 1; i >= 0; --i) {
            pending.push_back(next->child(i));
        }
    }
    UpdateAncestors(item);
}

void CFolderTreeCtrl1::UpdateAncestors(QTreeWidgetItem* item) {
    for (QTreeWidgetItem* ancestor = item->parent(); ancestor != nullptr;
         ancestor = ancestor->parent()) {
        bool allChecked = true;
        for (int i = 0; i < ancestor->childCount(); ++i) {
            if (StateOf(ancestor->child(i)) == kStateUnchecked) {
                allChecked = false;
                break;
            }
        }
        SetChecked(ancestor, allChecked);
    }
    for (QTreeWidgetItem* ancestor = item->parent(); ancestor != nullptr;
         ancestor = ancestor->parent()) {
        bool anyBold = false;
        for (int i = 0; i < ancestor->childCount(); ++i) {
            if (BoldOf(ancestor->child(i))) {
                anyBold = true;
                break;
            }
        }
        SetBold(ancestor, anyBold);
    }
}

QRect CFolderTreeCtrl1::CheckBoxRect(const QTreeWidgetItem* item) const {
    if (item == nullptr) {
        return {};
    }
    const QModelIndex index = indexFromItem(item, 0);
    const QRect itemRect = visualRect(index);
    if (!index.isValid() || itemRect.isEmpty()) {
        return {};
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = itemRect;
    return delegate_->CheckRect(option, index, this);
}

void CFolderTreeCtrl1::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QTreeWidget::mousePressEvent(event);
        return;
    }
    const QPoint point = event->position().toPoint();
    QTreeWidgetItem* item = itemAt(point);
    if (item == nullptr) {
        press_ = Press::kConsumed;
        event->accept();
        return;
    }
    setCurrentItem(item);
    setFocus(Qt::MouseFocusReason);
    emit ListingRequested(HandleOf(item));
    if (CheckBoxRect(item).contains(point)) {
        ToggleCheck(item);
        press_ = Press::kConsumed;
        event->accept();
        return;
    }
    press_ = Press::kDefault;
    QTreeWidget::mousePressEvent(event);
}

void CFolderTreeCtrl1::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QTreeWidget::mouseReleaseEvent(event);
        return;
    }
    const Press press = press_;
    press_ = Press::kNone;
    if (press == Press::kConsumed) {
        event->accept();
        return;
    }
    QTreeWidget::mouseReleaseEvent(event);
    if (press == Press::kDefault) {
        emit TreeClicked();
    }
}

void CFolderTreeCtrl1::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    QTreeWidgetItem* item = itemAt(point);
    if (event->button() == Qt::LeftButton &&
        (item == nullptr || CheckBoxRect(item).contains(point))) {
        // The second press of a double click on a check box or beside the items does nothing.
        press_ = Press::kConsumed;
        event->accept();
        return;
    }
    press_ = Press::kDefault;
    QTreeWidget::mouseDoubleClickEvent(event);
}

void CFolderTreeCtrl1::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        QTreeWidgetItem* item = currentItem();
        if (item != nullptr && item->isSelected()) {
            ToggleCheck(item);
        }
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

}  // namespace app
