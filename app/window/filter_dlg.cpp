#include "app/window/filter_dlg.h"

#include <string>

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace app {

namespace {

struct FieldRow {
    FilterField field;
    const char* label;
    const char* placeholder;
};

constexpr FieldRow kRows[] = {
    {FilterField::kSince, "Since:", "YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS (UTC)"},
    {FilterField::kUntil, "Until:", "YYYY-MM-DD (to its end) or YYYY-MM-DDTHH:MM:SS"},
    {FilterField::kFrom, "From contains:", "part of the sender's name or address"},
    {FilterField::kSubject, "Subject contains:", "part of the subject"},
    {FilterField::kClass, "Message class:", "e.g. IPM.Note (also takes IPM.Note.SMIME)"},
};

}  // namespace

CFilterDlg::CFilterDlg(const store::ItemFilterTexts& texts, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf16(kFilterCaption));
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(
        QStringLiteral("Only the items that meet every condition given are listed and saved. "
                       "Empty fields set no condition."),
        this);
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* form = new QFormLayout;
    const std::string* values[] = {&texts.since, &texts.until, &texts.from, &texts.subject,
                                   &texts.messageClass};
    for (const FieldRow& row : kRows) {
        const auto index = static_cast<std::size_t>(row.field);
        auto* edit = new QLineEdit(QString::fromStdString(*values[index]), this);
        edit->setPlaceholderText(QString::fromUtf8(row.placeholder));
        edit->setClearButtonEnabled(true);
        edit->setMinimumWidth(320);
        form->addRow(QString::fromUtf8(row.label), edit);
        edits_[index] = edit;
    }
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

store::ItemFilterTexts CFilterDlg::Texts() const {
    auto text = [this](FilterField field) { return Edit(field)->text().trimmed().toStdString(); };
    return {text(FilterField::kSince), text(FilterField::kUntil), text(FilterField::kFrom),
            text(FilterField::kSubject), text(FilterField::kClass)};
}

}  // namespace app
