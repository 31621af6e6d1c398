// Answers of version questions to installed programs, kept per program file
// for as long as that file is unchanged: the same path, device, inode, size,
// modification and change time. Any replacement, rewrite or new link target
// asks again. Only answers with status 0 are kept. Any thread may use it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vessora {

class VersionProbes {
public:
    // The output of `program arguments` (60 s limit); a non-zero status
    // throws the runner's failure message naming the program.
    std::string output(const std::filesystem::path& program,
                       const std::vector<std::string>& arguments);

private:
    struct Identity {
        std::uintmax_t device = 0;
        std::uintmax_t inode = 0;
        std::intmax_t size = 0;
        std::intmax_t modified = 0; // nanoseconds
        std::intmax_t changed = 0;  // nanoseconds
        bool operator==(const Identity&) const = default;
    };
    struct Answer {
        Identity identity;
        std::string output;
    };
    // False when the file cannot be examined.
    static bool identify(const std::filesystem::path& program, Identity& identity);

    std::mutex mutex_;
    std::map<std::vector<std::string>, Answer> answers_;
};

} // namespace vessora
