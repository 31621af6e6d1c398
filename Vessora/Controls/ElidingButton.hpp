// A push button whose title stays on one line and is shortened in the middle
// ("my-very-lo…-project") when the button gets less room than the title
// needs. text() keeps the full title; only the painting is shortened.
#pragma once

#include <QPushButton>

namespace vessora {

class ElidingButton : public QPushButton {
    Q_OBJECT

public:
    using QPushButton::QPushButton;

    QSize minimumSizeHint() const override;
    // The title as painted at the button's current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int textRoom() const;
};

} // namespace vessora
