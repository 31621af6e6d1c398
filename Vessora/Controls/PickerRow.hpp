// A version picker with the check box that belongs beside it (HTTPS beside
// the web server, phpMyAdmin beside MariaDB), then a flexible space: the
// row every runtime form uses.
#pragma once

class QCheckBox;
class QWidget;

namespace vessora {

class PackagePicker;

namespace PickerRow {

QWidget* make(QWidget* parent, PackagePicker* picker, QCheckBox* box);

} // namespace PickerRow
} // namespace vessora
