#include "Vessora/Windows/BusyIndicator.hpp"

#include <QPainter>

namespace vessora {

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.15);
    painter.setPen(QPen(track, 2));
    painter.drawEllipse(area);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 2, Qt::SolidLine, Qt::RoundCap));
    // Qt counts in 1/16 degree, counter-clockwise.
    painter.drawArc(area, -angle_ * 16, 100 * 16);
}

void BusyIndicator::showEvent(QShowEvent* event) {
    timer_.start();
    QWidget::showEvent(event);
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

} // namespace vessora
