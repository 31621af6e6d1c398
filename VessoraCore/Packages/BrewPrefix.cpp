#include "VessoraCore/Packages/BrewPrefix.hpp"

namespace vessora {
namespace fs = std::filesystem;

BrewPrefix BrewPrefix::resolve(const fs::path& answered) {
    BrewPrefix prefix;
    // A trailing separator would make the link read follow the link.
    std::string text = answered.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    prefix.answered = text;
    std::error_code error;
    fs::path target = prefix.answered;
    if (fs::path link = fs::read_symlink(prefix.answered, error); !error) {
        target = link.is_absolute() ? link : prefix.answered.parent_path() / link;
        prefix.link = std::move(link);
    }
    fs::path resolved = fs::weakly_canonical(target, error);
    prefix.keg = error ? target.lexically_normal() : std::move(resolved);
    return prefix;
}

bool BrewPrefix::isCurrent() const {
    std::error_code error;
    const fs::path text = fs::read_symlink(answered, error);
    if (link)
        return !error && text == *link;
    return error == std::errc::invalid_argument;
}

} // namespace vessora
