#include "VessoraCore/Storage/StandardPath.hpp"

namespace vessora::StandardPath {

namespace fs = std::filesystem;

fs::path withoutTrailingSlash(const fs::path& path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

fs::path standardized(const fs::path& path) {
    return withoutTrailingSlash(path.lexically_normal());
}

fs::path resolved(const fs::path& path, std::error_code& error) {
    error.clear();
    fs::path result = fs::weakly_canonical(path, error);
    if (error)
        return standardized(path);
    return standardized(result);
}

} // namespace vessora::StandardPath
