#include "ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ferry {

// A sheet of paper riding on a small boat over a wave: files carried across.
QPixmap DrawApplicationIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1E, 0x5A, 0xA8));
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 6, 6);

    // The sheet, with a folded corner and two lines of text.
    QPainterPath sheet;
    sheet.moveTo(10, 4);
    sheet.lineTo(19, 4);
    sheet.lineTo(23, 8);
    sheet.lineTo(23, 17);
    sheet.lineTo(10, 17);
    sheet.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.setBrush(QColor(0xB0, 0xC8, 0xE8));
    p.drawPolygon(QPolygonF({QPointF(19, 4), QPointF(19, 8), QPointF(23, 8)}));
    p.setPen(QPen(QColor(0x1E, 0x5A, 0xA8), 1.2));
    p.drawLine(QPointF(12.5, 10.5), QPointF(20.5, 10.5));
    p.drawLine(QPointF(12.5, 13.5), QPointF(20.5, 13.5));

    // The hull.
    QPainterPath hull;
    hull.moveTo(5, 18);
    hull.lineTo(27, 18);
    hull.lineTo(23, 24);
    hull.lineTo(9, 24);
    hull.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF2, 0xA5, 0x1A));
    p.drawPath(hull);

    // The wave.
    QPainterPath wave;
    wave.moveTo(3, 27);
    wave.cubicTo(7, 24.5, 10, 29.5, 16, 27);
    wave.cubicTo(22, 24.5, 25, 29.5, 29, 27);
    p.setPen(QPen(QColor(0x9C, 0xE0, 0xFF), 2.0, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    return pixmap;
}

QIcon MakeApplicationIcon() {
    QIcon icon;
    icon.addPixmap(DrawApplicationIcon(32));
    icon.addPixmap(DrawApplicationIcon(16));
    return icon;
}

} // namespace ferry
