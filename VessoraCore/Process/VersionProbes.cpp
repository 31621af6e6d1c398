#include "VessoraCore/Process/VersionProbes.hpp"

#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <sys/stat.h>

namespace vessora {

namespace {

std::intmax_t nanoseconds(const timespec& time) {
    return static_cast<std::intmax_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

bool VersionProbes::identify(const std::filesystem::path& program, Identity& identity) {
    struct stat status {};
    if (::stat(program.c_str(), &status) != 0)
        return false;
    identity = {static_cast<std::uintmax_t>(status.st_dev),
                static_cast<std::uintmax_t>(status.st_ino), status.st_size,
                nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)};
    return true;
}

std::string VersionProbes::output(const std::filesystem::path& program,
                                  const std::vector<std::string>& arguments) {
    std::vector<std::string> key{program.string()};
    key.insert(key.end(), arguments.begin(), arguments.end());
    Identity before;
    // A file that cannot be examined is never answered from memory; the
    // runner reports why it cannot run.
    const bool known = identify(program, before);
    if (known) {
        std::lock_guard lock(mutex_);
        const auto entry = answers_.find(key);
        if (entry != answers_.end() && entry->second.identity == before)
            return entry->second.output;
    }
    const CommandResult result = Command::run(program, arguments, {.timeout = 60});
    if (result.status != 0)
        throw VessoraError(result.failureMessage(program.filename().string()));
    Identity after;
    // Kept only when the file did not change while it answered.
    if (known && identify(program, after) && after == before) {
        std::lock_guard lock(mutex_);
        answers_[key] = {before, result.output};
    }
    return result.output;
}

} // namespace vessora
