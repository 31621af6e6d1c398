#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Certificates/LocalHTTPSInternal.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "tests/Support/ExpiredIdentity.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <openssl/x509v3.h>
#include <regex>
#include <sys/resource.h>
#include <sys/stat.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

const std::string kExpired = "The local HTTPS certificate is invalid or expired. Stop the "
                             "environment and renew it in HTTPS & certificate.";
const std::string kIdentity = "The local HTTPS identity is incomplete, unsafe, or does not "
                              "match. Stop the environment and renew its certificate.";

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

// Runs openssl as a test tool; fails the test on a non-zero status.
std::string openssl(const std::vector<std::string>& arguments) {
    CommandResult result = Command::run("/usr/bin/openssl", arguments);
    EXPECT_EQ(result.status, 0) << result.output;
    return result.output;
}

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};

std::unique_ptr<X509, X509Free> readDER(const fs::path& file) {
    std::string bytes = PrivateFile::read(file);
    const auto* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
    return std::unique_ptr<X509, X509Free>(
        d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size())));
}

// "DNS:localhost", "IP:127.0.0.1", ... in certificate order.
std::vector<std::string> alternativeNames(X509* certificate) {
    std::vector<std::string> names;
    auto* list = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; list && i < sk_GENERAL_NAME_num(list); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(list, i);
        if (name->type == GEN_DNS) {
            names.push_back("DNS:" + std::string(reinterpret_cast<const char*>(
                                                     ASN1_STRING_get0_data(name->d.dNSName)),
                                                 ASN1_STRING_length(name->d.dNSName)));
        } else if (name->type == GEN_IPADD) {
            const unsigned char* ip = ASN1_STRING_get0_data(name->d.iPAddress);
            names.push_back("IP:" + std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." +
                            std::to_string(ip[2]) + "." + std::to_string(ip[3]));
        }
    }
    GENERAL_NAMES_free(list);
    return names;
}

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

template <typename Call>
std::string messageOf(Call call) {
    try {
        call();
    } catch (const VessoraError& error) {
        return error.what();
    }
    return "(no VessoraError)";
}

class LocalHTTPSTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        root = folder.path() / "Vessora";
    }

    StackPaths paths(std::optional<std::string> hostname = std::nullopt) const {
        StackProfile profile = StackProfile::defaults().at(0);
        profile.httpsEnabled = true;
        profile.httpsPort = 8443;
        profile.hostname = std::move(hostname);
        profile.virtualHost = profile.hostname.has_value();
        return StackPaths(root, profile);
    }

    TemporaryFolder folder{"vessora-https"};
    fs::path root;
};

