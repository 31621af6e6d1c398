// The look shared by the main window's parts: the accent colour, the
// secondary text colour, the caption font, and labels that shorten their
// text with an ellipsis instead of widening the window.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QLabel;
class QWidget;

namespace vessora::Appearance {

// sRGB (0.27, 0.76, 0.55).
QColor accent();
// The window text at reduced strength, for captions and hints.
QColor secondary(const QPalette& palette);
// The application font a step smaller.
QFont caption(QFont base);
// Caption font and secondary colour on a label or button.
void makeCaption(QWidget* widget);
// The colour as a style sheet value, "rgba(r, g, b, a)".
QString css(const QColor& color);
// Sets the text colour of a widget through its palette.
void setTextColor(QWidget* widget, const QColor& color);

// Shows `text` in the label, cut with an ellipsis to the label's width; the
// whole text stays the label's accessible name. Call again after a resize.
void setElidedText(QLabel* label, const QString& text);

} // namespace vessora::Appearance
