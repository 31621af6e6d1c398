// A small indeterminate progress indicator: a turning arc, animated only
// while it is shown.
#pragma once

#include <QTimer>
#include <QWidget>

namespace vessora {

class BusyIndicator : public QWidget {
    Q_OBJECT

public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer timer_;
    int angle_ = 0;
};

} // namespace vessora
