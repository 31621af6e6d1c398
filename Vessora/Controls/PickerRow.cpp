#include "Vessora/Controls/PickerRow.hpp"

#include "Vessora/Controls/PackagePicker.hpp"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QWidget>

namespace vessora::PickerRow {

QWidget* make(QWidget* parent, PackagePicker* picker, QCheckBox* box) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(picker, 0, Qt::AlignVCenter);
    layout->addWidget(box, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    return row;
}

} // namespace vessora::PickerRow