TEST_F(LocalHTTPSTest, FirstPrepareBuildsACompletePrivateIdentity) {
    StackPaths shop = paths("shop.test");
    LocalHTTPS::prepare(shop, false);

    for (const fs::path& folderPath :
         {shop.root(), shop.directory(), shop.config(), shop.tls(), shop.tlsIdentity()})
        EXPECT_EQ(modeOf(folderPath), 0700u) << folderPath;
    for (const fs::path& file :
         {shop.tlsCertificate(), shop.tlsPrivateKey(), shop.tlsImportCertificate()})
        EXPECT_EQ(modeOf(file), 0600u) << file;
    EXPECT_EQ(entriesOf(shop.tls()), std::vector<std::string>{"identity"});
    EXPECT_EQ(entriesOf(shop.tlsIdentity()),
              (std::vector<std::string>{"localhost.cer", "localhost.crt", "localhost.key"}));

    auto certificate = readDER(shop.tlsImportCertificate());
    ASSERT_TRUE(certificate);
    EXPECT_EQ(alternativeNames(certificate.get()),
              (std::vector<std::string>{"DNS:localhost", "IP:127.0.0.1", "DNS:shop.test"}));
    std::string text = openssl({"x509", "-in", shop.tlsCertificate().string(), "-noout", "-subject",
                                "-ext", "basicConstraints,keyUsage,extendedKeyUsage"});
    EXPECT_NE(text.find("CN = Vessora studio, O = Vessora local development"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Basic Constraints: critical\n    CA:FALSE"), std::string::npos) << text;
    EXPECT_NE(text.find("Key Usage: critical\n    Digital Signature, Key Encipherment"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("TLS Web Server Authentication"), std::string::npos) << text;
    std::string key = openssl({"pkey", "-in", shop.tlsPrivateKey().string(), "-noout", "-text"});
    EXPECT_NE(key.find("Private-Key: (2048 bit"), std::string::npos);
    // The DER file is the PEM certificate.
    openssl({"x509", "-in", shop.tlsCertificate().string(), "-outform", "DER", "-out",
             (folder.path() / "check.cer").string()});
    EXPECT_EQ(PrivateFile::read(folder.path() / "check.cer"),
              PrivateFile::read(shop.tlsImportCertificate()));

    StackPaths plain = paths();
    fs::remove_all(plain.tlsIdentity());
    LocalHTTPS::prepare(plain, false);
    auto plainCertificate = readDER(plain.tlsImportCertificate());
    ASSERT_TRUE(plainCertificate);
    EXPECT_EQ(alternativeNames(plainCertificate.get()),
              (std::vector<std::string>{"DNS:localhost", "IP:127.0.0.1"}));
}

TEST_F(LocalHTTPSTest, PrepareKeepsAValidIdentityAndRenewalReplacesIt) {
    StackPaths studio = paths();
    LocalHTTPS::prepare(studio, false);
    FolderSnapshot first = snapshotFolder(studio.tlsIdentity());
    fs::permissions(studio.tlsPrivateKey(), static_cast<fs::perms>(0644));
    fs::permissions(studio.tls(), static_cast<fs::perms>(0755));

    LocalHTTPS::prepare(studio, false);
    EXPECT_EQ(snapshotFolder(studio.tlsIdentity()), first);
    EXPECT_EQ(modeOf(studio.tlsPrivateKey()), 0600u);
    EXPECT_EQ(modeOf(studio.tls()), 0700u);

    LocalHTTPS::prepare(studio, true);
    FolderSnapshot second = snapshotFolder(studio.tlsIdentity());
    EXPECT_NE(second.at("localhost.key"), first.at("localhost.key"));
    EXPECT_NE(second.at("localhost.cer"), first.at("localhost.cer"));
    LocalHTTPS::prepare(studio, true);

    std::vector<std::string> entries = entriesOf(studio.tls());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries.at(0), "identity");
    std::regex backup("previous-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    EXPECT_TRUE(std::regex_match(entries.at(1), backup)) << entries.at(1);
    EXPECT_TRUE(std::regex_match(entries.at(2), backup)) << entries.at(2);
    // The backups hold the two replaced identities, oldest one among them.
    FolderSnapshot backupA = snapshotFolder(studio.tls() / entries.at(1));
    FolderSnapshot backupB = snapshotFolder(studio.tls() / entries.at(2));
    EXPECT_TRUE(backupA == first || backupB == first);
    EXPECT_TRUE(backupA == second || backupB == second);
}

TEST_F(LocalHTTPSTest, ExpiredIdentityIsReportedKeptAndDescribed) {
    StackPaths studio = paths();
    LocalHTTPS::prepare(studio, false);
    expireIdentity(studio, folder.path());
    FolderSnapshot expired = snapshotFolder(studio.tlsIdentity());

    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(studio, false); }), kExpired);
    EXPECT_EQ(snapshotFolder(studio.tlsIdentity()), expired);

    LocalCertificateInfo details = LocalHTTPS::info(studio);
    auto now = std::chrono::system_clock::now();
    EXPECT_LT(details.expires, now - std::chrono::hours(23));
    EXPECT_GT(details.expires, now - std::chrono::hours(25));

    LocalHTTPS::prepare(studio, true);
    EXPECT_NO_THROW(LocalHTTPS::prepare(studio, false));
}

TEST_F(LocalHTTPSTest, MismatchedFilesGiveTheIdentityMessage) {
    StackPaths studio = paths();
    LocalHTTPS::prepare(studio, false);
    FolderSnapshot good = snapshotFolder(studio.tlsIdentity());
    fs::path other = folder.path() / "other";
    StackPaths otherPaths(other, studio.profile());
    LocalHTTPS::prepare(otherPaths, false);
    auto restore = [&] {
        for (const auto& [name, content] : good)
            PrivateFile::write(studio.tlsIdentity() / name, content.substr(5)); // "file:"
    };

    // Another RSA key.
    openssl({"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out",
             studio.tlsPrivateKey().string()});
    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(studio, false); }), kIdentity);

    // A DER file of another certificate.
    restore();
    fs::copy_file(otherPaths.tlsImportCertificate(), studio.tlsImportCertificate(),
                  fs::copy_options::overwrite_existing);
    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(studio, false); }), kIdentity);

    // A PEM file with the certificate twice.
    restore();
    std::string pem = PrivateFile::read(studio.tlsCertificate());
    PrivateFile::write(studio.tlsCertificate(), pem + pem);
    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(studio, false); }), kIdentity);

    // Line breaks and blanks inside the Base64 text are skipped.
    restore();
    std::string spaced = PrivateFile::read(studio.tlsCertificate());
    spaced.insert(spaced.find('\n') + 10, " \r\n\t");
    PrivateFile::write(studio.tlsCertificate(), spaced);
    EXPECT_NO_THROW(LocalHTTPS::prepare(studio, false));

    restore();
    EXPECT_NO_THROW(LocalHTTPS::prepare(studio, false));
}

