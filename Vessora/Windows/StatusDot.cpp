#include "Vessora/Windows/StatusDot.hpp"

#include <QPainter>

namespace vessora {

StatusDot::StatusDot(QWidget* parent) : QWidget(parent) {
    setFixedSize(diameter, diameter);
}

void StatusDot::setRunning(bool running) {
    if (running == running_)
        return;
    running_ = running;
    update();
}

QColor StatusDot::runningColour() {
    // Dark enough to read as caption text on the window background.
    return QColor(0x1F, 0x9D, 0x55);
}

QColor StatusDot::colour() const {
    if (running_)
        return runningColour();
    QColor dimmed = palette().color(QPalette::WindowText);
    dimmed.setAlphaF(0.62f * 0.4f);
    return dimmed;
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour());
    painter.drawEllipse(QRectF(rect()));
}

} // namespace vessora
