#include "app/window/about_dlg.h"

#include <QPainter>
#include <QPushButton>

#include "app/window/artwork.h"

namespace app {

namespace {

// Bitmap 135, filling the box.
class AboutPicture : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        PaintAboutPicture(painter, rect());
    }
};

constexpr int kWidth = 360;
constexpr int kHeight = 220;

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf16(kAboutCaption));
    setFixedSize(kWidth, kHeight);
    auto* picture = new AboutPicture(this);
    picture->setGeometry(0, 0, kWidth, kHeight);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    const QSize button = ok_->sizeHint();
    ok_->setGeometry(kWidth - button.width() - 12, kHeight - button.height() - 12, button.width(),
                     button.height());
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace app
