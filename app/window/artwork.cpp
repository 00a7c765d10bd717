#include "app/window/artwork.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRect>

namespace app {

namespace {

const QColor kOutline(60, 60, 60);

void DrawFolder(QPainter& p, const QColor& body) {
    p.setPen(QPen(body.darker(160), 1));
    p.setBrush(body.darker(115));
    p.drawRect(QRectF(1.5, 3.5, 6, 2));
    p.setBrush(body);
    p.drawRect(QRectF(1.5, 4.5, 13, 9));
}

void DrawPage(QPainter& p) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(2.5, 1.5, 11, 13));
}

void DrawEnvelope(QPainter& p, const QRectF& r) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(QColor(250, 245, 225));
    p.drawRect(r);
    p.drawLine(r.topLeft(), QPointF(r.center().x(), r.center().y() + 1));
    p.drawLine(r.topRight(), QPointF(r.center().x(), r.center().y() + 1));
}

void DrawTray(QPainter& p, const QColor& colour) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(colour);
    QPolygonF tray;
    tray << QPointF(1.5, 9.5) << QPointF(5.5, 9.5) << QPointF(6.5, 11.5) << QPointF(9.5, 11.5)
         << QPointF(10.5, 9.5) << QPointF(14.5, 9.5) << QPointF(14.5, 14.5) << QPointF(1.5, 14.5);
    p.drawPolygon(tray);
}

void DrawArrow(QPainter& p, bool down, const QColor& colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    QPolygonF arrow;
    if (down) {
        arrow << QPointF(6, 1) << QPointF(10, 1) << QPointF(10, 5) << QPointF(12.5, 5)
              << QPointF(8, 10) << QPointF(3.5, 5) << QPointF(6, 5);
    } else {
        arrow << QPointF(8, 1) << QPointF(12.5, 6) << QPointF(10, 6) << QPointF(10, 10)
              << QPointF(6, 10) << QPointF(6, 6) << QPointF(3.5, 6);
    }
    p.drawPolygon(arrow);
}

void DrawIcon(QPainter& p, int resource) {
    switch (resource) {
        case 157:  // an open folder
            DrawFolder(p, QColor(120, 160, 230));
            break;
        case 139: {  // a database
            p.setPen(QPen(kOutline, 1));
            p.setBrush(QColor(170, 190, 210));
            p.drawRect(QRectF(2.5, 4, 11, 8));
            p.drawEllipse(QRectF(2.5, 9.5, 11, 5));
            p.setPen(Qt::NoPen);
            p.drawRect(QRectF(3, 4, 10, 8));
            p.setPen(QPen(kOutline, 1));
            p.setBrush(QColor(200, 215, 230));
            p.drawEllipse(QRectF(2.5, 1.5, 11, 5));
            break;
        }
        case 149:  // calendar
            DrawPage(p);
            p.fillRect(QRectF(3, 2, 10, 3), QColor(200, 40, 40));
            p.setPen(QPen(QColor(120, 120, 120), 1));
            for (int x = 5; x <= 11; x += 3) {
                p.drawLine(QPointF(x + 0.5, 6), QPointF(x + 0.5, 14));
            }
            for (int y = 8; y <= 12; y += 2) {
                p.drawLine(QPointF(3, y + 0.5), QPointF(13, y + 0.5));
            }
            break;
        case 151:  // contacts
            p.setPen(QPen(kOutline, 1));
            p.setBrush(QColor(240, 200, 160));
            p.drawEllipse(QRectF(5, 1.5, 6, 6));
            p.setBrush(QColor(70, 110, 190));
            p.drawChord(QRectF(2.5, 8.5, 11, 11), 0, 180 * 16);
            break;
        case 140:  // deleted items
            p.setPen(QPen(kOutline, 1));
            p.setBrush(QColor(180, 180, 180));
            p.drawRect(QRectF(2.5, 2.5, 11, 2));
            p.drawRect(QRectF(6.5, 1.5, 3, 1));
            p.drawPolygon(QPolygonF() << QPointF(3.5, 4.5) << QPointF(12.5, 4.5)
                                      << QPointF(11.5, 14.5) << QPointF(4.5, 14.5));
            p.drawLine(QPointF(6.5, 6.5), QPointF(6.5, 12.5));
            p.drawLine(QPointF(9.5, 6.5), QPointF(9.5, 12.5));
            break;
        case 141:  // drafts
            DrawPage(p);
            p.setPen(QPen(QColor(140, 140, 140), 1));
            for (int y = 4; y <= 8; y += 2) {
                p.drawLine(QPointF(4.5, y + 0.5), QPointF(11.5, y + 0.5));
            }
            p.setPen(QPen(QColor(220, 150, 30), 2.5));
            p.drawLine(QPointF(6, 13), QPointF(13, 6));
            break;
        case 142:  // inbox
            DrawTray(p, QColor(240, 220, 130));
            DrawArrow(p, true, QColor(40, 120, 210));
            break;
        case 152:  // journal
            p.setPen(QPen(kOutline, 1));
            p.setBrush(QColor(140, 70, 40));
            p.drawRect(QRectF(3.5, 1.5, 10, 13));
            p.fillRect(QRectF(5, 3, 7, 3), QColor(240, 230, 200));
            break;
        case 143:  // junk e-mail
            DrawEnvelope(p, QRectF(1.5, 3.5, 13, 9));
            p.setPen(QPen(QColor(210, 30, 30), 2));
            p.drawLine(QPointF(9, 8), QPointF(15, 14));
            p.drawLine(QPointF(15, 8), QPointF(9, 14));
            break;
        case 153:  // notes
            p.setPen(QPen(QColor(170, 150, 40), 1));
            p.setBrush(QColor(255, 240, 120));
            p.drawPolygon(QPolygonF()
                          << QPointF(1.5, 1.5) << QPointF(14.5, 1.5) << QPointF(14.5, 10.5)
                          << QPointF(10.5, 14.5) << QPointF(1.5, 14.5));
            break;
        case 144:  // outbox
            DrawTray(p, QColor(240, 220, 130));
            DrawArrow(p, false, QColor(40, 160, 70));
            break;
        case 145:  // sent items
            DrawEnvelope(p, QRectF(1.5, 5.5, 10, 8));
            p.setPen(QPen(QColor(40, 160, 70), 2));
            p.drawLine(QPointF(9, 4), QPointF(15, 4));
            p.drawLine(QPointF(12, 1), QPointF(15, 4));
            p.drawLine(QPointF(12, 7), QPointF(15, 4));
            break;
        case 154:  // tasks
            p.setPen(QPen(kOutline, 1));
            p.setBrush(QColor(210, 170, 110));
            p.drawRect(QRectF(2.5, 1.5, 11, 13));
            p.fillRect(QRectF(4, 3, 8, 10), Qt::white);
            p.setPen(QPen(QColor(30, 150, 60), 2));
            p.drawLine(QPointF(5, 8), QPointF(7, 11));
            p.drawLine(QPointF(7, 11), QPointF(11, 5));
            break;
        case 146: {  // sync issues
            p.setPen(QPen(QColor(40, 120, 210), 2));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(2, 2, 12, 12), 30 * 16, 150 * 16);
            p.drawArc(QRectF(2, 2, 12, 12), 210 * 16, 150 * 16);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(230, 160, 20));
            p.drawEllipse(QRectF(6, 6, 4, 4));
            break;
        }
        case 148:  // a green folder
            DrawFolder(p, QColor(130, 200, 110));
            break;
        case 147:  // a grey folder
            DrawFolder(p, QColor(185, 185, 185));
            break;
        default:  // 156 and anything unknown: a plain folder
            DrawFolder(p, QColor(245, 205, 90));
            break;
    }
}

