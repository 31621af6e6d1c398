// The look the environment editor's parts share beyond the forms' common
// style: the monospaced caption of addresses, paths and process ids, and
// the small symbolic icons of its buttons.
#pragma once

#include <QColor>
#include <QFont>

#include <string>

class QAbstractButton;

namespace vessora::EditorStyle {

// Icons beside small button titles.
inline constexpr int buttonIconSize = 12;

// The caption-size monospaced font.
QFont monospacedCaption();

// Gives the button the theme's symbolic icon `name` in `colour` (greyed
// while the button is disabled) at `size` pixels.
void setButtonIcon(QAbstractButton* button, const std::string& name, const QColor& colour,
                   int size = buttonIconSize);

} // namespace vessora::EditorStyle
