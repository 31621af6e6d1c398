#include "Vessora/Sheets/ElidedSelectableText.hpp"

#include <QEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace vessora {

ElidedSelectableText::ElidedSelectableText(QWidget* parent, int maximumLines)
    : SelectableText(parent), maximumLines_(std::max(1, maximumLines)) {}

void ElidedSelectableText::setFullText(const QString& text) {
    if (text == full_ && !toPlainText().isEmpty())
        return;
    full_ = text;
    refit();
    updateGeometry();
}

int ElidedSelectableText::lines(const QString& text, int width, int* height) const {
    QTextDocument measure;
    measure.setDefaultFont(document()->defaultFont());
    measure.setDefaultTextOption(document()->defaultTextOption());
    measure.setDocumentMargin(document()->documentMargin());
    measure.setPlainText(text);
    measure.setTextWidth(std::max(1, width - 2 * frameWidth()));
    // Asking for the size lays the whole text out; before that the blocks
    // hold no lines.
    const qreal laidOut = measure.size().height();
    if (height)
        *height = static_cast<int>(std::ceil(laidOut)) + 2 * frameWidth();
    int count = 0;
    for (QTextBlock block = measure.begin(); block.isValid(); block = block.next())
        count += block.layout()->lineCount();
    return count;
}

QString ElidedSelectableText::fitted(int width) const {
    if (lines(full_, width) <= maximumLines_)
        return full_;
    // The most characters that still fit, half from each end. Character
    // boundaries keep surrogate pairs and combined marks whole.
    const QString ellipsis = QStringLiteral("\u2026");
    const auto shortened = [&](int kept) {
        int head = (kept + 1) / 2;
        int tail = kept - head;
        while (head > 0 &&
               (full_[head].isLowSurrogate() || full_[head].category() == QChar::Mark_NonSpacing))
            --head;
        int from = full_.size() - tail;
        while (from < full_.size() &&
               (full_[from].isLowSurrogate() || full_[from].category() == QChar::Mark_NonSpacing))
            ++from;
        return full_.left(head) + ellipsis + full_.mid(from);
    };
    int low = 0;
    int high = static_cast<int>(full_.size()) - 1;
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (lines(shortened(middle), width) <= maximumLines_)
            low = middle;
        else
            high = middle - 1;
    }
    return shortened(low);
}

int ElidedSelectableText::heightForWidth(int width) const {
    int height = 0;
    lines(fitted(width), width, &height);
    return height;
}

void ElidedSelectableText::resizeEvent(QResizeEvent* event) {
    SelectableText::resizeEvent(event);
    refit();
}

void ElidedSelectableText::changeEvent(QEvent* event) {
    SelectableText::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        refit();
}

void ElidedSelectableText::refit() {
    const QString shown = width() > 0 ? fitted(width()) : full_;
    setText(shown);
    setToolTip(shown == full_ ? QString() : full_);
}

} // namespace vessora
