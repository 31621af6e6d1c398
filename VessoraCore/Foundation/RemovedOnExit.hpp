// Removes a file or folder (with everything in it) when the scope ends, on
// every way out; removal errors are ignored.
#pragma once

#include <filesystem>
#include <system_error>
#include <utility>

namespace vessora {

class RemovedOnExit {
public:
    explicit RemovedOnExit(std::filesystem::path path) : path_(std::move(path)) {}
    ~RemovedOnExit() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    RemovedOnExit(const RemovedOnExit&) = delete;
    RemovedOnExit& operator=(const RemovedOnExit&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace vessora