TEST_F(LocalHTTPSTest, NewHostnameNeedsARenewal) {
    LocalHTTPS::prepare(paths(), false);
    StackPaths shop = paths("shop.test");
    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(shop, false); }), kIdentity);
    LocalHTTPS::prepare(shop, true);
    EXPECT_NO_THROW(LocalHTTPS::prepare(shop, false));
    // A record whose hostname changed again fails for the new name.
    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(paths("other.test"), false); }), kIdentity);
}

// The save's rule: what still passes stays, what fails a check is replaced
// as a renewal replaces it, and unsafe folders are refused as before.
TEST_F(LocalHTTPSTest, RefreshReplacesOnlyAnIdentityThatFailsItsChecks) {
    StackPaths shop = paths("shop.test");
    LocalHTTPS::refresh(shop);
    EXPECT_NO_THROW(LocalHTTPS::prepare(shop, false));
    const FolderSnapshot first = snapshotFolder(shop.tlsIdentity());
    LocalHTTPS::refresh(shop);
    EXPECT_EQ(snapshotFolder(shop.tlsIdentity()), first);
    EXPECT_EQ(entriesOf(shop.tls()), std::vector<std::string>{"identity"});

    // Made for another name, expired, incomplete: each is replaced, the old
    // set kept beside it.
    const StackPaths other = paths("other.test");
    const std::vector<std::function<void()>> faults{
        [] {},
        [&] { expireIdentity(other, folder.path()); },
        [&] { fs::remove(other.tlsImportCertificate()); },
    };
    std::size_t backups = 1;
    for (const auto& fault : faults) {
        fault();
        const FolderSnapshot before = snapshotFolder(other.tlsIdentity());
        LocalHTTPS::refresh(other);
        EXPECT_NO_THROW(LocalHTTPS::prepare(other, false));
        EXPECT_NE(snapshotFolder(other.tlsIdentity()).at("localhost.key"),
                  before.at("localhost.key"));
        const std::vector<std::string> entries = entriesOf(other.tls());
        ASSERT_EQ(entries.size(), 1 + backups);
        EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                                [&](const std::string& entry) {
                                    return snapshotFolder(other.tls() / entry) == before;
                                }),
                  1);
        ++backups;
    }

    // A linked identity folder is still refused, and nothing is built.
    fs::path elsewhere = folder.path() / "elsewhere";
    fs::rename(other.tlsIdentity(), elsewhere);
    fs::create_directory_symlink(elsewhere, other.tlsIdentity());
    EXPECT_EQ(messageOf([&] { LocalHTTPS::refresh(other); }), kIdentity);
    EXPECT_EQ(entriesOf(other.tls()).size(), backups);
}

TEST_F(LocalHTTPSTest, InvalidHostnameIsRefusedBeforeAnythingIsCreated) {
    EXPECT_THROW(LocalHTTPS::prepare(paths("Not a host"), false), HostServiceError);
    EXPECT_FALSE(fs::exists(root));
}

