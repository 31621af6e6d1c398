// The look the database sheets share, in one place: their text styles
// (title, callout, caption, secondary, monospaced, warning and success
// colours), the accent-coloured prominent button, dividers and symbol
// labels. Sizes are relative to the application's font, so the sheets
// follow the desktop's text size.
#pragma once

#include <QColor>
#include <QString>

#include <string>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace vessora::DatabaseSheetStyle {

// sRGB (0.27, 0.76, 0.55).
QColor accent();

// The sheet's heading: larger, semibold.
void title(QLabel* label);
// Names and values: the body size, optionally medium weight.
void callout(QWidget* widget, bool medium = false);
// Notes and hints: smaller.
void caption(QWidget* widget);
// The smallest notes ("Primary", an account's host).
void caption2(QWidget* widget);
// Text in the secondary (dimmed) colour.
void secondary(QWidget* widget);
// Errors: orange; success: green.
void warning(QWidget* widget);
void success(QWidget* widget);
// Monospaced digits and names at the widget's current size.
void monospaced(QWidget* widget);
// Wrapping to as many lines as the text needs.
void wrapping(QLabel* label);
// Selectable with the mouse and keyboard, like a text view.
void selectable(QLabel* label);
// The filled accent button of a sheet's main action.
void prominent(QPushButton* button);

QFrame* divider(QWidget* parent);
// A label showing a theme icon at the given size.
QLabel* symbol(const std::string& iconName, int size, QWidget* parent);

// Gives a dialog of fixed width the height its content needs there.
void fitHeight(QWidget* dialog, int width);

// Shows the bound value in a line edit, leaving the field alone while it
// already holds that text (so typing never moves the cursor).
void syncText(QLineEdit* field, const std::string& value);

// The controls of a sheet use the small size: the dialog's own font, which
// every control inherits (labels set their sizes above explicitly).
void smallControls(QWidget* dialog);

// A text for a button or tab: "&" stays a letter, not a shortcut mark.
QString buttonText(const std::string& value);

// A text from the tables as a QString.
QString text(const std::string& value);

} // namespace vessora::DatabaseSheetStyle
