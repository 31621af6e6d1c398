// One plain-HTTP GET to a server on this machine: no proxy, a fresh
// connection, redirects not followed, bounded by a time-out. Transport
// errors are thrown as std::runtime_error with curl's text; any HTTP status
// is an answer.
#pragma once

#include <string>

namespace vessora::LoopbackHTTP {

struct Answer {
    long status = 0;
    std::string headers;
    std::string body;
    // The Location of a redirect, else empty.
    std::string redirect;
};

Answer get(const std::string& url, long timeoutSeconds);

} // namespace vessora::LoopbackHTTP
