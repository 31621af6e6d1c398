#include "VessoraCore/Foundation/CurlLibrary.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace vessora {
namespace {

constexpr const char* libraryName = "libcurl.so.4";

struct Loaded {
    CurlLibrary library;
    std::string failure;
};

template <typename Function>
bool resolve(void* handle, const char* name, Function& target) {
    target = reinterpret_cast<Function>(::dlsym(handle, name));
    return target != nullptr;
}

Loaded load() {
    Loaded loaded;
    // Kept for the rest of the run: requests may still be running on other
    // threads when the program ends.
    void* handle = ::dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = ::dlerror();
        loaded.failure = L10n::text("Could not load the HTTP library %@: %@",
                                    {libraryName, reason ? reason : "unknown error"});
        return loaded;
    }
    CurlLibrary& curl = loaded.library;
    const bool complete = resolve(handle, "curl_easy_init", curl.easyInit) &&
                          resolve(handle, "curl_easy_cleanup", curl.easyCleanup) &&
                          resolve(handle, "curl_easy_setopt", curl.easySetopt) &&
                          resolve(handle, "curl_easy_perform", curl.easyPerform) &&
                          resolve(handle, "curl_easy_getinfo", curl.easyGetinfo) &&
                          resolve(handle, "curl_easy_strerror", curl.easyStrerror) &&
                          resolve(handle, "curl_slist_append", curl.slistAppend) &&
                          resolve(handle, "curl_slist_free_all", curl.slistFreeAll);
    if (!complete)
        loaded.failure =
            L10n::text("The HTTP library %@ lacks a function Vessora needs.", {libraryName});
    return loaded;
}

} // namespace

const CurlLibrary& CurlLibrary::get() {
    static const Loaded loaded = load();
    if (!loaded.failure.empty())
        throw std::runtime_error(loaded.failure);
    return loaded.library;
}

} // namespace vessora
