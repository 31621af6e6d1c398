// What the sheets need beyond the forms' look (FormStyle): the large title,
// the callout and fixed-width type, the green and destructive status
// colours, and sizing a sheet to its content at a fixed width.
#pragma once

#include <QColor>

class QWidget;

namespace vessora::SheetStyle {

// A sheet's title line: large and semibold.
void makeTitle(QWidget* widget);
// Type a little smaller than the body, for status lines and addresses.
void makeCallout(QWidget* widget);
// The desktop's fixed-width font at the callout or the caption size.
void makeMonospaced(QWidget* widget, bool caption);

// Text of labels, text views and buttons in `colour`; the disabled look stays
// the palette's own.
void setTextColor(QWidget* widget, const QColor& colour);
// Green of a good state, dark enough to read on the window.
QColor green();
// Red of a destructive button's title.
QColor destructive();

// Gives a sheet exactly `width` and the height its content needs at that
// width: never cut off, never scrolled. Call after every change of a text
// or a visibility; it first drops the size hints the layouts keep, which
// would otherwise still describe the previous texts.
void fitToContent(QWidget* sheet, int width);

} // namespace vessora::SheetStyle
