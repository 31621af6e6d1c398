#include "Vessora/Windows/SheetPresenter.hpp"

#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace vessora {

SheetPresenter::SheetPresenter(QWidget* window) : QObject(window), window_(window) {}

SheetPresenter* SheetPresenter::of(QWidget* widget) {
    if (!widget)
        return nullptr;
    return widget->window()->findChild<SheetPresenter*>(QString(), Qt::FindDirectChildrenOnly);
}

void SheetPresenter::request(const QString& key, Factory make, Wanted wanted, Closed closed) {
    if ((current_ && currentKey_ == key) || waiting(key))
        return;
    queue_.push_back(Request{key, std::move(make), std::move(wanted), std::move(closed)});
    if (!current_)
        openNext();
}

void SheetPresenter::dismiss(const QString& key) {
    std::erase_if(queue_, [&](const Request& request) { return request.key == key; });
    // A sheet that is already closing is left to finish.
    if (current_ && currentKey_ == key && current_->isVisible())
        current_->reject();
}

bool SheetPresenter::waiting(const QString& key) const {
    return std::any_of(queue_.begin(), queue_.end(),
                       [&](const Request& request) { return request.key == key; });
}

void SheetPresenter::openNext() {
    // A sheet's factory or its open() may ask for another sheet: that one
    // only queues.
    if (opening_ || current_)
        return;
    opening_ = true;
    while (!queue_.empty() && !current_) {
        Request next = std::move(queue_.front());
        queue_.pop_front();
        if (next.wanted && !next.wanted())
            continue;
        QDialog* sheet = next.make ? next.make(window_) : nullptr;
        if (!sheet)
            continue;
        current_ = sheet;
        currentKey_ = next.key;
        currentClosed_ = std::move(next.closed);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->setWindowModality(Qt::WindowModal);
        // Either comes first: finished() when it closes, destroyed() when
        // its owner deletes it without closing.
        connect(sheet, &QDialog::finished, this, &SheetPresenter::onClosed);
        connect(sheet, &QObject::destroyed, this, &SheetPresenter::onClosed);
        sheet->open();
        emit sheetOpened(currentKey_, sheet);
    }
    opening_ = false;
}

void SheetPresenter::onClosed() {
    QObject* sender = this->sender();
    if (!sender || currentKey_.isEmpty() || (current_ && current_ != sender))
        return;
    // Only the first of the two signals counts.
    disconnect(sender, nullptr, this, nullptr);
    const QString key = currentKey_;
    const Closed closed = std::move(currentClosed_);
    current_ = nullptr;
    currentKey_.clear();
    currentClosed_ = {};
    if (closed)
        closed();
    emit sheetClosed(key);
    // Later, so the sheet has gone from the screen before the next opens.
    QTimer::singleShot(0, this, &SheetPresenter::openNext);
}

} // namespace vessora
