// The one shared router: an nginx that listens on 127.0.0.1:8088 (HTTP) and
// 127.0.0.1:8448 (HTTPS) and forwards each routed hostname to its
// environment's own web server. Its files live in the data root's ".router"
// folder: "nginx.conf" (loaded), "candidate.conf" (under test), "router.pid",
// "error.log", "process.log" and nginx's temporary folders "body", "proxy".
//
// apply() routes exactly the given records: a running router is reloaded in
// place (SIGHUP) and counts as switched once its health location answers
// the new configuration's generation; otherwise nginx is started and waited
// for. A failed switch puts the previous configuration back where it can,
// and otherwise stops the router. stop() never throws.
//
// apply() and stop() are driven by one caller at a time (the engine, under
// its busy guard); they block on commands and short pauses. The read-only
// accessors may be called from any thread meanwhile. Destroying the router
// does not stop its process.
#pragma once

#include "VessoraCore/Process/ManagedProcess.hpp"
#include "VessoraCore/Records/StackProfile.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

class VirtualHostRouter {
public:
    // The ports nginx listens on; tests move them to free ports.
    struct Ports {
        std::int64_t http = StackProfile::virtualHTTPPort();
        std::int64_t https = StackProfile::virtualHTTPSPort();
    };

    explicit VirtualHostRouter(std::filesystem::path root);
    VirtualHostRouter(std::filesystem::path root, Ports ports);
    VirtualHostRouter(const VirtualHostRouter&) = delete;
    VirtualHostRouter& operator=(const VirtualHostRouter&) = delete;

    // Routes exactly these records (each with a valid hostname), starting
    // `executable` (an nginx) when no router runs. An empty list stops it.
    void apply(const std::vector<StackProfile>& profiles, const std::filesystem::path& executable);
    void stop();

    // A router process exists and runs.
    bool isRunning() const;
    std::shared_ptr<ManagedProcess> child() const;
    std::vector<StackProfile> active() const;
    std::string generation() const;
    const std::filesystem::path& folder() const { return folder_; }

    // The router's complete nginx main file, without a final line feed. The
    // records are sorted by id; each must have a hostname, and an HTTPS port
    // when HTTPS is on.
    static std::string configuration(const std::filesystem::path& root,
                                     const std::vector<StackProfile>& profiles,
                                     const std::string& generation);
    static std::string configuration(const std::filesystem::path& root,
                                     const std::vector<StackProfile>& profiles,
                                     const std::string& generation, Ports ports);

    static constexpr const char* healthPath = "/__vessora_router_health";

private:
    // The state a failed switch returns to.
    struct Loaded {
        std::vector<StackProfile> active;
        std::optional<std::filesystem::path> executable;
        std::string generation;
    };

    void reload(const std::string& text, const std::string& generation,
                const std::vector<StackProfile>& profiles, const Loaded& old);
    void rollBackReload(const Loaded& old);
    void start(const std::string& text, const std::string& generation,
               const std::vector<StackProfile>& profiles, const std::filesystem::path& executable,
               const Loaded& old);
    void launch(const std::vector<StackProfile>& profiles, const std::filesystem::path& executable);
    void waitForGeneration(const std::string& generation, const std::string& host);
    void writeConfiguration(const std::filesystem::path& file, const std::string& text);
    bool portsTaken() const;

    std::filesystem::path root_;
    std::filesystem::path folder_;
    Ports ports_;

    mutable std::mutex mutex_; // guards the four fields below for readers
    std::shared_ptr<ManagedProcess> child_;
    std::vector<StackProfile> active_;
    std::optional<std::filesystem::path> executable_;
    std::string generation_;
};

} // namespace vessora
