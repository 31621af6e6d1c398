#include "Vessora/Windows/LabelStyle.hpp"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QWidget>

#include <algorithm>

namespace vessora::LabelStyle {

namespace {

void textColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, colour);
    widget->setPalette(palette);
}

} // namespace

QColor accent() {
    return QColor::fromRgbF(0.27f, 0.76f, 0.55f);
}

QColor mint() {
    return QColor(0, 190, 180);
}

QColor orange() {
    // Darker than a signal orange, so small text stays readable on white.
    return QColor(214, 108, 0);
}

void secondary(QWidget* widget) {
    QColor colour = widget->palette().color(QPalette::WindowText);
    colour.setAlphaF(0.62f);
    textColour(widget, colour);
}

void orange(QWidget* widget) {
    textColour(widget, orange());
}

void smaller(QWidget* widget) {
    QFont font = widget->font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 0.88);
    else
        font.setPixelSize(std::max(9, font.pixelSize() * 88 / 100));
    widget->setFont(font);
}

void caption(QLabel* label) {
    smaller(label);
    secondary(label);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
}

QPixmap symbol(Symbol shape, const QColor& colour, int size) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const qreal line = std::max<qreal>(1.2, s / 12.0);
    painter.setPen(QPen(colour, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const qreal inset = line / 2 + 0.5;
    painter.drawEllipse(QRectF(inset, inset, s - 2 * inset, s - 2 * inset));
    const auto at = [s](qreal x, qreal y) { return QPointF(x * s, y * s); };
    switch (shape) {
    case Symbol::arrowDownCircle:
        painter.drawLine(at(0.5, 0.27), at(0.5, 0.71));
        painter.drawPolyline(QPolygonF{at(0.32, 0.53), at(0.5, 0.71), at(0.68, 0.53)});
        break;
    case Symbol::infoCircle:
        painter.drawLine(at(0.5, 0.45), at(0.5, 0.72));
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(at(0.5, 0.29), line * 0.8, line * 0.8);
        break;
    case Symbol::checkmarkCircle:
        painter.drawPolyline(QPolygonF{at(0.3, 0.52), at(0.44, 0.66), at(0.7, 0.36)});
        break;
    }
    return pixmap;
}

} // namespace vessora::LabelStyle
