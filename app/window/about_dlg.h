// The About box: the product picture and an OK button.
#pragma once

#include <QDialog>

class QPushButton;

namespace app {

inline constexpr char16_t kAboutCaption[] = u"Quorvale EDB to MSG Converter Version 3.0";

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QPushButton* OkButton() const { return ok_; }

  private:
    QPushButton* ok_;
};

}  // namespace app
