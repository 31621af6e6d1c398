// libcurl, loaded the first time a request is made rather than when the
// program starts: it brings two dozen libraries of its own, which would
// delay every window's first frame, and most runs make no request at all.
#pragma once

#include <curl/curl.h>

namespace vessora {

struct CurlLibrary {
    CURL* (*easyInit)() = nullptr;
    void (*easyCleanup)(CURL*) = nullptr;
    CURLcode (*easySetopt)(CURL*, CURLoption, ...) = nullptr;
    CURLcode (*easyPerform)(CURL*) = nullptr;
    CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...) = nullptr;
    const char* (*easyStrerror)(CURLcode) = nullptr;
    curl_slist* (*slistAppend)(curl_slist*, const char*) = nullptr;
    void (*slistFreeAll)(curl_slist*) = nullptr;

    // Loaded once per run; throws a finished sentence where it cannot be.
    static const CurlLibrary& get();
};

} // namespace vessora
