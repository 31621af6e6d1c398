// An environment's local HTTPS identity: a self-signed certificate for
// localhost, 127.0.0.1 and the environment's hostname, with its key, kept in
// E/config/tls/identity (localhost.crt PEM, localhost.key PEM, localhost.cer
// DER; folders 0700, files 0600).
//
// prepare() makes sure the identity exists and passes every check. A new
// identity is built in a private staging folder beside the old one, checked
// in full and only then moved into place with two renames, so a failed build
// or renewal leaves the identity in force untouched. An existing identity is
// rebuilt only when renewal is asked for, or by refresh() when it fails a
// check. What openssl writes is checked first: files it left empty or cut
// short (it exits 0 on a full disk) give "The local HTTPS certificate could
// not be written: <the system's reason>."
//
// Every call blocks while its openssl or curl command runs (run them from a
// worker thread). The safety rules refuse folders reached through symbolic
// links, owned by another user, or identity files that are not plain files;
// missing files give the system's error, not one of the messages here.
#pragma once

#include "VessoraCore/Certificates/LocalCertificateInfo.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"

#include <filesystem>
#include <string>

namespace vessora::LocalHTTPS {

// "/usr/bin/openssl".
const std::filesystem::path& openssl();

// With `renew` false keeps an identity that passes the checks (and throws
// the check's error when it does not) and builds one only when none exists;
// with `renew` true always builds a new one, keeping the replaced identity in
// E/config/tls/previous-UUID. Throws the hostname rule's HostServiceError
// before touching the disk.
void prepare(const StackPaths& paths, bool renew);

// As prepare(), but an identity in force that fails a check (expired, made
// for another hostname, incomplete) is replaced as a renewal replaces it
// instead of being reported. The folder safety rules still refuse.
void refresh(const StackPaths& paths);

// Expiry, fingerprint and whether this computer trusts the certificate for
// the record's hostname (or "localhost"). Runs no program; changes nothing
// but the modes the safety rules set.
LocalCertificateInfo info(const StackPaths& paths);

// Fetches an https:// address on one of the certificate's names and one of
// the environment's HTTPS ports through curl, trusting only the
// environment's certificate and connecting to 127.0.0.1 whatever the name.
// Returns the body; an HTTP status of 400 or more, like any curl failure,
// throws "curl failed (...)". Other addresses are refused without a request.
std::string get(const std::string& url, const StackPaths& paths);

} // namespace vessora::LocalHTTPS
