#include "VessoraHelper/ListenSocket.hpp"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace vessora::ListenSocket {
namespace {

constexpr int firstPassedDescriptor = 3;

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::optional<long> number(const char* text) {
    if (!text)
        return std::nullopt;
    const std::string_view view(text);
    long value = 0;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (error != std::errc() || end != view.data() + view.size())
        return std::nullopt;
    return value;
}

int socketOption(int fd, int option) {
    int value = -1;
    socklen_t length = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, option, &value, &length) != 0)
        return -1;
    return value;
}

void makeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        throwErrno("fcntl");
}

} // namespace

std::optional<HostServiceWire::Socket> activated() {
    const std::optional<long> pid = number(std::getenv("LISTEN_PID"));
    const std::optional<long> count = number(std::getenv("LISTEN_FDS"));
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (!pid || *pid != static_cast<long>(::getpid()))
        return std::nullopt;
    if (count != 1)
        throw std::runtime_error("socket activation must pass exactly one socket");
    const int fd = firstPassedDescriptor;
    if (socketOption(fd, SO_DOMAIN) != AF_UNIX || socketOption(fd, SO_TYPE) != SOCK_SEQPACKET ||
        socketOption(fd, SO_ACCEPTCONN) != 1)
        throw std::runtime_error(
            "the passed socket is not a listening Unix sequential-packet socket");
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0)
        throwErrno("fcntl");
    HostServiceWire::Socket socket(fd);
    makeNonBlocking(socket.fd());
    // Listening again only changes the backlog.
    if (::listen(socket.fd(), backlog) != 0)
        throwErrno("listen");
    return socket;
}

HostServiceWire::Socket bound(const std::filesystem::path& path, uid_t folderOwner) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.empty() || text.size() >= sizeof address.sun_path)
        throw std::system_error(ENAMETOOLONG, std::generic_category(), text);
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);

    const std::filesystem::path folder = path.parent_path();
    if (::mkdir(folder.c_str(), 0755) == 0) {
        if (::chmod(folder.c_str(), 0755) != 0) // whatever the umask: clients must reach it
            throwErrno("chmod " + folder.string());
    } else if (errno != EEXIST) {
        throwErrno("mkdir " + folder.string());
    }
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0)
        throwErrno("lstat " + folder.string());
    if (!S_ISDIR(status.st_mode) || status.st_uid != folderOwner || (status.st_mode & 022) != 0)
        throw std::runtime_error("unsafe folder for the host service socket: " + folder.string());

    struct stat existing {};
    if (::lstat(text.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode))
            throw std::runtime_error("not a socket: " + text);
        if (::unlink(text.c_str()) != 0)
            throwErrno("unlink " + text);
    }
    HostServiceWire::Socket socket(
        ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket)
        throwErrno("socket");
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throwErrno("bind " + text);
    // Every user may connect; the helper decides whom it answers.
    if (::chmod(text.c_str(), 0666) != 0)
        throwErrno("chmod " + text);
    if (::listen(socket.fd(), backlog) != 0)
        throwErrno("listen " + text);
    return socket;
}

} // namespace vessora::ListenSocket
