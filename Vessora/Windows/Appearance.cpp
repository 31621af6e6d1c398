#include "Vessora/Windows/Appearance.hpp"

#include <QLabel>
#include <QWidget>

#include <algorithm>

namespace vessora::Appearance {

QColor accent() {
    return QColor::fromRgbF(0.27f, 0.76f, 0.55f);
}

QColor secondary(const QPalette& palette) {
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.6f);
    return color;
}

QFont caption(QFont base) {
    if (base.pointSizeF() > 0)
        base.setPointSizeF(std::max(7.0, base.pointSizeF() - 1.0));
    else
        base.setPixelSize(std::max(9, base.pixelSize() - 2));
    return base;
}

void makeCaption(QWidget* widget) {
    widget->setFont(caption(widget->font()));
    setTextColor(widget, secondary(widget->palette()));
}

QString css(const QColor& color) {
    return QString("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF());
}

void setElidedText(QLabel* label, const QString& text) {
    label->setAccessibleName(text);
    label->setText(
        label->fontMetrics().elidedText(text, Qt::ElideRight, std::max(0, label->width())));
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

} // namespace vessora::Appearance
