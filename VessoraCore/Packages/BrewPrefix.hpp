// A formula's prefix as Homebrew answered it (".../opt/php@8.2", a link that
// Homebrew points at the formula's current keg) with the keg it led to,
// every link resolved.
//
// isCurrent() tells with one link read whether the answer still leads to
// that keg, so the keg can be kept between starts without running brew
// again: an upgrade or a reinstall points the link elsewhere (or removes
// it), and then the formula is asked again.
#pragma once

#include <filesystem>
#include <optional>

namespace vessora {

struct BrewPrefix {
    std::filesystem::path answered;
    std::filesystem::path keg;
    // The answered path's own link text when it was resolved; none when the
    // answer was no link.
    std::optional<std::filesystem::path> link;

    // Reads the answer's link once and resolves the keg from that text, so
    // keg and link always belong together. Never throws.
    static BrewPrefix resolve(const std::filesystem::path& answered);

    // The same link text, or still an existing path that is no link.
    bool isCurrent() const;
};

} // namespace vessora
