#include "Vessora/Sheets/SheetStyle.hpp"

#include <QApplication>
#include <QFontDatabase>
#include <QLayout>
#include <QPalette>
#include <QWidget>

namespace vessora::SheetStyle {

namespace {

// Relative to the application font; a caption stays readable on desktops
// whose base font is already small.
double scale(TextStyle style) {
    switch (style) {
    case TextStyle::title:
        return 1.45;
    case TextStyle::body:
        return 1.0;
    case TextStyle::callout:
        return 0.96;
    case TextStyle::subheadline:
        return 0.96;
    case TextStyle::caption:
        return 0.9;
    }
    return 1.0;
}

QFont sized(QFont base, TextStyle style) {
    const QFont reference = QApplication::font();
    if (reference.pointSizeF() > 0)
        base.setPointSizeF(reference.pointSizeF() * scale(style));
    else
        base.setPixelSize(static_cast<int>(reference.pixelSize() * scale(style)));
    return base;
}

} // namespace

QFont font(TextStyle style, bool semibold) {
    QFont result = sized(QApplication::font(), style);
    if (semibold)
        result.setWeight(QFont::DemiBold);
    return result;
}

QFont monospaced(TextStyle style) {
    return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), style);
}

void setFont(QWidget* widget, TextStyle style, bool semibold) {
    widget->setFont(font(style, semibold));
}

void setTextColor(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, colour);
        palette.setColor(group, QPalette::Text, colour);
        palette.setColor(group, QPalette::ButtonText, colour);
    }
    widget->setPalette(palette);
}

void setSecondary(QWidget* widget) {
    QColor colour = QApplication::palette().color(QPalette::WindowText);
    colour.setAlphaF(0.62);
    setTextColor(widget, colour);
}

QColor green() {
    return QColor(0x24, 0x8a, 0x3d);
}

QColor orange() {
    return QColor(0xc9, 0x5a, 0x00);
}

QColor destructive() {
    return QColor(0xd7, 0x00, 0x15);
}

QColor accent() {
    return QColor::fromRgbF(0.27f, 0.76f, 0.55f);
}

void fitToContent(QWidget* sheet, int width) {
    for (QWidget* child : sheet->findChildren<QWidget*>())
        child->updateGeometry();
    sheet->setFixedSize(width, sheet->layout()->totalHeightForWidth(width));
}

} // namespace vessora::SheetStyle
