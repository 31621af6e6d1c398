#include "VessoraCore/Updates/ReleaseFeedClient.hpp"

#include "VessoraCore/Updates/ProductSite.hpp"
#include "VessoraCore/Updates/UpdateCheckCancelled.hpp"
#include "VessoraCore/Updates/UpdateCheckError.hpp"

#include "VessoraCore/Foundation/CurlLibrary.hpp"

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace vessora {
namespace {

using Handle = std::unique_ptr<CURL, void (*)(CURL*)>;
using HeaderList = std::unique_ptr<curl_slist, void (*)(curl_slist*)>;

std::string lowercased(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// What one exchange has seen so far; the callbacks fill it in.
struct Exchange {
    CURL* curl = nullptr;
    std::stop_token stop;
    bool cancelled = false;
    bool invalid = false;
    bool headChecked = false;
    // Of the response head being read.
    std::optional<std::string> contentType;
    std::vector<std::string> contentLengths;
    std::string body;

    void startHead() {
        contentType.reset();
        contentLengths.clear();
    }

    void headerLine(std::string_view line) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos)
            return;
        const std::string name = lowercased(trimmed(line.substr(0, colon)));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (name == "content-type")
            contentType = std::string(value);
        else if (name == "content-length")
            contentLengths.emplace_back(value);
    }

    // The MIME type without parameters, lower-cased; empty when none.
    std::string mimeType() const {
        if (!contentType)
            return "";
        return lowercased(
            trimmed(std::string_view(*contentType).substr(0, contentType->find(';'))));
    }

    // An announced length must be one decimal number within the limit.
    bool lengthAcceptable() const {
        for (const auto& length : contentLengths) {
            if (length.empty() || length.size() > 12 ||
                !std::all_of(length.begin(), length.end(),
                             [](char c) { return c >= '0' && c <= '9'; }) ||
                std::stoull(length) > AppRelease::maximumSize)
                return false;
        }
        return true;
    }

    // The head is complete: decide on it before any body is read. No
    // redirect is followed, so anything but this one 200 answer ends here.
    bool headAcceptable() const {
        long status = 0;
        long redirects = 0;
        const CurlLibrary& lib = CurlLibrary::get();
        lib.easyGetinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        lib.easyGetinfo(curl, CURLINFO_REDIRECT_COUNT, &redirects);
        return status == 200 && redirects == 0 && mimeType() == "application/json" &&
               lengthAcceptable();
    }
};

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* target) {
    auto& exchange = *static_cast<Exchange*>(target);
    const std::string_view line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        exchange.startHead();
        return line.size();
    }
    if (!trimmed(line).empty()) {
        exchange.headerLine(line);
        return line.size();
    }
    long status = 0;
    CurlLibrary::get().easyGetinfo(exchange.curl, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 100 && status < 200)
        return line.size(); // an interim answer; the real one follows
    exchange.headChecked = true;
    if (!exchange.headAcceptable()) {
        exchange.invalid = true;
        return 0;
    }
    return line.size();
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* target) {
    auto& exchange = *static_cast<Exchange*>(target);
    const std::size_t length = size * count;
    if (exchange.stop.stop_requested()) {
        exchange.cancelled = true;
        return 0;
    }
    if (!exchange.headChecked || exchange.body.size() + length > AppRelease::maximumSize) {
        exchange.invalid = true;
        return 0;
    }
    exchange.body.append(data, length);
    return length;
}

// Called while curl waits, too: a stop request ends a stalled exchange.
int onProgress(void* target, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& exchange = *static_cast<Exchange*>(target);
    if (exchange.stop.stop_requested()) {
        exchange.cancelled = true;
        return 1;
    }
    return 0;
}

} // namespace

ReleaseFeedClient::ReleaseFeedClient() : ReleaseFeedClient(Options{endpoint()}) {}

ReleaseFeedClient::ReleaseFeedClient(Options options) : options_(std::move(options)) {}

std::string ReleaseFeedClient::endpoint() {
    return ProductSite::feedURL();
}

AppRelease ReleaseFeedClient::fetch(std::stop_token stop) const {
    if (stop.stop_requested())
        throw UpdateCheckCancelled();
    const CurlLibrary& lib = CurlLibrary::get();
    const Handle handle(lib.easyInit(), lib.easyCleanup);
    if (!handle)
        throw std::runtime_error("Could not create an HTTP request.");
    CURL* curl = handle.get();
    HeaderList headers(nullptr, lib.slistFreeAll);
    for (const char* field : {"Accept: application/json", "Cache-Control: no-cache"}) {
        curl_slist* next = lib.slistAppend(headers.get(), field);
        if (!next)
            throw std::runtime_error("Could not create an HTTP request.");
        headers.release();
        headers.reset(next);
    }

    Exchange exchange;
    exchange.curl = curl;
    exchange.stop = stop;
    char message[CURL_ERROR_SIZE] = {};
    lib.easySetopt(curl, CURLOPT_ERRORBUFFER, message);
    lib.easySetopt(curl, CURLOPT_URL, options_.endpoint.c_str());
    lib.easySetopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    lib.easySetopt(curl, CURLOPT_HTTPGET, 1L);
    lib.easySetopt(curl, CURLOPT_HTTPHEADER, headers.get());
    lib.easySetopt(curl, CURLOPT_USERAGENT, "Vessora Update Check");
    lib.easySetopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    lib.easySetopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib.easySetopt(curl, CURLOPT_PROXY, "");
    lib.easySetopt(curl, CURLOPT_NOPROXY, "*");
    lib.easySetopt(curl, CURLOPT_NETRC, long(CURL_NETRC_IGNORED));
    lib.easySetopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    lib.easySetopt(curl, CURLOPT_FORBID_REUSE, 1L);
    lib.easySetopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    lib.easySetopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (options_.trustedCertificates) {
        lib.easySetopt(curl, CURLOPT_CAINFO, options_.trustedCertificates->c_str());
        lib.easySetopt(curl, CURLOPT_CAPATH, nullptr);
    }
    const long idle = long(std::max<std::chrono::seconds::rep>(1, options_.idleTimeout.count()));
    lib.easySetopt(curl, CURLOPT_CONNECTTIMEOUT, idle);
    lib.easySetopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib.easySetopt(curl, CURLOPT_LOW_SPEED_TIME, idle);
    lib.easySetopt(curl, CURLOPT_TIMEOUT_MS, long(options_.totalTimeout.count()));
    lib.easySetopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    lib.easySetopt(curl, CURLOPT_HEADERDATA, &exchange);
    lib.easySetopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    lib.easySetopt(curl, CURLOPT_WRITEDATA, &exchange);
    lib.easySetopt(curl, CURLOPT_NOPROGRESS, 0L);
    lib.easySetopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    lib.easySetopt(curl, CURLOPT_XFERINFODATA, &exchange);

    const CURLcode code = lib.easyPerform(curl);
    if (exchange.cancelled)
        throw UpdateCheckCancelled();
    if (exchange.invalid)
        throw UpdateCheckError::invalidResponse();
    if (code != CURLE_OK)
        throw std::runtime_error(message[0] ? message : lib.easyStrerror(code));
    if (!exchange.headChecked || !exchange.headAcceptable())
        throw UpdateCheckError::invalidResponse();
    return AppRelease::decode(exchange.body);
}

} // namespace vessora
