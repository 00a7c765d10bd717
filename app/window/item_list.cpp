#include "app/window/item_list.h"

#include <utility>

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>

namespace app {

namespace {

constexpr Qt::Alignment kCellAlignment = Qt::AlignLeft | Qt::AlignVCenter;

}  // namespace

// The list's rows and column titles. A row keeps its texts up to the last column; a cell
// beyond a row's texts has no text at all.
class ItemListModel final : public QAbstractTableModel {
  public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(titles_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        const QString* text = Cell(index.row(), index.column());
        if (text == nullptr) {
            return {};
        }
        switch (role) {
            case Qt::DisplayRole:
            case Qt::EditRole:
                return *text;
            case Qt::TextAlignmentRole:
                return kCellAlignment.toInt();
            default:
                return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
            return QAbstractTableModel::headerData(section, orientation, role);
        }
        switch (role) {
            case Qt::DisplayRole:
                return titles_[static_cast<std::size_t>(section)];
            case Qt::TextAlignmentRole:
                return kCellAlignment.toInt();
            default:
                return {};
        }
    }

    // The text of a cell, or null when the cell has none.
    const QString* Cell(int row, int column) const {
        if (row < 0 || column < 0 || row >= rowCount()) {
            return nullptr;
        }
        const QStringList& texts = rows_[static_cast<std::size_t>(row)];
        return column < texts.size() ? &texts[column] : nullptr;
    }

    void SetTitles(QStringList titles) {
        beginResetModel();
        rows_.clear();
        titles_ = std::move(titles);
        endResetModel();
    }

    void Append(std::vector<QStringList> rows) {
        if (rows.empty()) {
            return;
        }
        const int first = rowCount();
        beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
        rows_.reserve(rows_.size() + rows.size());
        for (QStringList& texts : rows) {
            if (texts.size() > titles_.size()) {
                texts.resize(titles_.size());
            }
            rows_.push_back(std::move(texts));
        }
        endInsertRows();
    }

    void RemoveAllRows() {
        if (rows_.empty()) {
            return;
        }
        beginRemoveRows({}, 0, rowCount() - 1);
        rows_.clear();
        endRemoveRows();
    }

  private:
    QStringList titles_;
    std::vector<QStringList> rows_;
};

ItemListCtrl::ItemListCtrl(QWidget* parent) : QTableView(parent), model_(new ItemListModel(this)) {
    setModel(model_);
    setShowGrid(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(kCellAlignment);
    horizontalHeader()->setMinimumSectionSize(0);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) {
                    selectionMark_ = current.row();
                }
            });
}

void ItemListCtrl::SetColumns(const std::vector<ItemListColumn>& columns) {
    selectionMark_ = -1;
    QStringList titles;
    for (const ItemListColumn& column : columns) {
        titles.append(column.title);
    }
    model_->SetTitles(std::move(titles));
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        setColumnWidth(i, columns[static_cast<std::size_t>(i)].width);
    }
}

void ItemListCtrl::AppendRow(const QStringList& texts) {
    model_->Append({texts});
}

void ItemListCtrl::AppendRows(std::vector<QStringList> rows) {
    model_->Append(std::move(rows));
}

void ItemListCtrl::DeleteAllRows() {
    model_->RemoveAllRows();
    selectionMark_ = -1;
}

void ItemListCtrl::SetFullRowSelect(bool on) {
    setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

bool ItemListCtrl::FullRowSelect() const {
    return selectionBehavior() == QAbstractItemView::SelectRows;
}

int ItemListCtrl::rowCount() const {
    return model_->rowCount();
}

int ItemListCtrl::columnCount() const {
    return model_->columnCount();
}

QStringList ItemListCtrl::RowTexts(int row, int count) const {
    QStringList texts;
    for (int i = 0; i < count; ++i) {
        const QString* cell = model_->Cell(row, i);
        texts.append(cell != nullptr ? *cell : QString());
    }
    return texts;
}

void ItemListCtrl::mouseReleaseEvent(QMouseEvent* event) {
    QTableView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit Clicked();
    }
}

}  // namespace app
