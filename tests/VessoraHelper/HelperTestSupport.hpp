// Small helpers for the helper's tests: a private temporary folder, whole-file
// reads and writes, and a hosts location in such a folder owned by the
// running user.
#pragma once

#include "VessoraHelper/HostsFile.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vessora::helpertest {

using vessora::TemporaryFolder;

inline void writeFile(const std::filesystem::path& path, const std::string& bytes,
                      mode_t mode = 0644) {
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << bytes;
        if (!file)
            throw std::runtime_error("cannot write " + path.string());
    }
    ::chmod(path.c_str(), mode);
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Names in `folder` that begin with `prefix`.
inline std::vector<std::string> namesStartingWith(const std::filesystem::path& folder,
                                                  const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix))
            found.push_back(name);
    }
    return found;
}

inline HostsFile::Location ownLocation(const std::filesystem::path& folder) {
    HostsFile::Location location;
    location.folder = folder;
    location.owner = ::geteuid();
    return location;
}

// A loopback TCP listener on a free port, closed on destruction.
class PortHolder {
public:
    PortHolder() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::system_error(errno, std::generic_category(), "test listener");
        port_ = ntohs(address.sin_port);
    }
    ~PortHolder() { ::close(fd_); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    std::uint16_t port() const { return port_; }
    int fd() const { return fd_; }

private:
    int fd_;
    std::uint16_t port_ = 0;
};

// A port nobody listens on right now.
inline std::uint16_t freePort() {
    return PortHolder().port();
}

// True when something accepts connections on 127.0.0.1:port.
inline bool listening(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

inline constexpr const char* baseHosts = "127.0.0.1\tlocalhost\n::1\tlocalhost\n";

} // namespace vessora::helpertest
