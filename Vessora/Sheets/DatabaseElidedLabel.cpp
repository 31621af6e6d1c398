#include "Vessora/Sheets/DatabaseElidedLabel.hpp"

#include <QFontMetrics>

namespace vessora {

DatabaseElidedLabel::DatabaseElidedLabel(QWidget* parent, Qt::TextElideMode mode)
    : QLabel(parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void DatabaseElidedLabel::setFullText(const QString& text) {
    if (full_ == text && !this->text().isEmpty())
        return;
    full_ = text;
    updateGeometry();
    elide();
}

QSize DatabaseElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 3, QLabel::sizeHint().height()};
}

QSize DatabaseElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(full_) + 2, QLabel::sizeHint().height()};
}

void DatabaseElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void DatabaseElidedLabel::elide() {
    const QString shown = fontMetrics().elidedText(full_, mode_, width());
    setText(shown);
    setToolTip(shown == full_ ? QString() : full_);
}

} // namespace vessora
