// A private temporary folder removed with everything in it at the end of a test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace vessora {

class TemporaryFolder {
public:
    // In the system's temporary folder, or in `parent` when one is given.
    explicit TemporaryFolder(const std::string& prefix = "vessora-test",
                             const std::filesystem::path& parent = {});
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Whether both paths exist and lie on different file systems, so that no
// rename reaches one from the other ("/dev/shm" is usually such a place).
inline bool onDifferentFileSystems(const std::filesystem::path& first,
                                   const std::filesystem::path& second) {
    struct stat one {};
    struct stat two {};
    return ::stat(first.c_str(), &one) == 0 && ::stat(second.c_str(), &two) == 0 &&
           one.st_dev != two.st_dev;
}

inline TemporaryFolder::TemporaryFolder(const std::string& prefix,
                                        const std::filesystem::path& parent) {
    const std::filesystem::path in =
        parent.empty() ? std::filesystem::temp_directory_path() : parent;
    std::string pattern = (in / (prefix + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        throw std::runtime_error("Could not create a temporary folder.");
    // Resolved, so paths compare equal to what the code under test resolves.
    path_ = std::filesystem::canonical(buffer.data());
}

inline TemporaryFolder::~TemporaryFolder() {
    std::error_code error;
    // Restore access first: a test may have locked a folder down.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, error);
        }
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(path_, error);
}

} // namespace vessora
