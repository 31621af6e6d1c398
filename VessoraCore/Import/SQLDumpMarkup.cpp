#include "VessoraCore/Import/SQLDumpMarkup.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <cerrno>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>

namespace vessora::SQLDumpMarkup {

bool opensWithMarkup(int fd) {
    constexpr std::string_view byteOrderMark("\xEF\xBB\xBF");
    char buffer[16384];
    off_t offset = 0;
    for (;;) {
        const ssize_t count = ::pread(fd, buffer, sizeof buffer, offset);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        std::string_view bytes(buffer, std::size_t(count));
        // The buffer holds far more than the mark, so it is never split.
        if (offset == 0 && bytes.starts_with(byteOrderMark))
            bytes.remove_prefix(byteOrderMark.size());
        const std::size_t content = bytes.find_first_not_of(" \t\r\n");
        if (content != std::string_view::npos)
            return bytes[content] == '<';
        offset += count;
    }
}

void check(int fd, const std::filesystem::path& source) {
    if (opensWithMarkup(fd))
        throw VessoraError(L10n::text("The file “%@” is an HTML or XML file, not an SQL dump. "
                                      "Export the database as SQL statements, then choose that "
                                      "file.",
                                      {source.filename().string()}));
}

} // namespace vessora::SQLDumpMarkup
