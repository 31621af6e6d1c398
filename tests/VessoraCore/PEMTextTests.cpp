#include "VessoraCore/Certificates/PEMText.hpp"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <vector>

namespace vessora {
namespace {

using PEMText::certificateBytes;

TEST(PEMTextTest, DecodesEveryPaddingLengthAsOpenSSLEncodesIt) {
    for (int length = 0; length < 40; ++length) {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
        ASSERT_EQ(RAND_bytes(bytes.data(), length), 1);
        std::vector<unsigned char> encoded(static_cast<std::size_t>(4 * ((length + 2) / 3) + 1));
        int size = EVP_EncodeBlock(encoded.data(), bytes.data(), length);
        std::string base64(reinterpret_cast<const char*>(encoded.data()),
                           static_cast<std::size_t>(size));
        // Line breaks every 8 characters, as PEM breaks its lines.
        std::string pem = "-----BEGIN CERTIFICATE-----\n";
        for (std::size_t i = 0; i < base64.size(); i += 8)
            pem += base64.substr(i, 8) + "\n";
        pem += "-----END CERTIFICATE-----\n";
        EXPECT_EQ(certificateBytes(pem), std::string(bytes.begin(), bytes.end())) << pem;
    }
}

TEST(PEMTextTest, SkipsForeignCharactersAndRefusesBrokenText) {
    EXPECT_EQ(certificateBytes("TW\r\n Fu\t*"), "Man");
    EXPECT_EQ(certificateBytes("TQ=="), "M");
    EXPECT_EQ(certificateBytes("TWE="), "Ma");
    EXPECT_EQ(certificateBytes(""), "");
    EXPECT_EQ(certificateBytes("TQ="), std::nullopt);      // not whole groups
    EXPECT_EQ(certificateBytes("TWFuT"), std::nullopt);    // not whole groups
    EXPECT_EQ(certificateBytes("TQ==TWFu"), std::nullopt); // padding inside
    EXPECT_EQ(certificateBytes("T==="), std::nullopt);     // too much padding
    EXPECT_EQ(certificateBytes("TWFu\xff"), std::nullopt); // not UTF-8
    // Two certificates decode to both, joined.
    EXPECT_EQ(certificateBytes("-----BEGIN CERTIFICATE-----\nTWFu\n-----END CERTIFICATE-----\n"
                               "-----BEGIN CERTIFICATE-----\nTWFu\n-----END CERTIFICATE-----\n"),
              "ManMan");
}

} // namespace
} // namespace vessora
