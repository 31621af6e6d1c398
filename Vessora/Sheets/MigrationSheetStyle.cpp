#include "Vessora/Sheets/MigrationSheetStyle.hpp"

#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Sheets/ElidedSelectableText.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"

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
