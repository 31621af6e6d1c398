#include "Vessora/Sheets/DatabaseSheetStyle.hpp"

#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseElidedLabel.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"

#include <QBoxLayout>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPalette>

namespace vessora::DatabaseSheetStyle {

Header addHeader(QWidget* sheet, QBoxLayout* layout, const std::string& iconName,
                 const std::string& environmentName) {
    auto* row = new QHBoxLayout();
    auto* title = new IconLabel(sheet);
    title->setObjectName("title");
    title->setIcon(iconName);
    title->textLabel()->setWordWrap(false);
    SheetStyle::makeTitle(title);
    row->addWidget(title);
    row->addStretch(1);
    auto* environment = new DatabaseElidedLabel(sheet, Qt::ElideRight);
    environment->setObjectName("environmentName");
    environment->setFullText(toQt(environmentName));
    SheetStyle::makeCallout(environment);
    FormStyle::makeSecondary(environment);
    row->addWidget(environment);
    layout->addLayout(row);
    return {title, environment};
}

void makeMedium(QWidget* widget) {
    QFont font = widget->font();
    font.setWeight(QFont::Medium);
    widget->setFont(font);
}

void makeSelectable(QLabel* label) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* secondarySymbol(const std::string& iconName, int size, QWidget* parent) {
    auto* label = new QLabel(parent);
    FormStyle::makeSecondary(label);
    label->setPixmap(
        Icons::symbolic(iconName, label->palette().color(QPalette::WindowText)).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

void fitSheet(QWidget* sheet, int width) {
    if (sheet->layout()->hasHeightForWidth())
        SheetStyle::fitToContent(sheet, width);
    else
        sheet->setFixedSize(width, sheet->layout()->totalSizeHint().height());
}

void syncText(QLineEdit* field, const std::string& value) {
    const QString shown = QString::fromStdString(value);
    if (field->text() != shown)
        field->setText(shown);
}

QString buttonText(const std::string& value) {
    return QString::fromStdString(value).replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace vessora::DatabaseSheetStyle
