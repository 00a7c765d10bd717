// A label drawn without a background of its own, so that the window's colour shows through.
#pragma once

#include <QLabel>
#include <QString>

namespace app {

class CTransparentStatic : public QLabel {
    Q_OBJECT

  public:
    explicit CTransparentStatic(QWidget* parent = nullptr);

    // Sets the text as plain text and repaints the part of the parent under the label, so
    // that nothing of the old text stays behind the new one.
    void SetText(const QString& text);
};

}  // namespace app
