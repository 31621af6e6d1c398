#include "Vessora/Sheets/SelectableText.hpp"

#include <QEvent>
#include <QPalette>
#include <QTextDocument>

#include <cmath>
#include <memory>

namespace vessora {

SelectableText::SelectableText(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setAcceptRichText(false);
    setUndoRedoEnabled(false);
    // Qt's own menu is not translated; copying works from the keyboard.
    setContextMenuPolicy(Qt::NoContextMenu);
    setFocusPolicy(Qt::ClickFocus);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    document()->setDocumentMargin(0);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    followWindowText();
}

void SelectableText::setText(const QString& text) {
    if (text == toPlainText())
        return;
    setPlainText(text);
    updateGeometry();
}

int SelectableText::heightForWidth(int width) const {
    // Measured on a copy, so the shown document keeps its own layout.
    std::unique_ptr<QTextDocument> copy(document()->clone());
    copy->setDefaultFont(document()->defaultFont());
    copy->setDefaultTextOption(document()->defaultTextOption());
    copy->setDocumentMargin(document()->documentMargin());
    const int frame = 2 * frameWidth();
    copy->setTextWidth(std::max(1, width - frame));
    return static_cast<int>(std::ceil(copy->size().height())) + frame;
}

QSize SelectableText::sizeHint() const {
    const int width = this->width() > 0 ? this->width() : 200;
    return {width, heightForWidth(width)};
}

QSize SelectableText::minimumSizeHint() const {
    return {0, fontMetrics().lineSpacing()};
}

void SelectableText::changeEvent(QEvent* event) {
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    if (event->type() == QEvent::PaletteChange)
        followWindowText();
}

void SelectableText::followWindowText() {
    // Styled like a label (dimmed, warning colour), drawn with the text role.
    QPalette colours = palette();
    bool differs = false;
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        differs |=
            colours.color(group, QPalette::Text) != colours.color(group, QPalette::WindowText);
        colours.setColor(group, QPalette::Text, colours.color(group, QPalette::WindowText));
    }
    if (differs)
        setPalette(colours);
}

} // namespace vessora
