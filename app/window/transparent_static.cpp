#include "app/window/transparent_static.h"

#include <QPalette>

namespace app {

CTransparentStatic::CTransparentStatic(QWidget* parent) : QLabel(parent) {
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground, true);
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
}

void CTransparentStatic::SetText(const QString& text) {
    QLabel::setText(text);
    if (QWidget* parent = parentWidget()) {
        parent->update(geometry());
    }
}

}  // namespace app
