// The Quit key sequence pressed anywhere in the main window's windows: the
// window itself, a sheet or an alert over it, a chooser opened from a sheet,
// the settings window. The window's own Quit shortcut never sees it there:
// a window-modal sheet blocks the window, and a shortcut of one window does
// not fire in another. So every such press takes one road, the Quit
// action, wherever the focus is; the focused field never receives it as a
// keystroke either.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>

class QAction;
class QWidget;

namespace vessora {

class QuitKeys : public QObject {
    Q_OBJECT

public:
    // Watches the application's events while `window` lives; triggers
    // `quit` once per press (repeats of a held key do nothing).
    QuitKeys(QWidget& window, QAction& quit);
    ~QuitKeys() override;

    // The platform's Quit keys; Ctrl+Q where it names none (the offscreen
    // platform), as every Linux desktop has it.
    static QList<QKeySequence> sequences();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool inWindow(QObject* object) const;

    QWidget& window_;
    QAction& quit_;
    QList<QKeySequence> sequences_;
};

} // namespace vessora
