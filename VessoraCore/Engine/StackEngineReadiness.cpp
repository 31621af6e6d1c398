// Bounded readiness checks of a starting environment.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Engine/ReadinessWait.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/LoopbackHTTP.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <nlohmann/json.hpp>

#include <memory>
#include <stdexcept>

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

// The caller keeps the processes alive while the descriptors are in use.
std::vector<int> exitDescriptors(const std::vector<std::shared_ptr<ManagedProcess>>& processes) {
    std::vector<int> descriptors;
    for (const auto& process : processes)
        descriptors.push_back(process->exitDescriptor());
    return descriptors;
}

} // namespace

std::vector<std::shared_ptr<ManagedProcess>> StackEngine::launched(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const auto entry = processes_.find(id);
    return entry == processes_.end() ? ProcessList{} : entry->second;
}

void StackEngine::requireAlive(const std::string& id) const {
    for (const auto& process : launched(id))
        if (!process->isRunning())
            throw VessoraError(
                L10n::text("%@ exited (%@). See %@/logs.",
                           {process->service(), std::to_string(process->terminationStatus()), id}));
}

// The attempts of both waits are paced by ReadinessWait: they wake as soon
// as the server can answer or one of the environment's processes ends.
void StackEngine::waitForDatabase(const StackProfile& profile,
                                  const std::filesystem::path& dbPrefix) const {
    const auto watched = launched(profile.id);
    ReadinessWait wait(120, readinessPause_, ReadinessWait::fileAppears(socketFile(profile.id)),
                       exitDescriptors(watched));
    const bool ready = wait.run(
        [&] { requireAlive(profile.id); },
        [&] {
            try {
                return UnicodeText::trimmed(sql(profile, dbPrefix, "SELECT 1", false)) == "1";
            } catch (const std::exception&) {
                return false; // not ready yet
            }
        });
    if (!ready)
        throw VessoraError(
            L10n::text("MariaDB did not start. See %@/logs/mariadb-error.log.", {profile.id}));
}

void StackEngine::waitForHTTP(const StackProfile& profile, const std::string& token) const {
    const std::string url = profile.backendURL() + "/__vessora_health.php";
    const auto watched = launched(profile.id);
    // The health page needs the web server and PHP-FPM both listening.
    ReadinessWait wait(80, readinessPause_,
                       ReadinessWait::portsAccept({profile.httpPort, profile.phpPort}),
                       exitDescriptors(watched));
    const bool ready = wait.run([&] { requireAlive(profile.id); },
                                [&] {
                                    try {
                                        return healthy(LoopbackHTTP::get(url, 2), profile, token);
                                    } catch (const std::exception&) {
                                        return false; // not ready yet
                                    }
                                });
    if (!ready)
        throw VessoraError(
            L10n::text("HTTP/PHP/SQL health check failed. See %@/logs.", {profile.id}));
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
