#include "VessoraCore/Foundation/LoopbackHTTP.hpp"

#include "VessoraCore/Foundation/CurlLibrary.hpp"

#include <memory>
#include <stdexcept>

namespace vessora::LoopbackHTTP {
namespace {

std::size_t collect(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

} // namespace

Answer get(const std::string& url, long timeoutSeconds) {
    const CurlLibrary& lib = CurlLibrary::get();
    const std::unique_ptr<CURL, void (*)(CURL*)> handle(lib.easyInit(), lib.easyCleanup);
    if (!handle)
        throw std::runtime_error("Could not create an HTTP request.");
    Answer answer;
    CURL* curl = handle.get();
    lib.easySetopt(curl, CURLOPT_URL, url.c_str());
    lib.easySetopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib.easySetopt(curl, CURLOPT_NOPROXY, "*");
    lib.easySetopt(curl, CURLOPT_TIMEOUT, timeoutSeconds);
    lib.easySetopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    lib.easySetopt(curl, CURLOPT_WRITEFUNCTION, collect);
    lib.easySetopt(curl, CURLOPT_WRITEDATA, &answer.body);
    lib.easySetopt(curl, CURLOPT_HEADERFUNCTION, collect);
    lib.easySetopt(curl, CURLOPT_HEADERDATA, &answer.headers);
    const CURLcode code = lib.easyPerform(curl);
    if (code != CURLE_OK)
        throw std::runtime_error(lib.easyStrerror(code));
    lib.easyGetinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    char* location = nullptr;
    lib.easyGetinfo(curl, CURLINFO_REDIRECT_URL, &location);
    if (location)
        answer.redirect = location;
    return answer;
}

} // namespace vessora::LoopbackHTTP
