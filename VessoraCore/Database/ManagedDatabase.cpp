#include "VessoraCore/Database/ManagedDatabase.hpp"

#include "VessoraCore/Records/DatabaseName.hpp"

#include <exception>

namespace vessora {

bool ManagedDatabase::supportsNativeManagement() const {
    try {
        DatabaseName::validate(name);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace vessora
