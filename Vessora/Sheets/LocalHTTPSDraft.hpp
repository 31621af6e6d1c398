// LocalHTTPSDraft: what the certificate sheet shows of its last read, and
// whether its renewal confirmation is up. One per presentation of the sheet,
// on the main thread; every change emits changed().
#pragma once

#include "VessoraCore/Certificates/LocalCertificateInfo.hpp"

#include <QObject>

#include <optional>
#include <string>

namespace vessora {

class LocalHTTPSDraft : public QObject {
    Q_OBJECT

public:
    explicit LocalHTTPSDraft(QObject* parent = nullptr);

    // The details of the last successful read; none before the first read
    // and after a failed one.
    const std::optional<LocalCertificateInfo>& info() const { return info_; }
    // The text of the last failed read; a successful read clears it.
    const std::optional<std::string>& error() const { return error_; }
    bool confirmRenewal() const { return confirmRenewal_; }

    void showDetails(LocalCertificateInfo info);
    void showError(std::string text);
    void setConfirmRenewal(bool confirming);

signals:
    void changed();

private:
    std::optional<LocalCertificateInfo> info_;
    std::optional<std::string> error_;
    bool confirmRenewal_ = false;
};

} // namespace vessora