TEST_F(LocalHTTPSTest, UnsafeFoldersAndFilesAreRefused) {
    StackPaths studio = paths();
    fs::path elsewhere = folder.path() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories(studio.tls());

    // A link at the identity folder, to a real folder or dangling.
    fs::create_directory_symlink(elsewhere, studio.tlsIdentity());
    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(studio, true); }), kIdentity);
    EXPECT_TRUE(fs::is_empty(elsewhere));
    fs::remove(studio.tlsIdentity());
    fs::create_directory_symlink(folder.path() / "missing", studio.tlsIdentity());
    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(studio, false); }), kIdentity);
    fs::remove(studio.tlsIdentity());
    EXPECT_EQ(entriesOf(studio.tls()), std::vector<std::string>{});

    // A data root reached through a link.
    fs::create_directory_symlink(root, folder.path() / "linked");
    StackPaths linked(folder.path() / "linked", studio.profile());
    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(linked, false); }), kIdentity);
    fs::create_directories(folder.path() / "real");
    fs::create_directory_symlink(folder.path() / "real", folder.path() / "via");
    StackPaths below(folder.path() / "via" / "Vessora", studio.profile());
    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(below, false); }), kIdentity);
    EXPECT_FALSE(fs::exists(folder.path() / "real" / "Vessora" / "studio"));

    // Identity files that are links or folders.
    LocalHTTPS::prepare(studio, false);
    fs::rename(studio.tlsPrivateKey(), folder.path() / "key");
    fs::create_symlink(folder.path() / "key", studio.tlsPrivateKey());
    EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(studio, false); }), kIdentity);
    EXPECT_EQ(messageOf([&] { LocalHTTPS::info(studio); }), kIdentity);
    fs::remove(studio.tlsPrivateKey());
    fs::create_directory(studio.tlsPrivateKey());
    EXPECT_EQ(messageOf([&] { LocalHTTPS::info(studio); }), kIdentity);

    // A missing file or folder gives the system's error.
    fs::remove(studio.tlsPrivateKey());
    EXPECT_THROW(LocalHTTPS::prepare(studio, false), fs::filesystem_error);
    fs::remove_all(studio.tlsIdentity());
    EXPECT_THROW(LocalHTTPS::info(studio), fs::filesystem_error);
}

TEST_F(LocalHTTPSTest, FailedOpensslLeavesTheIdentityInForce) {
    StackPaths studio = paths();
    LocalHTTPS::prepare(studio, false);
    FolderSnapshot before = snapshotFolder(studio.tls());

    // openssl refuses to run with a configuration file it cannot read.
    ::setenv("OPENSSL_CONF", (folder.path() / "missing.cnf").c_str(), 1);
    std::string message = messageOf([&] { LocalHTTPS::prepare(studio, true); });
    ::unsetenv("OPENSSL_CONF");
    EXPECT_EQ(message.rfind("openssl failed (1):\n", 0), 0u) << message;
    EXPECT_NE(message.find("missing.cnf"), std::string::npos) << message;
    EXPECT_EQ(snapshotFolder(studio.tls()), before);
}

// What openssl leaves behind when its writes fail (it still exits 0): empty,
// cut or missing files, whose folder takes data again by the time they are
// checked. Each is refused as a certificate that could not be written,
// without a reason the system did not give.
TEST_F(LocalHTTPSTest, CutOrEmptyOpensslOutputIsACertificateThatCouldNotBeWritten) {
    const std::string unwritten = "The local HTTPS certificate could not be written.";
    StackPaths studio = paths();
    LocalHTTPS::prepare(studio, false);
    StackPaths otherPaths(folder.path() / "other", studio.profile());
    LocalHTTPS::prepare(otherPaths, false);
    const fs::path out = folder.path() / "out";
    const fs::path certificate = out / "localhost.crt";
    const fs::path key = out / "localhost.key";
    const fs::path der = out / "localhost.cer";
    const auto reset = [&] {
        fs::remove_all(out);
        fs::create_directory(out);
        for (const fs::path& file :
             {studio.tlsCertificate(), studio.tlsPrivateKey(), studio.tlsImportCertificate()})
            fs::copy_file(file, out / file.filename());
    };
    const auto cut = [](const fs::path& file) { fs::resize_file(file, fs::file_size(file) / 2); };
    reset();
    EXPECT_NO_THROW(LocalHTTPS::requireWrittenPair(certificate, key));
    EXPECT_NO_THROW(LocalHTTPS::requireWrittenDER(der));

    const std::vector<std::pair<std::string, std::function<void()>>> pairFaults{
        {"empty certificate", [&] { fs::resize_file(certificate, 0); }},
        {"empty key", [&] { fs::resize_file(key, 0); }},
        {"both empty",
         [&] {
             fs::resize_file(certificate, 0);
             fs::resize_file(key, 0);
         }},
        {"cut certificate", [&] { cut(certificate); }},
        {"cut key", [&] { cut(key); }},
        {"no certificate", [&] { fs::remove(certificate); }},
        {"no key", [&] { fs::remove(key); }},
        {"another identity's key",
         [&] {
             fs::copy_file(otherPaths.tlsPrivateKey(), key, fs::copy_options::overwrite_existing);
         }},
    };
    for (const auto& [name, fault] : pairFaults) {
        reset();
        fault();
        EXPECT_EQ(messageOf([&] { LocalHTTPS::requireWrittenPair(certificate, key); }), unwritten)
            << name;
    }
    const std::vector<std::pair<std::string, std::function<void()>>> derFaults{
        {"empty DER", [&] { fs::resize_file(der, 0); }},
        {"cut DER", [&] { cut(der); }},
        {"no DER", [&] { fs::remove(der); }},
    };
    for (const auto& [name, fault] : derFaults) {
        reset();
        fault();
        EXPECT_EQ(messageOf([&] { LocalHTTPS::requireWrittenDER(der); }), unwritten) << name;
    }
    // The write that looked for a reason leaves nothing behind.
    EXPECT_EQ(entriesOf(out), (std::vector<std::string>{"localhost.crt", "localhost.key"}));
}

