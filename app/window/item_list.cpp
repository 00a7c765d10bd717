#include "app/window/item_list.h"

#include <algorithm>

#include <QHeaderView>
#include <QMouseEvent>

namespace app {

ItemListCtrl::ItemListCtrl(QWidget* parent) : QTableWidget(parent) {
    setShowGrid(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setMinimumSectionSize(0);
    connect(this, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (row >= 0) {
            selectionMark_ = row;
        }
    });
}

void ItemListCtrl::SetColumns(const std::vector<ItemListColumn>& columns) {
    setRowCount(0);
    setColumnCount(0);
    selectionMark_ = -1;
    setColumnCount(static_cast<int>(columns.size()));
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        const ItemListColumn& column = columns[static_cast<std::size_t>(i)];
        auto* header = new QTableWidgetItem(column.title);
        header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setHorizontalHeaderItem(i, header);
        setColumnWidth(i, column.width);
    }
}

void ItemListCtrl::AppendRow(const QStringList& texts) {
    const int row = rowCount();
    insertRow(row);
    const int count = std::min(static_cast<int>(texts.size()), columnCount());
    for (int i = 0; i < count; ++i) {
        auto* item = new QTableWidgetItem(texts[i]);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setItem(row, i, item);
    }
}

void ItemListCtrl::DeleteAllRows() {
    setRowCount(0);
    selectionMark_ = -1;
}

void ItemListCtrl::SetFullRowSelect(bool on) {
    setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

bool ItemListCtrl::FullRowSelect() const {
    return selectionBehavior() == QAbstractItemView::SelectRows;
}

QStringList ItemListCtrl::RowTexts(int row, int count) const {
    QStringList texts;
    for (int i = 0; i < count; ++i) {
        const QTableWidgetItem* cell =
            (row >= 0 && row < rowCount() && i < columnCount()) ? item(row, i) : nullptr;
        texts.append(cell != nullptr ? cell->text() : QString());
    }
    return texts;
}

void ItemListCtrl::mouseReleaseEvent(QMouseEvent* event) {
    QTableWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit Clicked();
    }
}

}  // namespace app
