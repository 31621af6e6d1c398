#include "VessoraCore/LocalAddresses/VirtualHostRouter.hpp"

#include "VessoraCore/Foundation/DescriptorWait.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "VessoraHostProtocol/LocalHostname.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <exception>
#include <thread>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto pause = 50ms;
// nginx listens within milliseconds on an idle machine and within seconds on
// a busy one; the wait ends at once when it exits instead.
constexpr auto readinessLimit = 20s;
constexpr int generationAttempts = 40;

[[noreturn]] void fail(const char* sentence) {
    throw VessoraError(L10n::text(sentence));
}

} // namespace

VirtualHostRouter::VirtualHostRouter(fs::path root) : VirtualHostRouter(std::move(root), Ports{}) {}

VirtualHostRouter::VirtualHostRouter(fs::path root, Ports ports)
    : root_(std::move(root)), folder_(root_ / ".router"), ports_(ports) {}

std::shared_ptr<ManagedProcess> VirtualHostRouter::child() const {
    std::lock_guard guard(mutex_);
    return child_;
}

bool VirtualHostRouter::isRunning() const {
    const auto process = child();
    return process && process->isRunning();
}

std::vector<StackProfile> VirtualHostRouter::active() const {
    std::lock_guard guard(mutex_);
    return active_;
}

std::string VirtualHostRouter::generation() const {
    std::lock_guard guard(mutex_);
    return generation_;
}

void VirtualHostRouter::writeConfiguration(const fs::path& file, const std::string& text) {
    PrivateFile::writeKeepingMode(file, text);
}

bool VirtualHostRouter::portsTaken() const {
    return !PortCheck::isAvailable(ports_.http) && !PortCheck::isAvailable(ports_.https);
}

void VirtualHostRouter::apply(const std::vector<StackProfile>& profiles,
                              const fs::path& executable) {
    if (profiles == active() && isRunning())
        return;
    if (profiles.empty()) {
        stop();
        return;
    }
    for (const StackProfile& profile : profiles)
        LocalHostname::validate(profile.hostname.value_or(""));
    PrivateFile::createDirectories(folder_);
    PrivateFile::createDirectories(folder_ / "body");
    PrivateFile::createDirectories(folder_ / "proxy");

    Loaded old;
    {
        std::lock_guard guard(mutex_);
        old = Loaded{active_, executable_, generation_};
    }
    const std::string generation = Uuid::random();
    const std::string text = configuration(root_, profiles, generation, ports_);
    const fs::path candidate = folder_ / "candidate.conf";
    writeConfiguration(candidate, text);

    CommandOptions options;
    options.timeout = 60;
    const CommandResult test = Command::run(
        executable, {"-t", "-p", folder_.string() + "/", "-c", candidate.string()}, options);
    if (test.status != 0)
        throw VessoraError(test.failureMessage(executable.filename().string()));

    if (isRunning())
        reload(text, generation, profiles, old);
    else
        start(text, generation, profiles, executable, old);
}

void VirtualHostRouter::reload(const std::string& text, const std::string& generation,
                               const std::vector<StackProfile>& profiles, const Loaded& old) {
    writeConfiguration(folder_ / "nginx.conf", text);
    const auto process = child();
    if (!process || !process->signal(SIGHUP)) {
        rollBackReload(old);
        fail("Could not reload the local host router.");
    }
    try {
        waitForGeneration(generation, profiles.front().hostname.value_or(""));
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        rollBackReload(old);
        std::rethrow_exception(failure);
    }
    std::lock_guard guard(mutex_);
    active_ = profiles;
    generation_ = generation;
}

void VirtualHostRouter::rollBackReload(const Loaded& old) {
    // A running router always routes something; without a list to go back
    // to there is nothing to restore.
    if (old.active.empty()) {
        stop();
        return;
    }
    try {
        writeConfiguration(folder_ / "nginx.conf",
                           configuration(root_, old.active, old.generation, ports_));
    } catch (const std::exception&) {
    }
    const auto process = child();
    if (!process || !process->signal(SIGHUP)) {
        stop();
        return;
    }
    try {
        waitForGeneration(old.generation, old.active.front().hostname.value_or(""));
    } catch (const std::exception&) {
        stop();
        return;
    }
    std::lock_guard guard(mutex_);
    active_ = old.active;
}

void VirtualHostRouter::start(const std::string& text, const std::string& generation,
                              const std::vector<StackProfile>& profiles, const fs::path& executable,
                              const Loaded& old) {
    stop();
    try {
        PortCheck::requireAvailable(ports_.http);
        PortCheck::requireAvailable(ports_.https);
        writeConfiguration(folder_ / "nginx.conf", text);
        launch(profiles, executable);
        waitForGeneration(generation, profiles.front().hostname.value_or(""));
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        stop();
        if (!old.active.empty() && old.executable) {
            try {
                writeConfiguration(folder_ / "nginx.conf",
                                   configuration(root_, old.active, old.generation, ports_));
            } catch (const std::exception&) {
            }
            try {
                launch(old.active, *old.executable);
            } catch (const std::exception&) {
            }
        }
        std::rethrow_exception(failure);
    }
    std::lock_guard guard(mutex_);
    generation_ = generation;
}

void VirtualHostRouter::launch(const std::vector<StackProfile>& profiles,
                               const fs::path& executable) {
    auto process = std::make_shared<ManagedProcess>(
        "Router", executable,
        std::vector<std::string>{"-p", folder_.string() + "/", "-c",
                                 (folder_ / "nginx.conf").string()},
        folder_ / "process.log", std::map<std::string, std::string>{}, folder_ / "servers");
    {
        std::lock_guard guard(mutex_);
        child_ = process;
        executable_ = executable;
    }
    const auto deadline = std::chrono::steady_clock::now() + readinessLimit;
    for (;;) {
        if (!process->isRunning())
            fail("The local host router exited. Check .router/error.log.");
        // Both ports taken: nginx listens on both.
        if (portsTaken()) {
            std::lock_guard guard(mutex_);
            active_ = profiles;
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            fail("The local host router did not become ready.");
        // Wakes early when the process ends.
        DescriptorWait::readable(
            {process->exitDescriptor()},
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    }
}

void VirtualHostRouter::waitForGeneration(const std::string& generation, const std::string& host) {
    const std::string url =
        "http://127.0.0.1:" + std::to_string(ports_.http) + std::string(healthPath);
    CommandOptions options;
    options.timeout = 2;
    for (int attempt = 0; attempt < generationAttempts; ++attempt) {
        if (!isRunning())
            break;
        try {
            const CommandResult probe =
                Command::run("/usr/bin/curl",
                             {"--silent", "--fail", "--noproxy", "*", "--max-time", "1", "--header",
                              "Host: " + host, url},
                             options);
            if (probe.status == 0 && probe.output == generation)
                return;
        } catch (const std::exception&) {
        }
        std::this_thread::sleep_for(pause);
    }
    fail("The local host router did not accept its new configuration.");
}

void VirtualHostRouter::stop() {
    if (const auto process = child(); process && process->isRunning()) {
        process->signal(SIGQUIT);
        for (int check = 0; check < 40 && process->isRunning(); ++check)
            std::this_thread::sleep_for(pause);
        if (process->isRunning()) {
            process->signal(SIGKILL);
            for (int check = 0; check < 20 && process->isRunning(); ++check)
                std::this_thread::sleep_for(pause);
        }
    }
    std::lock_guard guard(mutex_);
    child_.reset();
    active_.clear();
}

} // namespace vessora