// The reason is the one the system gives for a write in that folder now:
// here a file size limit (its signal ignored, so the write fails instead).
TEST_F(LocalHTTPSTest, TheWriteFailureCarriesTheSystemsReason) {
    fs::create_directories(root);
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
    rlimit small = before;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message = LocalHTTPS::writeError(root).what();
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_EQ(message, "The local HTTPS certificate could not be written: File too large.");
    EXPECT_EQ(entriesOf(root), std::vector<std::string>{});
}

TEST_F(LocalHTTPSTest, InfoDescribesTheCertificate) {
    StackPaths shop = paths("shop.test");
    LocalHTTPS::prepare(shop, false);
    fs::permissions(shop.tlsImportCertificate(), static_cast<fs::perms>(0644));
    LocalCertificateInfo details = LocalHTTPS::info(shop);
    EXPECT_EQ(modeOf(shop.tlsImportCertificate()), 0600u);

    std::string reported =
        openssl({"x509", "-inform", "DER", "-in", shop.tlsImportCertificate().string(), "-noout",
                 "-fingerprint", "-sha256"});
    EXPECT_EQ(details.fingerprint.size(), 95u);
    EXPECT_EQ(reported, "sha256 Fingerprint=" + details.fingerprint + "\n");
    auto inAYear = std::chrono::system_clock::now() + std::chrono::hours(24 * 365);
    EXPECT_LT(details.expires, inAYear + std::chrono::minutes(5));
    EXPECT_GT(details.expires, inAYear - std::chrono::minutes(5));
    EXPECT_FALSE(details.trustedOnThisMac);

    // Trusted once the system's store holds it, and only for its own names.
    fs::create_directories(folder.path() / "store");
    ::setenv("SSL_CERT_FILE", shop.tlsCertificate().c_str(), 1);
    ::setenv("SSL_CERT_DIR", (folder.path() / "store").c_str(), 1);
    bool trusted = LocalHTTPS::info(shop).trustedOnThisMac;
    bool trustedForOtherName = LocalHTTPS::info(paths("other.test")).trustedOnThisMac;
    bool trustedForLocalhost = LocalHTTPS::info(paths()).trustedOnThisMac;
    ::unsetenv("SSL_CERT_FILE");
    ::unsetenv("SSL_CERT_DIR");
    EXPECT_TRUE(trusted);
    EXPECT_FALSE(trustedForOtherName);
    EXPECT_TRUE(trustedForLocalhost);

    PrivateFile::write(shop.tlsImportCertificate(), "not a certificate");
    EXPECT_EQ(messageOf([&] { LocalHTTPS::info(shop); }),
              "Could not read the local HTTPS certificate.");
}

TEST_F(LocalHTTPSTest, GetRefusesOtherAddressesWithoutARequest) {
    StackPaths shop = paths("shop.test");
    StackPaths plain = paths();
    // No identity exists: a request would fail in curl, not with this message.
    for (std::string url :
         {"http://127.0.0.1:8443/", "ftp://127.0.0.1:8443/", "127.0.0.1:8443", "https:///x",
          "https://example.test:8443/", "https://shop.test.evil:8443/", "https://127.0.0.1:8080/",
          "https://127.0.0.1/", "https://127.0.0.1:99999/", "https://127.0.0.1:8443/[1-9]",
          "https://127.0.0.1:8443/ x", "https://[::1]:8443/"}) {
        EXPECT_EQ(messageOf([&] { LocalHTTPS::get(url, shop); }), kIdentity) << url;
    }
    EXPECT_EQ(messageOf([&] { LocalHTTPS::get("https://shop.test:8443/", plain); }), kIdentity);
}

} // namespace
} // namespace vessora
