// The item filter's dialog (File > Filter Items...): the dates, sender, subject and message
// class that the next listings and saves keep to. The texts are read and checked by the
// toolkit-free store::MakeItemFilter; this dialog only edits them.
#pragma once

#include <array>

#include <QDialog>

#include "store/item_filter.h"

class QLineEdit;

namespace app {

inline constexpr char16_t kFilterCaption[] = u"Filter Items";

enum class FilterField { kSince, kUntil, kFrom, kSubject, kClass };

class CFilterDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CFilterDlg(const store::ItemFilterTexts& texts, QWidget* parent = nullptr);

    // The texts as they stand in the edits.
    store::ItemFilterTexts Texts() const;
    QLineEdit* Edit(FilterField field) const { return edits_[static_cast<std::size_t>(field)]; }

  private:
    std::array<QLineEdit*, 5> edits_{};
};

}  // namespace app
