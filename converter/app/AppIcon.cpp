#include "converter/app/AppIcon.h"

#include <QPainter>
#include <QPixmap>

namespace orvale::converter {
namespace {

// A film frame with an arrow: old recordings becoming new ones.
QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 32.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2b, 0x57, 0x9a));
    painter.drawRoundedRect(QRectF(2 * unit, 5 * unit, 28 * unit, 22 * unit), 3 * unit, 3 * unit);
    painter.setBrush(Qt::white);
    for (int i = 0; i < 4; ++i) {
        painter.drawRect(QRectF((5 + 7 * i) * unit, 7 * unit, 3 * unit, 2 * unit));
        painter.drawRect(QRectF((5 + 7 * i) * unit, 23 * unit, 3 * unit, 2 * unit));
    }
    const QPointF arrow[] = {{9 * unit, 13 * unit},  {17 * unit, 13 * unit}, {17 * unit, 10 * unit},
                             {24 * unit, 16 * unit}, {17 * unit, 22 * unit}, {17 * unit, 19 * unit},
                             {9 * unit, 19 * unit}};
    painter.drawPolygon(arrow, 7);
    return pixmap;
}

}  // namespace

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48}) icon.addPixmap(DrawIcon(size));
    return icon;
}

}  // namespace orvale::converter
