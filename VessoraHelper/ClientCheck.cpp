#include "VessoraHelper/ClientCheck.hpp"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vessora::ClientCheck {
namespace {

class PidDescriptor {
public:
    explicit PidDescriptor(pid_t pid) : fd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
    ~PidDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PidDescriptor(const PidDescriptor&) = delete;
    PidDescriptor& operator=(const PidDescriptor&) = delete;
    bool valid() const { return fd_ >= 0; }
    // A pidfd turns readable when its process has exited.
    bool alive() const {
        pollfd entry{fd_, POLLIN, 0};
        int ready;
        do
            ready = ::poll(&entry, 1, 0);
        while (ready < 0 && errno == EINTR);
        return ready == 0;
    }

private:
    int fd_;
};

std::optional<std::string> linkTarget(const std::string& path) {
    std::string buffer(4096, '\0');
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size())
        return std::nullopt;
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
}

bool inOwnUserNamespace(pid_t pid) {
    struct stat own {};
    struct stat theirs {};
    const std::string path = "/proc/" + std::to_string(pid) + "/ns/user";
    return ::stat("/proc/self/ns/user", &own) == 0 && ::stat(path.c_str(), &theirs) == 0 &&
           own.st_dev == theirs.st_dev && own.st_ino == theirs.st_ino;
}

} // namespace

std::filesystem::path statFile(pid_t pid) {
    const std::string id = std::to_string(pid);
    return "/proc/" + id + "/task/" + id + "/stat";
}

std::unique_ptr<std::istream> openFile(const std::filesystem::path& path) {
    return std::make_unique<std::ifstream>(path);
}

std::optional<std::uint64_t> startTime(pid_t pid, const OpenFile& open) {
    const std::unique_ptr<std::istream> file = open(statFile(pid));
    return startTimeIn(*file);
}

std::optional<std::uint64_t> startTimeIn(std::istream& stat) {
    // One line. Read through the stream, which turns a failed read (ESRCH
    // once the process is gone) into a failed stream: read straight from
    // the buffer, it throws, and a peer that exits at the wrong moment
    // would end the helper.
    std::string text;
    if (!std::getline(stat, text))
        return std::nullopt;
    // The command name may hold blanks and parentheses: count fields after
    // the last ")". Field 3 (state) comes first; the start time is field 22.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::size_t position = close + 1;
    for (int field = 3; field < 22; ++field) {
        position = text.find(' ', position + 1);
        if (position == std::string::npos)
            return std::nullopt;
    }
    ++position;
    std::uint64_t value = 0;
    const auto [end, error] =
        std::from_chars(text.data() + position, text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() + position)
        return std::nullopt;
    return value;
}

std::optional<Peer> peerOf(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials)
        return std::nullopt;
    return Peer{credentials.uid, credentials.pid};
}

bool accepted(const Peer& peer, const std::filesystem::path& program, const OpenFile& open) {
    // pid 0: the peer lives in another pid namespace and cannot be examined.
    if (peer.userID == 0 || peer.pid <= 0)
        return false;
    // Any other program is turned away at once: a refusal needs no pinning,
    // and a flood of other programs costs one readlink a connection.
    const std::string exe = "/proc/" + std::to_string(peer.pid) + "/exe";
    if (linkTarget(exe) != program.string())
        return false;

    const PidDescriptor process(peer.pid);
    if (!process.valid())
        return false;
    const std::optional<std::uint64_t> before = startTime(peer.pid, open);
    if (!before)
        return false;

    // Again, now that the process is pinned.
    if (linkTarget(exe) != program.string())
        return false;
    struct stat running {};
    struct stat installed {};
    if (::stat(exe.c_str(), &running) != 0 || ::stat(program.c_str(), &installed) != 0 ||
        running.st_dev != installed.st_dev || running.st_ino != installed.st_ino ||
        !S_ISREG(running.st_mode) || running.st_uid != 0 || (running.st_mode & 022) != 0)
        return false;
    if (!inOwnUserNamespace(peer.pid))
        return false;

    return process.alive() && startTime(peer.pid, open) == before;
}

std::optional<std::uint32_t> acceptedUser(int fd, const std::filesystem::path& program) {
    const std::optional<Peer> peer = peerOf(fd);
    if (!peer || !accepted(*peer, program))
        return std::nullopt;
    return peer->userID;
}

} // namespace vessora::ClientCheck
