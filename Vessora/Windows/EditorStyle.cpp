#include "Vessora/Windows/EditorStyle.hpp"

#include "Vessora/App/Icons.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>

#include <algorithm>

namespace vessora::EditorStyle {

namespace {

constexpr double captionScale = 10.0 / 13.0;

} // namespace

QFont monospacedCaption() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFont base = QApplication::font();
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * captionScale);
    else
        font.setPixelSize(std::max(1, static_cast<int>(base.pixelSize() * captionScale + 0.5)));
    return font;
}

void setButtonIcon(QAbstractButton* button, const std::string& name, const QColor& colour,
                   int size) {
    // A disabled button greys its icon with its title.
    const QColor greyed = button->palette().color(QPalette::Disabled, QPalette::ButtonText);
    const QIcon icon = Icons::symbolic(name, colour, greyed);
    button->setIcon(icon);
    button->setIconSize(QSize(size, size));
}

} // namespace vessora::EditorStyle
