#include "VessoraCore/Foundation/LoopbackHTTP.hpp"

#include <curl/curl.h>

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
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(),
                                                                     curl_easy_cleanup);
    if (!handle)
        throw std::runtime_error("Could not create an HTTP request.");
    Answer answer;
    CURL* curl = handle.get();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer.headers);
    const CURLcode code = curl_easy_perform(curl);
    if (code != CURLE_OK)
        throw std::runtime_error(curl_easy_strerror(code));
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    char* location = nullptr;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
    if (location)
        answer.redirect = location;
    return answer;
}

} // namespace vessora::LoopbackHTTP
