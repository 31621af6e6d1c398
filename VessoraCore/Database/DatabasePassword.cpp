#include "VessoraCore/Database/DatabasePassword.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

namespace vessora::DatabasePassword {

bool isValid(std::string_view password) {
    return !password.empty() && password.size() <= 256 && !UnicodeText::containsControl(password);
}

void validate(std::string_view password) {
    if (!isValid(password))
        throw VessoraError(L10n::text("Use a nonempty database password of up to 256 UTF-8 "
                                      "bytes, without control characters."));
}

} // namespace vessora::DatabasePassword
