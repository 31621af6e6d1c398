#include "Vessora/Sheets/SheetStyle.hpp"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLayout>
#include <QPalette>
#include <QWidget>

#include <algorithm>

namespace vessora::SheetStyle {

namespace {

// Sizes relative to the regular control font (13 points in the design), as
// FormStyle's.
constexpr double titleScale = 20.0 / 13.0;
constexpr double calloutScale = 12.0 / 13.0;
constexpr double captionScale = 10.0 / 13.0;

void setScaledFont(QWidget* widget, QFont font, double scale) {
    const QFont base = QApplication::font();
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * scale);
    else
        font.setPixelSize(std::max(1, static_cast<int>(base.pixelSize() * scale + 0.5)));
    widget->setFont(font);
}

} // namespace

void makeTitle(QWidget* widget) {
    QFont font = widget->font();
    font.setWeight(QFont::DemiBold);
    setScaledFont(widget, font, titleScale);
}

void makeCallout(QWidget* widget) {
    setScaledFont(widget, widget->font(), calloutScale);
}

void makeMonospaced(QWidget* widget, bool caption) {
    setScaledFont(widget, QFontDatabase::systemFont(QFontDatabase::FixedFont),
                  caption ? captionScale : calloutScale);
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

QColor green() {
    return QColor(0x24, 0x8A, 0x3D);
}

QColor destructive() {
    return QColor(0xD7, 0x00, 0x15);
}

void fitToContent(QWidget* sheet, int width) {
    for (QWidget* child : sheet->findChildren<QWidget*>())
        child->updateGeometry();
    // A nested layout keeps the heights it worked out for its width until
    // it is told its widgets changed; their own updates only reach the
    // layout of the widget they sit on.
    for (QLayout* nested : sheet->findChildren<QLayout*>())
        nested->invalidate();
    sheet->setFixedSize(width, sheet->layout()->totalHeightForWidth(width));
}

} // namespace vessora::SheetStyle
