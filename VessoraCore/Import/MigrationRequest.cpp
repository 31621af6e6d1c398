#include "VessoraCore/Import/MigrationRequest.hpp"

#include "VessoraCore/Foundation/UnicodeText.hpp"

namespace vessora {

bool MigrationRequest::validRelativeDirectory(std::string_view text) {
    if (text.empty()) {
        return true;
    }
    if (text.front() == '/' || UnicodeText::containsControl(text)) {
        return false;
    }
    std::size_t start = 0;
    while (true) {
        std::size_t slash = text.find('/', start);
        std::string_view piece = text.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (piece.empty() || piece == "." || piece == "..") {
            return false;
        }
        if (slash == std::string_view::npos) {
            return true;
        }
        start = slash + 1;
    }
}

} // namespace vessora
