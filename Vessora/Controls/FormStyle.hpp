// The look the forms share, in one place: the font sizes of the small
// control size, captions and headings (relative to the application font, so
// they follow the desktop's size), the secondary and warning text colours and
// the accent-coloured default button. Each call only sets fonts, palettes,
// flags or (the prominent button) a style sheet on the widget it is given.
#pragma once

#include <QColor>

class QLabel;
class QPushButton;
class QWidget;

namespace vessora::FormStyle {

// sRGB (0.27, 0.76, 0.55).
QColor accent();
// Orange text of validation messages, dark enough to read on the window.
QColor warning();

// The small control size: a font a little smaller than the application's.
void makeSmall(QWidget* widget);
// Small type for notes and messages.
void makeCaption(QWidget* widget);
// A semibold title line.
void makeHeading(QWidget* widget);
// Semibold small type, as the titles of form sections.
void makeSectionTitle(QWidget* widget);

// Dimmed text for labels and notes.
void makeSecondary(QWidget* widget);
// Orange text for a validation message.
void makeWarning(QWidget* widget);

// The prominent default button: accent background, white text.
void makeProminent(QPushButton* button);

// A label that wraps its text and never widens its column.
void makeWrapping(QLabel* label);

} // namespace vessora::FormStyle
