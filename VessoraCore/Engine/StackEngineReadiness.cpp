// Bounded readiness checks of a starting environment.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/LoopbackHTTP.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <nlohmann/json.hpp>

#include <memory>
#include <stdexcept>
#include <thread>

namespace vessora {

namespace {

std::string withoutAll(std::string text, const std::string& piece) {
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece))
        text.erase(at, piece.size());
    return text;
}

bool stringStartingWith(const nlohmann::json& object, const char* key, const std::string& start) {
    const auto value = object.find(key);
    return value != object.end() && value->is_string() &&
           value->get_ref<const std::string&>().starts_with(start);
}

bool stringEqual(const nlohmann::json& object, const char* key, const std::string& expected) {
    const auto value = object.find(key);
    return value != object.end() && value->is_string() &&
           value->get_ref<const std::string&>() == expected;
}

bool healthy(const LoopbackHTTP::Answer& answer, const StackProfile& profile,
             const std::string& token) {
    if (answer.status != 200)
        return false;
    const nlohmann::json object = nlohmann::json::parse(answer.body, nullptr, false);
    return object.is_object() && stringEqual(object, "token", token) &&
           stringEqual(object, "identity", profile.id) &&
           stringStartingWith(object, "php", withoutAll(profile.php, "php@") + ".") &&
           stringStartingWith(object, "mariadb", withoutAll(profile.mariaDB, "mariadb@") + ".");
}

} // namespace

void StackEngine::requireAlive(const std::string& id) const {
    ProcessList list;
    {
        std::lock_guard lock(mutex_);
        if (const auto entry = processes_.find(id); entry != processes_.end())
            list = entry->second;
    }
    for (const auto& process : list)
        if (!process->isRunning())
            throw VessoraError(
                L10n::text("%@ exited (%@). See %@/logs.",
                           {process->service(), std::to_string(process->terminationStatus()), id}));
}

void StackEngine::waitForDatabase(const StackProfile& profile,
                                  const std::filesystem::path& dbPrefix) const {
    for (int attempt = 0; attempt < 120; ++attempt) {
        requireAlive(profile.id);
        try {
            if (UnicodeText::trimmed(sql(profile, dbPrefix, "SELECT 1", false)) == "1")
                return;
        } catch (const std::exception&) {
            // Not ready yet.
        }
        std::this_thread::sleep_for(readinessPause_);
    }
    throw VessoraError(
        L10n::text("MariaDB did not start. See %@/logs/mariadb-error.log.", {profile.id}));
}

void StackEngine::waitForHTTP(const StackProfile& profile, const std::string& token) const {
    const std::string url = profile.backendURL() + "/__vessora_health.php";
    for (int attempt = 0; attempt < 80; ++attempt) {
        requireAlive(profile.id);
        try {
            if (healthy(LoopbackHTTP::get(url, 2), profile, token))
                return;
        } catch (const std::exception&) {
            // Not ready yet.
        }
        std::this_thread::sleep_for(readinessPause_);
    }
    throw VessoraError(L10n::text("HTTP/PHP/SQL health check failed. See %@/logs.", {profile.id}));
}

void StackEngine::waitForPhpMyAdmin(const StackProfile& profile) const {
    std::string body;
    if (profile.httpsEnabled) {
        body = LocalHTTPS::get(profile.backendHTTPSURL().value_or("") + "/phpmyadmin/",
                               StackPaths(root_, profile));
    } else {
        const LoopbackHTTP::Answer answer =
            LoopbackHTTP::get(profile.backendURL() + "/phpmyadmin/", 15);
        if (answer.status == 200)
            body = answer.body;
    }
    if (body.find("phpMyAdmin") == std::string::npos || body.find("pmahomme") == std::string::npos)
        throw VessoraError(L10n::text("Could not start phpMyAdmin. See %@/logs.", {profile.id}));
}

} // namespace vessora
