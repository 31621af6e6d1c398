#include "VessoraCore/Import/SQLDumpClientText.hpp"

#include <algorithm>
#include <array>

namespace vessora::SQLDumpClientText {

namespace {

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The client compares command names in Latin-1's case- and accent-blind
// order: each byte that sorts as the letter of "delimiter" at its place.
bool matchesName(unsigned char byte, char letter) {
    if ((byte | 0x20) == static_cast<unsigned char>(letter))
        return true;
    switch (letter) {
    case 'd':
        return byte == 0xD0 || byte == 0xF0;
    case 'e':
        return (byte >= 0xC8 && byte <= 0xCB) || (byte >= 0xE8 && byte <= 0xEB);
    case 'i':
        return (byte >= 0xCC && byte <= 0xCF) || (byte >= 0xEC && byte <= 0xEF);
    default:
        return false;
    }
}

} // namespace

std::size_t multibyteLength(std::string_view text) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    if (text.empty())
        return 0;
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead < 0xE0)
        length = 2;
    else if (lead >= 0xE0 && lead < 0xF0)
        length = 3;
    else if (lead >= 0xF0 && lead < 0xF5)
        length = 4;
    if (length == 0 || length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if (!isContinuation(byte(k)))
            return 0;
    }
    if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xF0 && byte(1) < 0x90) ||
        (lead == 0xF4 && byte(1) > 0x8F))
        return 0;
    return length;
}

bool startsWithCommandName(std::string_view text) {
    constexpr std::string_view name = "delimiter";
    if (text.size() < name.size())
        return false;
    for (std::size_t k = 0; k < name.size(); ++k) {
        if (!matchesName(static_cast<unsigned char>(text[k]), name[k]))
            return false;
    }
    return true;
}

Reader::Reader(Start start, std::size_t limit)
    : limit_(limit), executableLine_(start.executableLine), needSpace_(start.space),
      lineHasText_(start.midLine), ansiQuotes_(start.ansiQuotes),
      noBackslashEscapes_(start.noBackslashEscapes) {}

void Reader::add(std::string_view bytes) {
    const std::size_t room = limit_ - std::min(limit_, text_.size() + line_.size());
    line_.append(bytes.substr(0, room));
    if (bytes.size() > room)
        cut_ = true;
}

void Reader::flush() {
    text_ += line_;
    line_.clear();
    lineHasText_ = false;
}

// The client ends a line that holds text with a line feed, unless the
// line's text begins with the DELIMITER command's name; within a block
// comment it adds nothing.
void Reader::endLine() {
    if (!blockComment_ && (lineHasText_ || !startsWithCommandName(line_) || quote_ != 0))
        add("\n");
    flush();
    needSpace_ = false;
    executableLine_ = false;
    skipLine_ = false;
}

namespace {

// Per state of the client, the ASCII bytes that mean nothing to it but
// being text (or skipped, in a block comment).
struct PlainBytes {
    std::array<bool, 256> outside{}, blockComment{}, apostrophe{}, doubleQuote{}, backtick{};
};

constexpr PlainBytes plainBytes = [] {
    PlainBytes plain;
    for (int c = 0; c < 0x80; ++c) {
        if (c == '\n')
            continue;
        plain.blockComment[c] = c != '/' && c != '*';
        const bool quoted = c != '\\';
        plain.apostrophe[c] = quoted && c != '\'';
        plain.doubleQuote[c] = quoted && c != '"';
        plain.backtick[c] = quoted && c != '`';
        plain.outside[c] = quoted && c != '#' && c != '-' && c != '/' && c != '*' && c != '\'' &&
                           c != '"' && c != '`';
    }
    return plain;
}();

} // namespace

// Where the run of bytes from `i` that mean nothing to the client in its
// present state ends.
std::size_t Reader::plainRun(std::string_view bytes, std::size_t i, std::size_t upTo) const {
    const PlainBytes& tables = plainBytes;
    const std::array<bool, 256>& plain = blockComment_   ? tables.blockComment
                                         : quote_ == 0   ? tables.outside
                                         : quote_ == '`' ? tables.backtick
                                         : quote_ == '"' ? tables.doubleQuote
                                                         : tables.apostrophe;
    std::size_t end = i;
    while (end < upTo && plain[static_cast<unsigned char>(bytes[end])])
        ++end;
    return end;
}

