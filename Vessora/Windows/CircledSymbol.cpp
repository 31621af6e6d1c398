#include "Vessora/Windows/CircledSymbol.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>

namespace vessora {

QPixmap drawCircledSymbol(CircledSymbol shape, const QColor& colour, int size) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = size;
    const qreal line = std::max<qreal>(1.2, side / 12.0);
    painter.setPen(QPen(colour, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const qreal inset = line / 2 + 0.5;
    painter.drawEllipse(QRectF(inset, inset, side - 2 * inset, side - 2 * inset));
    // Points in fractions of the side.
    const auto at = [side](qreal x, qreal y) { return QPointF(x * side, y * side); };
    switch (shape) {
    case CircledSymbol::arrowDown:
        painter.drawLine(at(0.5, 0.27), at(0.5, 0.71));
        painter.drawPolyline(QPolygonF{at(0.32, 0.53), at(0.5, 0.71), at(0.68, 0.53)});
        break;
    case CircledSymbol::info:
        painter.drawLine(at(0.5, 0.45), at(0.5, 0.72));
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(at(0.5, 0.29), line * 0.8, line * 0.8);
        break;
    case CircledSymbol::checkmark:
        painter.drawPolyline(QPolygonF{at(0.3, 0.52), at(0.44, 0.66), at(0.7, 0.36)});
        break;
    }
    return pixmap;
}

} // namespace vessora
