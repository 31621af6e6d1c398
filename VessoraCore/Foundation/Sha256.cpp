#include "VessoraCore/Foundation/Sha256.hpp"

#include <openssl/evp.h>

#include <stdexcept>

namespace vessora::Sha256 {

Digest digest(std::string_view bytes) {
    Digest result{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), result.data(), &length, EVP_sha256(), nullptr) !=
            1 ||
        length != result.size())
        throw std::runtime_error("SHA-256 digest failed.");
    return result;
}

std::string hex(std::string_view bytes, std::size_t digestBytes) {
    static constexpr char digits[] = "0123456789abcdef";
    const Digest value = digest(bytes);
    std::string out;
    for (std::size_t i = 0; i < digestBytes && i < value.size(); ++i) {
        out += digits[value[i] >> 4];
        out += digits[value[i] & 0xF];
    }
    return out;
}

} // namespace vessora::Sha256
