#include "Vessora/Windows/QuitKeys.hpp"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

namespace vessora {

QuitKeys::QuitKeys(QWidget& window, QAction& quit)
    : QObject(&window), window_(window), quit_(quit), sequences_(sequences()) {
    QCoreApplication::instance()->installEventFilter(this);
}

QuitKeys::~QuitKeys() {
    QCoreApplication::instance()->removeEventFilter(this);
}

QList<QKeySequence> QuitKeys::sequences() {
    QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (keys.isEmpty())
        keys.append(QKeySequence(Qt::CTRL | Qt::Key_Q));
    return keys;
}

bool QuitKeys::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    // Compared as QKeyEvent::matches() does, with our own list.
    const QKeySequence pressed(QKeyCombination(
        key->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier), Qt::Key(key->key())));
    if (!sequences_.contains(pressed) || !inWindow(watched))
        return false;
    // Claimed as a plain key press, so no shortcut runs for it and the
    // press itself comes here next.
    key->accept();
    if (type == QEvent::KeyPress && !key->isAutoRepeat())
        quit_.trigger();
    return true;
}

bool QuitKeys::inWindow(QObject* object) const {
    // Sheets, alerts and the settings window are windows of their own whose
    // parent chain leads to the main window.
    for (auto* widget = qobject_cast<QWidget*>(object); widget; widget = widget->parentWidget())
        if (widget == &window_)
            return true;
    return false;
}

} // namespace vessora