void PaintBannerBackground(QPainter& p, const QRect& rect, const QColor& from, const QColor& to) {
    QLinearGradient gradient(rect.topLeft(), rect.topRight());
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    p.fillRect(rect, gradient);
}

}  // namespace

QPixmap FolderImagePixmap(int iconResource) {
    QPixmap pixmap(kFolderImageSize, kFolderImageSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    DrawIcon(painter, iconResource);
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.scale(size / 16.0, size / 16.0);
        p.setPen(QPen(QColor(30, 70, 40), 1));
        p.setBrush(QColor(176, 213, 138));
        p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
        DrawEnvelope(p, QRectF(3.5, 5.5, 9, 6));
        icon.addPixmap(pixmap);
    }
    return icon;
}

void PaintLeftBanner(QPainter& p, const QRect& rect) {
    PaintBannerBackground(p, rect, QColor(30, 80, 50), QColor(90, 150, 80));
    p.setPen(Qt::white);
    const QString title = QStringLiteral("Quorvale EDB to MSG Converter");
    QFont font = p.font();
    font.setBold(true);
    // As large as fits the banner's width.
    for (int size = qMax(10, rect.height() * 2 / 5); size > 6; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(title) <= rect.width() - 32) {
            break;
        }
    }
    p.setFont(font);
    p.drawText(rect.adjusted(16, 0, -8, -rect.height() / 3), Qt::AlignLeft | Qt::AlignBottom,
               title);
    font.setBold(false);
    font.setPixelSize(qMax(8, rect.height() / 5));
    p.setFont(font);
    p.drawText(rect.adjusted(18, rect.height() * 2 / 3, -8, -4), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("Quorvale Systems Exchange Recovery"));
}

void PaintRightBanner(QPainter& p, const QRect& rect) {
    PaintBannerBackground(p, rect, QColor(90, 150, 80), QColor(176, 213, 138));
    const int side = qMin(rect.height() - 12, 48);
    if (side > 8) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing, true);
        p.translate(rect.right() - side - 12, rect.top() + (rect.height() - side) / 2);
        p.scale(side / 16.0, side / 16.0);
        DrawEnvelope(p, QRectF(1.5, 3.5, 13, 9));
        p.restore();
    }
}

void PaintAboutPicture(QPainter& p, const QRect& rect) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, QColor(30, 80, 50));
    gradient.setColorAt(1, QColor(176, 213, 138));
    p.fillRect(rect, gradient);
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(20);
    p.setFont(font);
    p.drawText(rect.adjusted(12, 12, -12, -rect.height() / 2), Qt::AlignCenter,
               QStringLiteral("Quorvale EDB to MSG Converter"));
    font.setBold(false);
    font.setPixelSize(13);
    p.setFont(font);
    p.drawText(rect.adjusted(12, rect.height() / 2, -12, -12), Qt::AlignHCenter | Qt::AlignTop,
               QStringLiteral("Version 3.0\nQuorvale Systems"));
}

}  // namespace app
