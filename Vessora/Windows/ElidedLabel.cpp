#include "Vessora/Windows/ElidedLabel.hpp"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace vessora {

namespace {

// Room for a few characters and the ellipsis.
constexpr int minimumCharacters = 4;

} // namespace

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize ElidedLabel::minimumSizeHint() const {
    QSize hint = QLabel::minimumSizeHint();
    const QFontMetrics metrics(font());
    const int least =
        metrics.averageCharWidth() * minimumCharacters + metrics.horizontalAdvance(QChar(0x2026));
    hint.setWidth(
        std::min(hint.width(), least + contentsMargins().left() + contentsMargins().right()));
    return hint;
}

QString ElidedLabel::shownText() const {
    return QFontMetrics(font()).elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine,
                          palette(), isEnabled(), shownText(), foregroundRole());
}

} // namespace vessora
