#include "Vessora/Sheets/LocalHTTPSDraft.hpp"

namespace vessora {

LocalHTTPSDraft::LocalHTTPSDraft(QObject* parent) : QObject(parent) {}

void LocalHTTPSDraft::showDetails(LocalCertificateInfo info) {
    if (info_ == info && !error_)
        return;
    info_ = std::move(info);
    error_.reset();
    emit changed();
}

void LocalHTTPSDraft::showError(std::string text) {
    if (!info_ && error_ == text)
        return;
    info_.reset();
    error_ = std::move(text);
    emit changed();
}

void LocalHTTPSDraft::setConfirmRenewal(bool confirming) {
    if (confirmRenewal_ == confirming)
        return;
    confirmRenewal_ = confirming;
    emit changed();
}

} // namespace vessora
