// The few text styles and colours the sheets share, derived from the
// application font and palette so they follow the desktop's settings:
// a title, body and callout text, a smaller caption, the secondary (dimmed)
// colour and the green, orange and destructive colours of status texts.
#pragma once

#include <QColor>
#include <QFont>

class QWidget;

namespace vessora::SheetStyle {

enum class TextStyle { title, body, callout, subheadline, caption };

// The application font at the style's size, semibold when asked.
QFont font(TextStyle style, bool semibold = false);
// The desktop's fixed-width font at the style's size.
QFont monospaced(TextStyle style);
void setFont(QWidget* widget, TextStyle style, bool semibold = false);

// Text of labels, text views and buttons in `colour`; the disabled look stays
// the palette's own.
void setTextColor(QWidget* widget, const QColor& colour);
// The window text, dimmed.
void setSecondary(QWidget* widget);

QColor green();
QColor orange();
QColor destructive();
// The application's accent, sRGB (0.27, 0.76, 0.55).
QColor accent();

// Gives a sheet exactly `width` and the height its content needs at that
// width: never cut off, never scrolled. Call after every change of a text
// or a visibility; it first drops the size hints the layouts keep, which
// would otherwise still describe the previous texts.
void fitToContent(QWidget* sheet, int width);

} // namespace vessora::SheetStyle
