// A one-line label that shortens its text with an ellipsis at the end when
// it gets less room than the text needs, instead of widening its row.
// text() keeps the whole text; shownText() is what is painted.
#pragma once

#include <QLabel>

namespace vessora {

class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    // The text as painted at the label's current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vessora
