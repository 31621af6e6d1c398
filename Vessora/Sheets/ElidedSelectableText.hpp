// Selectable text (SelectableText) on at most a few lines: when the whole
// text needs more at the width it gets, its middle gives way to an
// ellipsis, so both ends stay readable (a path's root and its last folder,
// both ends of a long name). fullText() keeps the whole text, which is
// also the tooltip while it is shortened.
#pragma once

#include "Vessora/Sheets/SelectableText.hpp"

namespace vessora {

class ElidedSelectableText : public SelectableText {
    Q_OBJECT

public:
    explicit ElidedSelectableText(QWidget* parent = nullptr, int maximumLines = 2);

    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    // The text as it fits at `width`: whole, or shortened in the middle.
    QString fitted(int width) const;

    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Lines the text takes at `width`, and its height there.
    int lines(const QString& text, int width, int* height = nullptr) const;
    void refit();

    QString full_;
    int maximumLines_;
};

} // namespace vessora
