// Notches of the mouse wheel over the middle of a widget, delivered as the
// window system's own are: spontaneous, so Qt passes an ignored event on to
// the parents (a sent one stops at its receiver).
#pragma once

#include <QApplication>
#include <QWheelEvent>
#include <QWidget>
#include <QtTest/qtestspontaneevent.h>

#include <cstdlib>

namespace vessora {

// One notch is 120 eighths of a degree; negative turns downwards.
inline void turnWheel(QWidget* widget, int notches) {
    const int step = notches < 0 ? -120 : 120;
    for (int i = 0; i < std::abs(notches); ++i) {
        const QPointF at = QRectF(widget->rect()).center();
        QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, step), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&event);
        qApp->notify(widget, &event);
    }
}

inline void wheelDown(QWidget* widget, int notches = 3) {
    turnWheel(widget, -notches);
}

inline void wheelUp(QWidget* widget, int notches = 3) {
    turnWheel(widget, notches);
}

} // namespace vessora