// Takes the plain run [i, end) as the byte-by-byte reading would: the
// space a block comment left before its first byte if that is not blank,
// then the bytes up to the one the limit cuts.
void Reader::takeRun(std::string_view bytes, std::size_t& i, std::size_t end) {
    if (blockComment_) {
        i = end;
        return;
    }
    if (needSpace_ && !isBlank(static_cast<unsigned char>(bytes[i])))
        add(" ");
    needSpace_ = false;
    const std::size_t room = limit_ - std::min(limit_, text_.size() + line_.size());
    const std::size_t taken = std::min(end - i, room == std::string::npos ? room : room + 1);
    if (!firstText_) {
        for (std::size_t k = i; k < i + taken; ++k) {
            if (!isBlank(static_cast<unsigned char>(bytes[k]))) {
                firstText_ = consumed_ + k;
                break;
            }
        }
    }
    add(bytes.substr(i, taken));
    i += taken;
}

std::size_t Reader::read(std::string_view bytes, std::size_t upTo) {
    // Within the line: past its end the client reads its terminating NUL.
    const auto at = [&](std::size_t k) -> int {
        if (k >= bytes.size() || bytes[k] == '\n')
            return 0;
        return static_cast<unsigned char>(bytes[k]);
    };
    std::size_t i = 0;
    const auto textAt = [&](std::size_t offset) {
        if (!firstText_)
            firstText_ = consumed_ + offset;
    };
    while (i < upTo && !cut_) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            endLine();
            ++i;
            continue;
        }
        if (skipLine_) {
            const std::size_t lineFeed = bytes.find('\n', i);
            i = std::min(lineFeed == std::string_view::npos ? bytes.size() : lineFeed, upTo);
            continue;
        }
        if (const std::size_t end = plainRun(bytes, i, upTo); end > i) {
            takeRun(bytes, i, end);
            continue;
        }
        if (const std::size_t length =
                multibyteLength(bytes.substr(i, std::min<std::size_t>(4, bytes.size() - i)))) {
            if (!blockComment_) {
                textAt(i);
                add(bytes.substr(i, length));
            }
            i += length;
            continue;
        }
        if (!blockComment_ && c == '\\' && quote_ != '`' && !(quote_ == '"' && ansiQuotes_) &&
            !(quote_ != 0 && noBackslashEscapes_)) {
            if (i + 1 >= bytes.size() || bytes[i + 1] == '\n') { // dropped at the line's end
                skipLine_ = true;
                ++i;
                continue;
            }
            const char next = bytes[i + 1];
            i += 2;
            if (quote_ == 0 && next == '-') { // the sandbox command, run and left out
                flush();
                continue;
            }
            textAt(i - 2);
            add("\\");
            add(std::string_view(&next, 1));
            continue;
        }
        if (!blockComment_ && quote_ == 0 &&
            (c == '#' || (c == '-' && at(i + 1) == '-' && opensDashComment(at(i + 2))))) {
            flush();
            skipLine_ = true;
            ++i;
            continue;
        }
        if (quote_ == 0 && c == '/' && at(i + 1) == '*' &&
            !(at(i + 2) == '!' || (at(i + 2) == 'M' && at(i + 3) == '!'))) {
            blockComment_ = true;
            flush();
            i += 2;
            continue;
        }
        if (blockComment_ && !executableLine_ && c == '*' && at(i + 1) == '/') {
            blockComment_ = false;
            flush();
            needSpace_ = true;
            i += 2;
            continue;
        }
        if (quote_ == 0 && c == '/' && at(i + 1) == '*' && at(i + 2) == '!')
            executableLine_ = true;
        else if (quote_ == 0 && executableLine_ && c == '*' && at(i + 1) == '/')
            executableLine_ = false;
        if (c == static_cast<unsigned char>(quote_))
            quote_ = 0;
        else if (!blockComment_ && quote_ == 0 && (c == '\'' || c == '"' || c == '`'))
            quote_ = static_cast<char>(c);
        if (!blockComment_) {
            if (!isBlank(c))
                textAt(i);
            if (needSpace_ && !isBlank(c))
                add(" ");
            needSpace_ = false;
            const char byte = static_cast<char>(c);
            add(std::string_view(&byte, 1));
        }
        ++i;
    }
    consumed_ += i;
    return i;
}

std::string sent(std::string_view statement, Start start) {
    Reader reader(start, std::string::npos);
    reader.read(statement, statement.size());
    return reader.text();
}

} // namespace vessora::SQLDumpClientText
