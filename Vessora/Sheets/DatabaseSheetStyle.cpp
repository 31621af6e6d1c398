#include "Vessora/Sheets/DatabaseSheetStyle.hpp"

#include "Vessora/App/Icons.hpp"

#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace vessora::DatabaseSheetStyle {
namespace {

void scale(QWidget* widget, double factor, QFont::Weight weight) {
    QFont font = widget->font();
    const double base = QFont().pointSizeF() > 0 ? QFont().pointSizeF() : 10.0;
    font.setPointSizeF(std::max(7.0, std::round(base * factor * 2) / 2));
    font.setWeight(weight);
    widget->setFont(font);
}

void colour(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

} // namespace

QColor accent() {
    return QColor::fromRgbF(0.27f, 0.76f, 0.55f);
}

void title(QLabel* label) {
    scale(label, 1.3, QFont::DemiBold);
}

void callout(QWidget* widget, bool medium) {
    scale(widget, 1.0, medium ? QFont::Medium : QFont::Normal);
}

void caption(QWidget* widget) {
    scale(widget, 0.9, QFont::Normal);
}

void caption2(QWidget* widget) {
    scale(widget, 0.85, QFont::Normal);
}

void secondary(QWidget* widget) {
    QColor color = widget->palette().color(QPalette::WindowText);
    color.setAlphaF(0.62f);
    colour(widget, color);
}

void warning(QWidget* widget) {
    colour(widget, QColor(0xc8, 0x5a, 0x00));
}

void success(QWidget* widget) {
    colour(widget, QColor(0x1f, 0x8a, 0x4c));
}

void monospaced(QWidget* widget) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(widget->font().pointSizeF());
    widget->setFont(font);
}

void wrapping(QLabel* label) {
    label->setWordWrap(true);
}

void selectable(QLabel* label) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void prominent(QPushButton* button) {
    const QColor fill = accent();
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; color: white; border: 1px solid %2;"
                       " border-radius: 5px; padding: 3px 8px; }"
                       "QPushButton:pressed { background-color: %2; }"
                       "QPushButton:disabled { background-color: %3; color: %4;"
                       " border-color: %3; }")
            .arg(fill.name(), fill.darker(125).name(), QColor(0xd9, 0xd9, 0xd9).name(),
                 QColor(0x8c, 0x8c, 0x8c).name()));
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* symbol(const std::string& iconName, int size, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Icons::named(iconName).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

void fitHeight(QWidget* dialog, int width) {
    QLayout* layout = dialog->layout();
    layout->activate();
    int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                             : layout->totalSizeHint().height();
    height = std::max(height, layout->totalMinimumSize().height());
    dialog->setFixedSize(width, height);
}

void syncText(QLineEdit* field, const std::string& value) {
    const QString shown = QString::fromStdString(value);
    if (field->text() != shown)
        field->setText(shown);
}

void smallControls(QWidget* dialog) {
    scale(dialog, 0.92, QFont::Normal);
}

QString buttonText(const std::string& value) {
    return QString::fromStdString(value).replace(QLatin1Char('&'), QLatin1String("&&"));
}

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

} // namespace vessora::DatabaseSheetStyle
