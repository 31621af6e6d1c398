// The six-pixel status dot beside an environment's name: filled green while
// the environment runs, else a faint grey.
#pragma once

#include <QWidget>

namespace vessora {

class StatusDot : public QWidget {
    Q_OBJECT

public:
    static constexpr int diameter = 6;

    explicit StatusDot(QWidget* parent = nullptr);

    bool running() const { return running_; }
    void setRunning(bool running);
    QColor colour() const;

    // The green of a running environment, for the status text beside it.
    static QColor runningColour();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool running_ = false;
};

} // namespace vessora
