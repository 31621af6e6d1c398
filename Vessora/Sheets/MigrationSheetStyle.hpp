// The pieces the import wizard's steps and result share, built in the
// sheets' look (FormStyle, SheetStyle): wrapping captions in the secondary
// or the warning colour, the path line, small line edits and buttons, and
// a step's column and its form of titled rows.
#pragma once

class QBoxLayout;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace vessora {
class ElidedSelectableText;
}

namespace vessora::MigrationSheetStyle {

// The column of one step: aligned to the leading edge, 12 apart.
QVBoxLayout* column(QWidget* step);
// Rows of a title beside its control, as the runtime step's, added to
// `column`: a filled field still says what it holds.
QGridLayout* form(QVBoxLayout* column);
// The next row of `form`: `title` (none for a row that continues the one
// above, such as its note) beside `control`.
void addRow(QGridLayout* form, QLabel* title, QWidget* control);
void addRow(QGridLayout* form, QLabel* title, QBoxLayout* controls);
// A row's title in the small control type.
QLabel* rowTitle(QWidget* parent, const char* objectName);
// Caption type, wrapping, dimmed.
QLabel* caption(QWidget* parent, const char* objectName);
// Caption type, wrapping, orange.
QLabel* warning(QWidget* parent, const char* objectName);
// A path as it is: monospaced caption type, selectable, at most two lines,
// shortened in the middle.
ElidedSelectableText* pathLine(QWidget* parent, const char* objectName);
QLineEdit* lineEdit(QWidget* parent, const char* objectName);
// A small button that is never the default one.
QPushButton* button(QWidget* parent, const char* objectName);

} // namespace vessora::MigrationSheetStyle
