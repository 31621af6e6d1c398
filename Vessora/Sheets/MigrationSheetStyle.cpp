#include "Vessora/Sheets/MigrationSheetStyle.hpp"

#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Sheets/ElidedSelectableText.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora::MigrationSheetStyle {

QVBoxLayout* column(QWidget* step) {
    auto* layout = new QVBoxLayout(step);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->setAlignment(Qt::AlignTop);
    return layout;
}

QGridLayout* form(QVBoxLayout* column) {
    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(12);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);
    return grid;
}

void addRow(QGridLayout* form, QLabel* title, QWidget* control) {
    const int row = form->rowCount();
    if (title)
        form->addWidget(title, row, 0, Qt::AlignLeft | Qt::AlignVCenter);
    form->addWidget(control, row, 1);
}

void addRow(QGridLayout* form, QLabel* title, QBoxLayout* controls) {
    const int row = form->rowCount();
    if (title)
        form->addWidget(title, row, 0, Qt::AlignLeft | Qt::AlignVCenter);
    form->addLayout(controls, row, 1);
}

QLabel* rowTitle(QWidget* parent, const char* objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    FormStyle::makeSmall(label);
    return label;
}

QLabel* caption(QWidget* parent, const char* objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    FormStyle::makeCaption(label);
    FormStyle::makeSecondary(label);
    FormStyle::makeWrapping(label);
    return label;
}

QLabel* warning(QWidget* parent, const char* objectName) {
    QLabel* label = caption(parent, objectName);
    FormStyle::makeWarning(label);
    return label;
}

ElidedSelectableText* pathLine(QWidget* parent, const char* objectName) {
    auto* text = new ElidedSelectableText(parent);
    text->setObjectName(objectName);
    SheetStyle::makeMonospaced(text, true);
    return text;
}

QLineEdit* lineEdit(QWidget* parent, const char* objectName) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    FormStyle::makeSmall(field);
    return field;
}

QPushButton* button(QWidget* parent, const char* objectName) {
    auto* push = new QPushButton(parent);
    push->setObjectName(objectName);
    push->setAutoDefault(false);
    FormStyle::makeSmall(push);
    return push;
}

} // namespace vessora::MigrationSheetStyle
