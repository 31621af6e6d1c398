// Reaches the engine's private members from tests: the process table, the
// flags and the internal steps that later operations build on.
#pragma once

#include "VessoraCore/Engine/StackEngine.hpp"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vessora {

struct StackEngineTesting {
    // Options for an engine on a test data root with a fake helper and short
    // stop pauses, so tests that stop processes do not wait seconds.
    static StackEngine::Options quickOptions(std::filesystem::path root, std::filesystem::path brew,
                                             std::shared_ptr<EngineHostService> helper) {
        StackEngine::Options options;
        options.root = std::move(root);
        options.brew = std::move(brew);
        options.hostClient = std::move(helper);
        options.stopPauses = {std::chrono::milliseconds(10), std::chrono::milliseconds(10),
                              std::chrono::milliseconds(10)};
        return options;
    }
    static void addProcess(StackEngine& engine, const std::string& id,
                           std::shared_ptr<ManagedProcess> process) {
        std::lock_guard lock(engine.mutex_);
        engine.processes_[id].push_back(std::move(process));
    }
    static std::size_t processCount(const StackEngine& engine, const std::string& id) {
        std::lock_guard lock(engine.mutex_);
        const auto entry = engine.processes_.find(id);
        return entry == engine.processes_.end() ? 0 : entry->second.size();
    }
    static bool hasEntry(const StackEngine& engine, const std::string& id) {
        return engine.hasProcesses(id);
    }
    static void setFailure(StackEngine& engine, const std::string& id, const std::string& text) {
        std::lock_guard lock(engine.mutex_);
        engine.failures_[id] = text;
    }
    static bool hasFailure(const StackEngine& engine, const std::string& id) {
        std::lock_guard lock(engine.mutex_);
        return engine.failures_.count(id) != 0;
    }
    static bool busy(const StackEngine& engine) { return engine.busy_.load(); }
    static bool localHostsEnabled(const StackEngine& engine) {
        std::lock_guard lock(engine.mutex_);
        return engine.localHostsEnabled_;
    }
    static VirtualHostRouter& router(StackEngine& engine) { return *engine.router_; }
    // The engine's store, for its test seams (records writer, step observer).
    static EnvironmentFiles& environmentFiles(StackEngine& engine) {
        return engine.environmentFiles_;
    }

    static void stopProcesses(StackEngine& engine, const std::string& id) {
        engine.stopProcesses(id);
    }
    static HostServiceRequest hostRequest(const StackEngine& engine) {
        return engine.hostRequest();
    }
    static void syncRouter(StackEngine& engine, const std::optional<std::string>& excluding) {
        engine.syncRouter(excluding);
    }
    static std::string prepare(StackEngine& engine, const StackPaths& paths,
                               const std::filesystem::path& dbPrefix,
                               const std::filesystem::path& webPrefix, const std::string& token) {
        return engine.prepare(paths, dbPrefix, webPrefix, token);
    }
    static std::string localPassword(const StackEngine& engine, const std::filesystem::path& file) {
        return engine.localPassword(file);
    }
    static std::string applicationPassword(const StackEngine& engine, const StackPaths& paths) {
        return engine.applicationPassword(paths);
    }
    static std::string sql(const StackEngine& engine, const StackProfile& profile,
                           const std::filesystem::path& prefix, const std::string& statement,
                           bool sensitive) {
        return engine.sql(profile, prefix, statement, sensitive);
    }
    static void requireAlive(const StackEngine& engine, const std::string& id) {
        engine.requireAlive(id);
    }
    static std::string loginName() { return StackEngine::loginName(); }
    static void waitForDatabase(const StackEngine& engine, const StackProfile& profile,
                                const std::filesystem::path& prefix) {
        engine.waitForDatabase(profile, prefix);
    }
    static void waitForHTTP(const StackEngine& engine, const StackProfile& profile,
                            const std::string& token) {
        engine.waitForHTTP(profile, token);
    }
    static void waitForPhpMyAdmin(const StackEngine& engine, const StackProfile& profile) {
        engine.waitForPhpMyAdmin(profile);
    }
    // The import's own road into a start: busy held by the caller, a dump.
    static void startUnlocked(StackEngine& engine, const std::string& id,
                              const std::optional<std::filesystem::path>& dump, bool migrating) {
        StackEngine::BusyGuard guard(engine.busy_);
        engine.startUnlocked(id, dump, migrating);
    }
    // The dump loading of a start, on an environment whose server runs.
    static void importDatabase(StackEngine& engine, const StackPaths& paths,
                               const std::filesystem::path& prefix,
                               const std::filesystem::path& input, const std::string& password) {
        engine.importDatabase(paths, prefix, input, password);
    }
    static std::string setupStatement(const StackProfile& profile, const std::string& password) {
        return StackEngine::setupStatement(profile, password);
    }
    static std::string phpMyAdminStatement(const std::optional<std::string>& password) {
        return StackEngine::phpMyAdminStatement(password);
    }
    static bool importUnfinished(const std::filesystem::path& report) {
        return StackEngine::importUnfinished(report);
    }
    static void setBusy(StackEngine& engine, bool busy) { engine.busy_.store(busy); }
    // Runs `observer` in the poll between its first look at an exited
    // process and its claim of the busy flag.
    static void onExitSeen(StackEngine& engine, std::function<void(const std::string&)> observer) {
        engine.exitSeen_ = std::move(observer);
    }
    static void setLocalHostsEnabled(StackEngine& engine, bool enabled) {
        std::lock_guard lock(engine.mutex_);
        engine.localHostsEnabled_ = enabled;
    }
};

} // namespace vessora
