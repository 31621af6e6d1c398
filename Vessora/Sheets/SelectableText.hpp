// Read-only text the user can select and copy (mouse or keyboard, then
// Ctrl+C), shown like a label: in the palette's window-text colour, on the
// window's background. It wraps at word boundaries and, where a run
// without spaces (a fingerprint, an address, a path) is wider than the line,
// anywhere inside it. In a layout it takes the height its text needs at the
// width it is given.
#pragma once

#include <QTextEdit>

namespace vessora {

class SelectableText : public QTextEdit {
    Q_OBJECT

public:
    explicit SelectableText(QWidget* parent = nullptr);

    // Plain text, shown unchanged.
    void setText(const QString& text);
    QString text() const { return toPlainText(); }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void followWindowText();
};

} // namespace vessora
