#include "app/Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tilvorn {

namespace {

void DrawSheet(QPainter& p, QRectF r, QColor fill) {
    p.setBrush(fill);
    p.drawRect(r);
}

void DrawPrinter(QPainter& p) {
    DrawSheet(p, {9, 3, 14, 10}, Qt::white);
    p.setBrush(QColor(90, 90, 100));
    p.drawRoundedRect(QRectF(3, 12, 26, 12), 2, 2);
    DrawSheet(p, {9, 20, 14, 9}, Qt::white);
    p.setBrush(QColor(80, 200, 80));
    p.drawEllipse(QPointF(25, 15.5), 1.5, 1.5);
}

}  // namespace

QIcon MakeGlyph(TGlyph glyph, int size) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.2));
    switch (glyph) {
        case TGlyph::OpenFile: {
            p.setBrush(QColor(230, 190, 80));
            p.drawRect(QRectF(3, 8, 26, 19));
            p.setBrush(QColor(250, 215, 110));
            QPainterPath flap;
            flap.moveTo(3, 27);
            flap.lineTo(8, 14);
            flap.lineTo(31, 14);
            flap.lineTo(29, 27);
            flap.closeSubpath();
            p.drawPath(flap);
            break;
        }
        case TGlyph::Scan:
            p.setBrush(QColor(200, 200, 210));
            p.drawRoundedRect(QRectF(2, 12, 28, 14), 2, 2);
            p.setBrush(QColor(120, 180, 255));
            p.drawRect(QRectF(5, 15, 22, 4));
            p.setPen(QPen(QColor(255, 60, 60), 2));
            p.drawLine(QPointF(4, 22), QPointF(28, 22));
            break;
        case TGlyph::Clipboard:
            p.setBrush(QColor(180, 130, 80));
            p.drawRoundedRect(QRectF(5, 4, 22, 26), 2, 2);
            DrawSheet(p, {8, 8, 16, 19}, Qt::white);
            p.setBrush(QColor(150, 150, 150));
            p.drawRect(QRectF(11, 2, 10, 5));
            break;
        case TGlyph::Printer:
        case TGlyph::Print:
            DrawPrinter(p);
            break;
        case TGlyph::Sheet:
            DrawSheet(p, {7, 2, 18, 28}, Qt::white);
            p.setPen(QPen(QColor(120, 120, 120), 1, Qt::DotLine));
            p.drawRect(QRectF(10, 5, 12, 22));
            break;
        case TGlyph::Save:
            p.setBrush(QColor(60, 90, 170));
            p.drawRoundedRect(QRectF(3, 3, 26, 26), 2, 2);
            DrawSheet(p, {8, 3, 16, 10}, Qt::white);
            p.setBrush(QColor(200, 200, 200));
            p.drawRect(QRectF(9, 18, 14, 11));
            break;
        case TGlyph::WebPage:
            p.setBrush(QColor(120, 180, 255));
            p.drawEllipse(QRectF(3, 3, 26, 26));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(10, 3, 12, 26));
            p.drawLine(QPointF(3, 16), QPointF(29, 16));
            break;
        case TGlyph::Cancel:
            p.setBrush(QColor(220, 50, 50));
            p.drawEllipse(QRectF(2, 2, 28, 28));
            p.setPen(QPen(Qt::white, 3));
            p.drawLine(QPointF(10, 10), QPointF(22, 22));
            p.drawLine(QPointF(22, 10), QPointF(10, 22));
            break;
    }
    p.end();
    if (size != 32) pixmap = pixmap.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return QIcon(pixmap);
}

}  // namespace tilvorn
