#include "VessoraCore/Process/ManagedProcess.hpp"

#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/ChildProcess.hpp"
#include "VessoraCore/Process/ServerRecord.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>

namespace vessora {

ManagedProcess::ManagedProcess(std::string service, const std::filesystem::path& executable,
                               const std::vector<std::string>& arguments,
                               const std::filesystem::path& log,
                               const std::map<std::string, std::string>& environment,
                               const std::optional<std::filesystem::path>& recordFolder)
    : service_(std::move(service)) {
    output_.reset(::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!output_)
        throw std::filesystem::filesystem_error("Could not open the server log", log,
                                                std::error_code(errno, std::generic_category()));
    UniqueFd input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!input)
        throw std::filesystem::filesystem_error("Could not open", "/dev/null",
                                                std::error_code(errno, std::generic_category()));
    pid_ = ChildProcess::launch(executable, arguments, ChildProcess::environment(environment),
                                input.get(), output_.get());
    exit_ = ChildProcess::exitDescriptor(pid_);
    if (recordFolder)
        recordIn(*recordFolder, executable);
}

ManagedProcess::~ManagedProcess() {
    if (record_ && !isRunning()) {
        std::error_code ignored;
        std::filesystem::remove(*record_, ignored);
    }
}

void ManagedProcess::recordIn(const std::filesystem::path& folder,
                              const std::filesystem::path& executable) {
    try {
        const auto record = ServerRecord::of(pid_, service_, executable);
        if (!record)
            return; // ended already: nothing to leave behind
        PrivateFile::createDirectories(folder);
        const auto file = folder / record->fileName();
        PrivateFile::write(file, record->toJSON().dump());
        record_ = file;
    } catch (...) {
        // An unrecorded server could outlive a killed run: do not keep it.
        signal(SIGKILL);
        waitForExit(std::chrono::seconds(5));
        throw;
    }
}

bool ManagedProcess::reapIfExited() const {
    if (status_)
        return true;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == pid_) {
        status_ = ChildProcess::terminationStatus(status);
        return true;
    }
    if (result < 0) {
        // Not our child any more (someone else reaped it): treat it as gone
        // and never signal that pid again.
        status_ = -1;
        return true;
    }
    return false;
}

bool ManagedProcess::isRunning() const {
    std::lock_guard lock(mutex_);
    return !reapIfExited();
}

int ManagedProcess::terminationStatus() const {
    std::lock_guard lock(mutex_);
    return reapIfExited() ? *status_ : 0;
}

bool ManagedProcess::waitForExit(std::chrono::steady_clock::duration limit) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    while (isRunning()) {
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        // Readable but not yet reapable should not happen; never spin on it.
        if (ChildProcess::waitForExit(exit_, deadline - now) && isRunning())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool ManagedProcess::signal(int signalNumber) {
    // Holding the lock keeps isRunning() from reaping between check and kill.
    std::lock_guard lock(mutex_);
    if (status_)
        return false;
    if (::kill(-pid_, signalNumber) == 0)
        return true;
    // The server may have moved itself to another group; reach it directly.
    return errno == ESRCH && ::kill(pid_, signalNumber) == 0;
}

bool ManagedProcess::terminate() {
    return signal(SIGTERM);
}

} // namespace vessora
