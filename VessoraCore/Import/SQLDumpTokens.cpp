#include "VessoraCore/Import/SQLDumpTokens.hpp"

#include "VessoraCore/Process/LogText.hpp"

#include <limits>

namespace vessora::SQLDumpTokens {

namespace {

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool endsWord(char c, bool quotedNames) {
    return isBlank(c) || c == '(' || c == ')' || c == ';' || c == '/' || c == '`' || c == '#' ||
           (quotedNames && c == '"');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// No server runs version 99.99.99: what mariadb-dump writes first, the
// sandbox switch, reaches the server as such a comment once the client has
// taken its "\-" out.
bool neverRun(std::string_view version) {
    return version == "999999";
}

// The tokens of `bytes`; stops once enough are held or a line comment runs
// to the end. An executable comment's content is tokenized on its own and
// appended whole, so a call may return more than enough.
void collect(std::string_view bytes, std::size_t limit, bool quotedNames,
             std::vector<std::string>& out) {
    const std::size_t before = out.size();
    std::size_t i = 0;
    const std::size_t size = bytes.size();
    while (i < size) {
        if (out.size() - before >= limit)
            return;
        const char c = bytes[i];
        if (isBlank(c)) {
            ++i;
            continue;
        }
        if (c == '#' || (c == '-' && opensDashComment(bytes, i))) {
            const std::size_t lineFeed = bytes.find('\n', i);
            if (lineFeed == std::string_view::npos)
                return;
            i = lineFeed + 1;
            continue;
        }
        if (c == '/' && i + 1 < size && bytes[i + 1] == '*') {
            std::size_t contentStart = i + 2;
            bool executable = false;
            if (i + 2 < size && bytes[i + 2] == '!') {
                executable = true;
                contentStart = i + 3;
            } else if (i + 3 < size && bytes[i + 2] == 'M' && bytes[i + 3] == '!') {
                executable = true;
                contentStart = i + 4;
            }
            std::string_view content;
            const std::size_t close = bytes.find("*/", contentStart);
            if (close == std::string_view::npos) {
                // Unterminated: the comment runs to the end, less its last byte.
                const std::size_t end = size - 1;
                content = contentStart < end ? bytes.substr(contentStart, end - contentStart)
                                             : std::string_view();
                i = size;
            } else {
                content = bytes.substr(contentStart, close - contentStart);
                i = close + 2;
            }
            if (executable) {
                std::size_t digits = 0;
                while (digits < content.size() && isDigit(content[digits]))
                    ++digits;
                if (!neverRun(content.substr(0, digits)))
                    collect(content.substr(digits), limit, quotedNames, out);
            }
            continue;
        }
        if (c == '`' || (quotedNames && c == '"')) {
            std::string name;
            std::size_t j = i + 1;
            while (j < size) {
                if (bytes[j] == c) {
                    if (j + 1 < size && bytes[j + 1] == c) {
                        name += c;
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                name += bytes[j++];
            }
            out.push_back(LogText::replacingInvalidUTF8(name));
            i = j;
            continue;
        }
        std::size_t j = i;
        while (j < size && !endsWord(bytes[j], quotedNames) &&
               !(bytes[j] == '-' && opensDashComment(bytes, j)))
            ++j;
        if (j == i)
            ++j; // one of "();/" alone
        out.push_back(LogText::replacingInvalidUTF8(bytes.substr(i, j - i)));
        i = j;
    }
}

} // namespace

std::vector<std::string> tokens(std::string_view bytes, bool quotedNames) {
    return first(bytes, enough, quotedNames);
}

std::vector<std::string> first(std::string_view bytes, std::size_t count, bool quotedNames) {
    std::vector<std::string> out;
    out.reserve(count);
    collect(bytes, count, quotedNames, out);
    return out;
}

std::vector<std::string> all(std::string_view bytes, bool quotedNames) {
    std::vector<std::string> out;
    collect(bytes, std::numeric_limits<std::size_t>::max(), quotedNames, out);
    return out;
}

bool opensDashComment(std::string_view bytes, std::size_t at) {
    if (bytes.substr(at, 2) != "--")
        return false;
    if (at + 2 >= bytes.size())
        return true;
    const auto third = static_cast<unsigned char>(bytes[at + 2]);
    return third <= 0x20 || third == 0x7F;
}

} // namespace vessora::SQLDumpTokens
