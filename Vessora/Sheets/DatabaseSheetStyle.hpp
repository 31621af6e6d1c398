// What the database sheets add to the shared look (FormStyle, SheetStyle):
// medium-weight names, selectable labels, dividers, small symbols in a
// colour, line edits that follow their bound text, and button titles
// whose "&" is a letter.
#pragma once

#include <QString>

#include <string>

class QBoxLayout;
class QFrame;
class QLabel;
class QLineEdit;
class QWidget;

namespace vessora {
class DatabaseElidedLabel;
class IconLabel;
} // namespace vessora

namespace vessora::DatabaseSheetStyle {

// The title line of a sheet about one environment: the title with its
// symbol ("title"), and at the right the environment's name
// ("environmentName"), shortened rather than widening the sheet.
struct Header {
    IconLabel* title;
    DatabaseElidedLabel* environment;
};
Header addHeader(QWidget* sheet, QBoxLayout* layout, const std::string& iconName,
                 const std::string& environmentName);

// The widget's font at medium weight (names in lists).
void makeMedium(QWidget* widget);
// Selectable with the mouse and the keyboard, like a text view.
void makeSelectable(QLabel* label);
// A horizontal line between sections.
QFrame* divider(QWidget* parent);
// A label showing the theme's symbolic icon, `size` square, in the
// secondary (dimmed) text colour.
QLabel* secondarySymbol(const std::string& iconName, int size, QWidget* parent);

// SheetStyle::fitToContent, also before the sheet is first shown (when no
// child counts as visible yet and the layout has no height for a width).
void fitSheet(QWidget* sheet, int width);

// Shows the bound value in a line edit, leaving the field alone while it
// already holds that text (so typing never moves the cursor).
void syncText(QLineEdit* field, const std::string& value);

// A title for a button or tab: "&" stays a letter, not a shortcut mark.
QString buttonText(const std::string& value);

} // namespace vessora::DatabaseSheetStyle
