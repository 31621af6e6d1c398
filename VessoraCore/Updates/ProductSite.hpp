// The product web site: the one place that names its address. The release
// feed, the download links and the install page all lie on it.
#pragma once

#include <string>
#include <string_view>

namespace vessora::ProductSite {

// The host name alone, as the settings window shows it.
inline constexpr std::string_view host = "vessora.app";

// "https://" and the host, without a trailing slash.
std::string address();

// The release feed, "/updates.json" on the site.
std::string feedURL();

} // namespace vessora::ProductSite
