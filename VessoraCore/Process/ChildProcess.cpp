#include "VessoraCore/Process/ChildProcess.hpp"

#include "VessoraCore/Foundation/DescriptorWait.hpp"

#include <algorithm>
#include <csignal>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vessora::ChildProcess {
namespace {

struct FileActions {
    posix_spawn_file_actions_t value;
    FileActions() { posix_spawn_file_actions_init(&value); }
    ~FileActions() { posix_spawn_file_actions_destroy(&value); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
};

struct Attributes {
    posix_spawnattr_t value;
    Attributes() { posix_spawnattr_init(&value); }
    ~Attributes() { posix_spawnattr_destroy(&value); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
};

std::vector<char*> pointers(const std::vector<std::string>& texts) {
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (const auto& text : texts)
        result.push_back(const_cast<char*>(text.c_str()));
    result.push_back(nullptr);
    return result;
}

void check(int error, const std::filesystem::path& executable) {
    if (error != 0)
        throw std::system_error(error, std::generic_category(),
                                "Could not launch " + executable.string());
}

} // namespace

std::vector<std::string> environment(const std::map<std::string, std::string>& overrides) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        auto equals = text.find('=');
        if (equals == std::string_view::npos || equals == 0)
            continue;
        merged.insert_or_assign(std::string(text.substr(0, equals)),
                                std::string(text.substr(equals + 1)));
    }
    merged.insert_or_assign("PATH", std::string(childPath));
    for (const auto& [key, value] : overrides)
        merged.insert_or_assign(key, value);

    std::vector<std::string> result;
    result.reserve(merged.size());
    for (const auto& [key, value] : merged)
        result.push_back(key + "=" + value);
    return result;
}

pid_t launch(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
             const std::vector<std::string>& environment, int input, int output) {
    FileActions actions;
    check(posix_spawn_file_actions_adddup2(&actions.value, input, STDIN_FILENO), executable);
    check(posix_spawn_file_actions_adddup2(&actions.value, output, STDOUT_FILENO), executable);
    check(posix_spawn_file_actions_adddup2(&actions.value, output, STDERR_FILENO), executable);
    // Descriptors another thread opened without O_CLOEXEC must not leak either.
    check(posix_spawn_file_actions_addclosefrom_np(&actions.value, STDERR_FILENO + 1), executable);

    Attributes attributes;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    check(posix_spawnattr_setflags(&attributes.value, POSIX_SPAWN_SETPGROUP |
                                                          POSIX_SPAWN_SETSIGMASK |
                                                          POSIX_SPAWN_SETSIGDEF),
          executable);
    check(posix_spawnattr_setpgroup(&attributes.value, 0), executable);
    check(posix_spawnattr_setsigmask(&attributes.value, &none), executable);
    check(posix_spawnattr_setsigdefault(&attributes.value, &all), executable);

    std::vector<std::string> argv{executable.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto argvPointers = pointers(argv);
    auto envPointers = pointers(environment);

    pid_t pid = -1;
    check(posix_spawn(&pid, executable.c_str(), &actions.value, &attributes.value,
                      argvPointers.data(), envPointers.data()),
          executable);
    return pid;
}

UniqueFd exitDescriptor(pid_t pid) {
    // Through syscall(): glibc 2.36 declares pidfd_open without C linkage.
    return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

bool waitForExit(const UniqueFd& descriptor, std::chrono::steady_clock::duration limit) {
    if (!descriptor) {
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(limit, std::chrono::milliseconds(10)));
        return false;
    }
    return DescriptorWait::readable({descriptor.get()}, limit)[0];
}

int terminationStatus(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return WTERMSIG(waitStatus);
    return waitStatus;
}

} // namespace vessora::ChildProcess
