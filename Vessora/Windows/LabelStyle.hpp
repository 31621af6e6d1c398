// The few looks the update views and the settings window share: secondary
// and orange text, the small caption size, the accent and mint colours, and
// three small circled symbols drawn in one colour (icon themes draw these
// differently or not at all, and their symbolic images lose their inner
// lines when recoloured).
#pragma once

#include <QColor>
#include <QPixmap>

class QLabel;
class QWidget;

namespace vessora::LabelStyle {

// sRGB (0.27, 0.76, 0.55).
QColor accent();
QColor mint();
QColor orange();

// Text in the widget's own text colour at reduced strength.
void secondary(QWidget* widget);
// Text in orange (warnings and failures).
void orange(QWidget* widget);
// A font a step smaller than the widget's.
void smaller(QWidget* widget);
// Small, secondary, wrapping over as many lines as it needs.
void caption(QLabel* label);

enum class Symbol { arrowDownCircle, infoCircle, checkmarkCircle };

// `shape` in `colour`, `size` pixels square at the screen's pixel ratio.
QPixmap symbol(Symbol shape, const QColor& colour, int size = 16);

} // namespace vessora::LabelStyle
