// The item list: a report view with one row per item of the listed folder. Column 0 holds the
// item's message id and is kept so narrow that it is practically hidden. The rows are kept in a
// table model behind the view, so that many rows can be added at once.
#pragma once

#include <string>
#include <vector>

#include <QString>
#include <QStringList>
#include <QTableView>

namespace app {

class ItemListModel;

struct ItemListColumn {
    QString title;
    int width = 0;
};

class ItemListCtrl : public QTableView {
    Q_OBJECT

  public:
    explicit ItemListCtrl(QWidget* parent = nullptr);

    // Replaces every column (and so every row) by these, all left-aligned.
    void SetColumns(const std::vector<ItemListColumn>& columns);
    // Appends a row; texts beyond the last column are dropped.
    void AppendRow(const QStringList& texts);
    // Appends rows in their order, as AppendRow would one by one.
    void AppendRows(std::vector<QStringList> rows);
    void DeleteAllRows();
    // Grid lines only, or grid lines with whole rows selected.
    void SetFullRowSelect(bool on);
    bool FullRowSelect() const;

    int rowCount() const;
    int columnCount() const;

    // The row most recently selected, or -1 when no row has been selected since the rows
    // were last filled.
    int SelectionMark() const { return selectionMark_; }
    // The texts of columns 0 .. count-1 of a row; a column or row that does not exist reads
    // as empty.
    QStringList RowTexts(int row, int count) const;

  signals:
    // A click anywhere in the list, after the selection has followed it.
    void Clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    ItemListModel* model_;
    int selectionMark_ = -1;
};

}  // namespace app
