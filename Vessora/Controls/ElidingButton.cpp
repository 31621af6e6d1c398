#include "Vessora/Controls/ElidingButton.hpp"

#include <QFontMetrics>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>

namespace vessora {

namespace {

// Room for the ellipsis and a few characters on either side of it.
constexpr int minimumTextCharacters = 6;
// Between the icon and the title, as QPushButton measures it.
constexpr int iconSpacing = 4;

} // namespace

QSize ElidingButton::minimumSizeHint() const {
    QSize hint = QPushButton::minimumSizeHint();
    const QFontMetrics metrics(font());
    const int full = metrics.horizontalAdvance(text());
    const int least = metrics.averageCharWidth() * minimumTextCharacters;
    const int shorter = std::max(0, full - least);
    hint.setWidth(std::max(0, sizeHint().width() - shorter));
    return hint;
}

int ElidingButton::textRoom() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    // The style draws the icon and the title inside the contents rectangle.
    int room = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this).width();
    if (!option.icon.isNull())
        room -= option.iconSize.width() + iconSpacing;
    return std::max(0, room);
}

QString ElidingButton::shownText() const {
    // At its full width the title fits; measuring again could round it short.
    if (width() >= sizeHint().width())
        return text();
    return QFontMetrics(font()).elidedText(text(), Qt::ElideMiddle, textRoom());
}

void ElidingButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text = shownText();
    painter.drawControl(QStyle::CE_PushButton, option);
}

} // namespace vessora
