#include "Vessora/App/Branding.hpp"

#include "Vessora/App/Icons.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Updates/ProductSite.hpp"

#include <QString>

namespace vessora::Branding {

std::string supportURL() {
    // The site forwards to the current donation page, so the program never
    // has to change when the payment service does.
    return ProductSite::address() + "/support";
}

const QPixmap& icon() {
    static const QPixmap image(QString::fromStdString(
        (L10n::resourceBundle() / "Branding" / "vessora-icon-dark-v1.png").string()));
    return image;
}

QIcon appIcon() {
    return Icons::named("vessora");
}

} // namespace vessora::Branding
