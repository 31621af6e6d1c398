// Presents the main window's sheets one at a time. A sheet asked for while
// another is open waits, in the order asked, until that one closes; when its
// turn comes, a request whose flag was cleared meanwhile is dropped. Each
// sheet is a QDialog (alerts included) opened window-modal with open(),
// never exec(), and deleted when it closes; `closed` runs then, so the
// window can set the presenting flag back. A sheet opens its own child
// sheets and alerts on itself, not through here.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>

class QDialog;
class QWidget;

namespace vessora {

class SheetPresenter : public QObject {
    Q_OBJECT

public:
    // Builds the sheet with the window as its parent; none drops the request.
    using Factory = std::function<QDialog*(QWidget* window)>;
    // Whether the request still stands when its turn comes.
    using Wanted = std::function<bool()>;
    using Closed = std::function<void()>;

    explicit SheetPresenter(QWidget* window);

    // The presenter of the window that holds `widget` (the editor asks for
    // its certificate and database sheets through it); none outside a
    // window that has one.
    static SheetPresenter* of(QWidget* widget);

    // Does nothing while a sheet of this key is open or waiting.
    void request(const QString& key, Factory make, Wanted wanted = {}, Closed closed = {});
    // Closes the open sheet of this key (as if cancelled) or drops its
    // waiting request.
    void dismiss(const QString& key);

    QDialog* current() const { return current_; }
    QString currentKey() const { return current_ ? currentKey_ : QString(); }
    bool waiting(const QString& key) const;

signals:
    void sheetOpened(const QString& key, QDialog* sheet);
    void sheetClosed(const QString& key);

private:
    struct Request {
        QString key;
        Factory make;
        Wanted wanted;
        Closed closed;
    };

    void openNext();
    void onClosed();

    QWidget* window_;
    std::deque<Request> queue_;
    QPointer<QDialog> current_;
    QString currentKey_;
    Closed currentClosed_;
    bool opening_ = false;
};

} // namespace vessora
