#include "VessoraCore/Import/SQLDump.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/SQLDumpFileSink.hpp"
#include "VessoraCore/Import/SQLDumpScanner.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vessora::SQLDump {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

[[noreturn]] void refuseFile() {
    throw VessoraError(L10n::text("Choose a nonempty, uncompressed .sql file of up to 512 MB."));
}

bool hasSQLExtension(const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return extension == ".sql";
}

// The file was chosen in the wizard some time before the import reads it:
// gone or closed to us by then is the user's to fix, in the user's words.
[[noreturn]] void failOpening(const fs::path& source, int error) {
    if (error == ENOENT || error == ENOTDIR || error == EACCES || error == EPERM || error == ELOOP)
        throw VessoraError(
            L10n::text("The SQL file “%@” is missing or cannot be read. Choose an existing, "
                       "readable file.",
                       {source.filename().string()}));
    fail("Could not open file", source, error);
}

// Opens the dump without following it into a FIFO's wait and checks its
// kind and size on the opened file itself.
UniqueFd openDump(const fs::path& source) {
    UniqueFd fd(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        failOpening(source, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        fail("Could not read file attributes", source, errno);
    if (!hasSQLExtension(source) || !S_ISREG(info.st_mode) || info.st_size < 1 ||
        std::uint64_t(info.st_size) > largestFile)
        refuseFile();
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

UniqueFd createOutput(const fs::path& destination) {
    if (::unlink(destination.c_str()) != 0 && errno != ENOENT)
        throw VessoraError(L10n::text("Could not prepare private command input."));
    UniqueFd fd(
        ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd || ::fchmod(fd.get(), 0600) != 0)
        throw VessoraError(L10n::text("Could not prepare private command input."));
    return fd;
}

class FileSource final : public SQLDumpScanner::Source {
public:
    FileSource(int fd, const fs::path& path) : fd_(fd), path_(path) {}

    std::size_t read(char* into, std::size_t capacity) override {
        for (;;) {
            const ssize_t count = ::read(fd_, into, capacity);
            if (count < 0) {
                if (errno == EINTR)
                    continue;
                fail("Could not read file", path_, errno);
            }
            total_ += std::uint64_t(count);
            if (total_ > largestFile)
                refuseFile();
            return std::size_t(count);
        }
    }

private:
    int fd_;
    const fs::path& path_;
    std::uint64_t total_ = 0;
};

} // namespace

Summary prepare(const fs::path& source, const fs::path& destination, std::string_view database) {
    DatabaseName::validate(database);
    const UniqueFd input = openDump(source);
    SQLDumpFileSink output(createOutput(destination), destination);
    FileSource reader(input.get(), source);
    const Summary summary = SQLDumpScanner::scan(reader, output, database);
    output.close();
    return summary;
}

} // namespace vessora::SQLDump
