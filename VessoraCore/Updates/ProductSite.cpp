#include "VessoraCore/Updates/ProductSite.hpp"

namespace vessora::ProductSite {

std::string address() {
    return "https://" + std::string(host);
}

std::string feedURL() {
    return address() + "/updates.json";
}

} // namespace vessora::ProductSite
