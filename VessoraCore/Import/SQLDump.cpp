#include "VessoraCore/Import/SQLDump.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/SQLDumpFileSink.hpp"
#include "VessoraCore/Import/SQLDumpMarkup.hpp"
#include "VessoraCore/Import/SQLDumpScanner.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

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

// A compressed archive or other binary file named .sql: its first bytes
// carry a compressor's magic number or a NUL byte, which no SQL text
// written by a dump tool begins with.
bool looksBinary(int fd) {
    char start[8192];
    ssize_t count;
    do
        count = ::pread(fd, start, sizeof start, 0);
    while (count < 0 && errno == EINTR);
    if (count <= 0)
        return false;
    const std::string_view bytes(start, std::size_t(count));
    for (const std::string_view magic :
         {std::string_view("\x1f\x8b"), std::string_view("PK\x03\x04"), std::string_view("BZh"),
          std::string_view("\xfd"
                           "7zXZ\0",
                           6),
          std::string_view("\x28\xb5\x2f\xfd"), std::string_view("7z\xbc\xaf\x27\x1c")})
        if (bytes.starts_with(magic))
            return true;
    return bytes.find('\0') != std::string_view::npos;
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
    if (looksBinary(fd.get()))
        throw VessoraError(L10n::text(
            "The SQL file “%@” is not plain SQL text: it looks compressed or binary. Choose an "
            "uncompressed .sql file.",
            {source.filename().string()}));
    SQLDumpMarkup::check(fd.get(), source);
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

// The 1-based line of the byte at `offset`, read again from the dump.
std::uint64_t lineAt(int fd, std::uint64_t offset) {
    std::uint64_t line = 1;
    std::vector<char> buffer(std::size_t(1) << 20);
    std::uint64_t at = 0;
    while (at < offset) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(buffer.size(), offset - at));
        const ssize_t count = ::pread(fd, buffer.data(), want, off_t(at));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        line += std::uint64_t(std::count(buffer.data(), buffer.data() + count, '\n'));
        at += std::uint64_t(count);
    }
    return line;
}

} // namespace

Summary prepare(const fs::path& source, const fs::path& destination, std::string_view database,
                SQLDumpSqlMode::Release release) {
    DatabaseName::validate(database);
    const UniqueFd input = openDump(source);
    SQLDumpFileSink output(createOutput(destination), destination);
    FileSource reader(input.get(), source);
    Summary summary;
    try {
        summary = SQLDumpScanner::scan(reader, output, database, SQLDumpScanner::defaultWindow, {},
                                       release);
    } catch (const SQLDumpScanner::UnendedSelection& unended) {
        throw VessoraError(L10n::text(
            "The statement on line %@ of the SQL file selects a database but does not end after "
            "its name, so the statements after it would be lost. Add the missing semicolon, or "
            "export the dump again.",
            {std::to_string(lineAt(input.get(), unended.offset))}));
    } catch (const SQLDumpScanner::SelectionWithin& within) {
        throw VessoraError(L10n::text(
            "Line %@ of the SQL file holds, after a semicolon within a statement, a statement "
            "that selects, creates or alters a database, which the server would run as it "
            "stands. Give it a delimiter of its own, or export the dump again.",
            {std::to_string(lineAt(input.get(), within.offset))}));
    } catch (const SQLDumpScanner::AmbiguousQuote& quote) {
        throw VessoraError(L10n::text(
            "Line %@ of the SQL file escapes a double quote with a backslash inside double quotes, "
            "which the client reads differently if the statement on line %@ turned on the "
            "ANSI_QUOTES mode, as it may: it sets the sql_mode to a value or runs code that "
            "cannot be known before it runs. Double that quote, or set the sql_mode to a plain "
            "value after that statement.",
            {std::to_string(lineAt(input.get(), quote.offset)),
             std::to_string(lineAt(input.get(), quote.since))}));
    } catch (const SQLDumpScanner::EscapedLineEnd& lineEnd) {
        throw VessoraError(L10n::text(
            "Line %@ of the SQL file ends with a backslash inside a quoted value, which the "
            "client reads wrongly: it loses the first character of the next line. Write that "
            "line break as \\n, or export the dump again.",
            {std::to_string(lineAt(input.get(), lineEnd.offset))}));
    } catch (const SQLDumpScanner::AmbiguousEscape& escape) {
        throw VessoraError(L10n::text(
            "Line %@ of the SQL file escapes a quote with a backslash inside a quoted value, "
            "which the client reads differently if the statement on line %@ turned on the "
            "NO_BACKSLASH_ESCAPES mode, as it may: it sets the sql_mode to a value or runs code "
            "that cannot be known before it runs. Double that quote, or set the sql_mode to a "
            "plain value after that statement.",
            {std::to_string(lineAt(input.get(), escape.offset)),
             std::to_string(lineAt(input.get(), escape.since))}));
    } catch (const SQLDumpScanner::MultibyteTrail& trail) {
        throw VessoraError(L10n::text(
            "Line %@ of the SQL file holds, in the multibyte character set the dump chose for the "
            "server, a character that ends in a backslash or backtick, which the client reads on "
            "its own. Export the dump in UTF-8 (utf8mb4), or export it again.",
            {std::to_string(lineAt(input.get(), trail.offset))}));
    } catch (const SQLDumpScanner::ModeWithin& within) {
        throw VessoraError(L10n::text(
            "Line %@ of the SQL file changes the sql_mode within a statement that goes on after a "
            "semicolon, and the server would read line %@ with the new mode, unlike the client. "
            "End that statement right after the change, or export the dump again.",
            {std::to_string(lineAt(input.get(), within.offset)),
             std::to_string(lineAt(input.get(), within.piece))}));
    } catch (const SQLDumpScanner::CharsetCommand& command) {
        throw VessoraError(L10n::text(
            "Line %@ of the SQL file holds the client command “\\C”, which would change how the "
            "client reads the rest of the file. Remove that command, or export the dump again.",
            {std::to_string(lineAt(input.get(), command.offset))}));
    }
    output.close();
    return summary;
}

} // namespace vessora::SQLDump
