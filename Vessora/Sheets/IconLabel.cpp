#include "Vessora/Sheets/IconLabel.hpp"

#include "Vessora/App/Icons.hpp"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>

namespace vessora {

IconLabel::IconLabel(QWidget* parent)
    : QWidget(parent), icon_(new QLabel(this)), text_(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(icon_, 0, Qt::AlignTop);
    layout->addWidget(text_, 1);
    icon_->setObjectName("icon");
    text_->setObjectName("text");
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
}

void IconLabel::setIcon(const std::string& name) {
    if (name == iconName_)
        return;
    iconName_ = name;
    drawIcon();
}

void IconLabel::setText(const QString& text) {
    text_->setText(text);
}

QString IconLabel::text() const {
    return text_->text();
}

void IconLabel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange)
        drawIcon();
}

void IconLabel::drawIcon() {
    const int size = QFontMetrics(font()).height();
    icon_->setFixedSize(size, size);
    icon_->setPixmap(Icons::symbolic(iconName_, palette().color(QPalette::WindowText))
                         .pixmap(size, size, isEnabled() ? QIcon::Normal : QIcon::Disabled));
}

} // namespace vessora
