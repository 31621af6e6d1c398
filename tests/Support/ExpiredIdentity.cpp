#include "tests/Support/ExpiredIdentity.hpp"

#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vessora {

namespace {

void openssl(const std::vector<std::string>& arguments) {
    const CommandResult result = Command::run("/usr/bin/openssl", arguments);
    EXPECT_EQ(result.status, 0) << result.output;
}

} // namespace

void expireIdentity(const StackPaths& identity, const std::filesystem::path& scratch) {
    const std::filesystem::path expired = scratch / "expired.crt";
    openssl({"x509", "-in", identity.tlsCertificate().string(), "-signkey",
             identity.tlsPrivateKey().string(), "-days", "-1", "-out", expired.string()});
    PrivateFile::write(identity.tlsCertificate(), PrivateFile::read(expired));
    openssl({"x509", "-in", expired.string(), "-outform", "DER", "-out",
             identity.tlsImportCertificate().string()});
}

} // namespace vessora
