#include "Vessora/Controls/FormStyle.hpp"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSizePolicy>
#include <QString>
#include <QWidget>

#include <algorithm>
#include <optional>

namespace vessora::FormStyle {

namespace {

// Sizes relative to the regular control font (13 points in the design).
constexpr double smallScale = 11.0 / 13.0;
constexpr double captionScale = 10.0 / 13.0;
constexpr double headingScale = 15.0 / 13.0;

void scaleFont(QWidget* widget, double scale, std::optional<QFont::Weight> weight = {}) {
    QFont font = widget->font();
    const QFont base = QApplication::font();
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * scale);
    else
        font.setPixelSize(std::max(1, static_cast<int>(base.pixelSize() * scale + 0.5)));
    if (weight)
        font.setWeight(*weight);
    widget->setFont(font);
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::WindowText, color);
    widget->setPalette(palette);
}

} // namespace

QColor accent() {
    return QColor::fromRgbF(0.27f, 0.76f, 0.55f);
}

QColor warning() {
    return QColor(0xC2, 0x5B, 0x00);
}

void makeSmall(QWidget* widget) {
    scaleFont(widget, smallScale);
}

void makeCaption(QWidget* widget) {
    scaleFont(widget, captionScale);
}

void makeHeading(QWidget* widget) {
    scaleFont(widget, headingScale, QFont::DemiBold);
}

void makeSectionTitle(QWidget* widget) {
    scaleFont(widget, smallScale, QFont::DemiBold);
}

void makeSecondary(QWidget* widget) {
    QColor text = QApplication::palette().color(QPalette::WindowText);
    text.setAlphaF(0.62f);
    setTextColor(widget, text);
}

void makeWarning(QWidget* widget) {
    setTextColor(widget, warning());
}

void makeProminent(QPushButton* button) {
    // A solid fill: a styled gradient from the palette pales the accent
    // until white text is hard to read and enabled looks like disabled. A
    // shade darker than the accent keeps white text readable.
    // Disabled, a pale tint with dark green text: white on a faded accent
    // could hardly be read.
    const QColor fill = accent().darker(125);
    QColor faded = accent();
    faded.setAlphaF(0.22f);
    QColor fadedText = accent().darker(190);
    fadedText.setAlphaF(0.8f);
    button->setStyleSheet(
        QString("QPushButton { background-color: %1; color: white; border: 1px solid %2;"
                " border-radius: 4px; padding: 4px 12px; }"
                "QPushButton:hover { background-color: %3; }"
                "QPushButton:pressed { background-color: %2; }"
                "QPushButton:disabled { background-color: %4; color: %5;"
                " border-color: transparent; }")
            .arg(fill.name(), fill.darker(125).name(), fill.lighter(110).name(),
                 faded.name(QColor::HexArgb), fadedText.name(QColor::HexArgb)));
    button->setDefault(true);
}

void makeWrapping(QLabel* label) {
    label->setWordWrap(true);
    QSizePolicy policy = label->sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    policy.setHeightForWidth(true);
    label->setSizePolicy(policy);
}

} // namespace vessora::FormStyle
