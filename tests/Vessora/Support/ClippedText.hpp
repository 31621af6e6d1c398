// Finds texts a window cuts off: a label, button or text view whose text
// needs more room than it was given, or that lies (partly) outside the
// window. Call it on a shown window after its layout has settled
// (QApplication::processEvents()). Each finding names the widget and its
// text, so a failing test says what to fix.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTextEdit>
#include <QWidget>

#include <string>
#include <vector>

namespace vessora {

inline std::vector<std::string> clippedTexts(QWidget& window) {
    // A result that arrives from a worker redraws, and a wrapped label needs
    // a second layout pass for its height: let both settle.
    for (int pass = 0; pass < 3; ++pass)
        QApplication::processEvents();
    std::vector<std::string> found;
    const auto report = [&](QWidget* widget, const QString& text, const char* why) {
        found.push_back(widget->objectName().toStdString() + " (" + why +
                        "): " + text.toStdString());
    };
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window) || widget->window() != &window)
            continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
            if (text.isEmpty())
                continue;
            if (label->wordWrap() ? label->heightForWidth(label->width()) > label->height()
                                  : label->sizeHint().width() > label->width())
                report(widget, text, "needs more room");
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            text = button->text();
            if (button->sizeHint().width() > button->width())
                report(widget, text, "needs more room");
        } else if (auto* view = qobject_cast<QTextEdit*>(widget)) {
            text = view->toPlainText();
            if (view->heightForWidth(view->width()) > view->height())
                report(widget, text, "needs more room");
        } else {
            continue;
        }
        const QRect area(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        if (!window.rect().contains(area))
            report(widget, text, "outside the window");
    }
    return found;
}

} // namespace vessora
