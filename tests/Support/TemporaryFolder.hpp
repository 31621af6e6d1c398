// A private temporary folder removed with everything in it at the end of a test.
#pragma once

#include <filesystem>
#include <string>

namespace vessora {

class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& prefix = "vessora-test");
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace vessora
