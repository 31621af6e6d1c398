#include "VessoraCore/Process/LogText.hpp"

#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <system_error>

namespace vessora::LogText {
namespace {

[[noreturn]] void fail(const char* what, const std::filesystem::path& file) {
    throw std::filesystem::filesystem_error(what, file,
                                            std::error_code(errno, std::generic_category()));
}

std::string readFrom(const std::filesystem::path& file, std::optional<std::size_t> limit,
                     std::uintmax_t from) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        fail("Could not open the command log", file);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        fail("Could not read the command log", file);
    auto size = static_cast<std::uintmax_t>(info.st_size);
    // A log that became shorter than `from` was started anew: all of it counts.
    const std::uintmax_t start = from <= size ? from : 0;
    std::uintmax_t first = limit && size - start > *limit ? size - *limit : start;
    off_t offset = static_cast<off_t>(first);

    std::string bytes;
    char buffer[65536];
    for (;;) {
        if (limit && bytes.size() >= *limit)
            break;
        ssize_t count = ::pread(fd.get(), buffer, sizeof buffer, offset);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            fail("Could not read the command log", file);
        if (count == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(count));
        offset += count;
    }
    // The file may have grown while it was read (a program left running).
    if (limit && bytes.size() > *limit)
        bytes.resize(*limit);
    return bytes;
}

} // namespace

std::string whole(const std::filesystem::path& file, std::uintmax_t from) {
    auto bytes = readFrom(file, std::nullopt, from);
    return UnicodeText::isValidUTF8(bytes) ? bytes : std::string();
}

std::string tail(const std::filesystem::path& file, std::size_t limit, std::uintmax_t from) {
    return replacingInvalidUTF8(readFrom(file, limit, from));
}

std::string replacingInvalidUTF8(std::string_view bytes) {
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    if (std::all_of(bytes.begin(), bytes.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(bytes);
    std::string result;
    result.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            result += bytes[i++];
            continue;
        }
        int needed = 0;
        unsigned char lower = 0x80, upper = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            if (lead == 0xE0)
                lower = 0xA0;
            if (lead == 0xED)
                upper = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            if (lead == 0xF0)
                lower = 0x90;
            if (lead == 0xF4)
                upper = 0x8F;
        } else {
            result += replacement;
            ++i;
            continue;
        }
        std::size_t next = i + 1;
        bool valid = true;
        for (int k = 0; k < needed; ++k, ++next) {
            if (next >= bytes.size()) {
                valid = false;
                break;
            }
            auto byte = static_cast<unsigned char>(bytes[next]);
            if (byte < (k == 0 ? lower : 0x80) || byte > (k == 0 ? upper : 0xBF)) {
                valid = false;
                break;
            }
        }
        if (valid)
            result.append(bytes.substr(i, next - i));
        else
            result += replacement;
        i = next;
    }
    return result;
}

} // namespace vessora::LogText
