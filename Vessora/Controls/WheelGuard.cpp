#include "Vessora/Controls/WheelGuard.hpp"

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace vessora::WheelGuard {
namespace {

class Filter : public QObject {
public:
    explicit Filter(QObject* parent) : QObject(parent) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel)
            return false;
        auto* control = qobject_cast<QWidget*>(watched);
        if (!control || control->hasFocus())
            return false;
        // Ignored, the event travels on to the parents: the scroll area
        // around the form scrolls.
        event->ignore();
        return true;
    }
};

} // namespace

void guard(QWidget* control) {
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(new Filter(control));
}

} // namespace vessora::WheelGuard
