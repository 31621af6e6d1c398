#include "tests/Support/SQLDumpReference.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/SQLDumpDefiner.hpp"
#include "VessoraCore/Import/SQLDumpSqlMode.hpp"
#include "VessoraCore/Import/SQLDumpStatement.hpp"
#include "VessoraCore/Import/SQLDumpTokens.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include <unicode/uchar.h>

namespace vessora::SQLDumpTesting {

std::size_t PieceSource::read(char* into, std::size_t capacity) {
    std::size_t count = std::min(capacity, data_.size() - offset_);
    if (!pieces_.empty() && count > 0)
        count = std::min(count, std::max<std::size_t>(1, pieces_[next_++ % pieces_.size()]));
    std::memcpy(into, data_.data() + offset_, count);
    offset_ += count;
    return count;
}

void StringSink::overwrite(std::uint64_t offset, std::string_view bytes) {
    if (offset + bytes.size() > bytes_.size())
        throw std::logic_error("overwrite beyond the written bytes");
    bytes_.replace(offset, bytes.size(), bytes);
}

void StringSink::truncate(std::uint64_t size) {
    if (size > bytes_.size())
        throw std::logic_error("truncate beyond the written bytes");
    bytes_.resize(size);
}

namespace {

// The text of a refusal both readings give alike, from within a catch; any
// other exception goes on.
std::string refusal() {
    try {
        throw;
    } catch (const VessoraError& error) {
        return error.what();
    } catch (const SQLDumpScanner::CharsetCommand& command) {
        return "charset command at byte " + std::to_string(command.offset);
    } catch (const SQLDumpScanner::SelectionWithin& within) {
        return "selection within at byte " + std::to_string(within.offset);
    } catch (const SQLDumpScanner::AmbiguousQuote& quote) {
        return "ambiguous quote at byte " + std::to_string(quote.offset) + " since " +
               std::to_string(quote.since);
    } catch (const SQLDumpScanner::EscapedLineEnd& lineEnd) {
        return "escaped line end at byte " + std::to_string(lineEnd.offset);
    } catch (const SQLDumpScanner::AmbiguousEscape& escape) {
        return "ambiguous escape at byte " + std::to_string(escape.offset) + " since " +
               std::to_string(escape.since);
    } catch (const SQLDumpScanner::MultibyteTrail& trail) {
        return "multibyte trail at byte " + std::to_string(trail.offset);
    } catch (const SQLDumpScanner::ModeWithin& within) {
        return "mode within at byte " + std::to_string(within.offset) + " read apart at " +
               std::to_string(within.piece);
    }
}

} // namespace

Prepared scanned(std::string_view dump, std::string_view database, std::size_t window,
                 std::vector<std::size_t> pieces) {
    Prepared result;
    PieceSource source(dump, std::move(pieces));
    StringSink sink;
    const SQLDumpScanner::Observer observer = [&result](std::string_view sent) {
        result.statements.emplace_back(sent);
    };
    try {
        result.summary = SQLDumpScanner::scan(source, sink, database, window, observer);
    } catch (const SQLDumpScanner::UnendedSelection& unended) {
        result.error = "unended selection at byte " + std::to_string(unended.offset);
    } catch (...) {
        result.error = refusal();
    }
    result.output = sink.bytes();
    return result;
}

namespace {

constexpr std::uint64_t limit = SQLDumpScanner::statementLimit;

bool blank(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The client's DELIMITER command, read here on its own: the client keeps
// 255 bytes of the command's line (or of the statement that is one), and
// compares the name in Latin-1's case- and accent-blind order.
constexpr std::size_t commandKept = 255;

bool nameByte(unsigned char byte, char letter) {
    if (byte == static_cast<unsigned char>(letter) ||
        byte == static_cast<unsigned char>(letter - 32))
        return true;
    if (letter == 'd')
        return byte == 0xD0 || byte == 0xF0;
    if (letter == 'e')
        return (byte & 0xDF) >= 0xC8 && (byte & 0xDF) <= 0xCB;
    if (letter == 'i')
        return (byte & 0xDF) >= 0xCC && (byte & 0xDF) <= 0xCF;
    return false;
}

bool beginsWithName(std::string_view text) {
    const std::string_view name = "delimiter";
    if (text.size() < name.size())
        return false;
    for (std::size_t k = 0; k < name.size(); ++k) {
        if (!nameByte(static_cast<unsigned char>(text[k]), name[k]))
            return false;
    }
    return true;
}

bool namesCommand(std::string_view text) {
    std::size_t k = 0;
    while (k < text.size() && blank(static_cast<unsigned char>(text[k])))
        ++k;
    return beginsWithName(text.substr(k));
}

// The code points of `text`, or nothing when it is not well-formed UTF-8.
std::optional<std::vector<UChar32>> codePoints(std::string_view text) {
    std::vector<UChar32> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        if (length == 0 || i + length > text.size())
            return std::nullopt;
        UChar32 c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (next & 0x3F);
        }
        const UChar32 least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
        out.push_back(c);
        i += length;
    }
    return out;
}

[[noreturn]] void unsupportedDelimiter() {
    throw VessoraError(L10n::text("The dump uses an unsupported SQL delimiter."));
}

// The delimiter a command sets, in the only form preparation takes: the
// plain name, blanks, 1 to 16 bytes that hold no letter, number, blank,
// control, quote or backslash and begin with an ASCII byte, then blanks. On
// a line a last carriage return belongs to it; in a statement's text a
// space must end it.
std::string commandDelimiter(std::string_view text, bool line) {
    if (text.size() > commandKept)
        unsupportedDelimiter();
    std::size_t k = 0;
    while (k < text.size() && blank(static_cast<unsigned char>(text[k])))
        ++k;
    const std::string_view name = "delimiter";
    for (char letter : name) {
        if (k >= text.size() || (text[k] != letter && text[k] != letter - 32))
            unsupportedDelimiter();
        ++k;
    }
    if (k < text.size() && !blank(static_cast<unsigned char>(text[k])))
        unsupportedDelimiter();
    while (k < text.size() && blank(static_cast<unsigned char>(text[k])))
        ++k;
    std::size_t end = k;
    while (end < text.size() && text[end] != ' ')
        ++end;
    for (std::size_t rest = end; rest < text.size(); ++rest) {
        if (!blank(static_cast<unsigned char>(text[rest])))
            unsupportedDelimiter();
    }
    if (!line && end == text.size())
        unsupportedDelimiter();
    const std::string delimiter(text.substr(k, end - k));
    std::string_view checked = delimiter;
    if (line && end == text.size() && checked.size() >= 2 && checked.back() == '\r')
        checked.remove_suffix(1);
    const std::optional<std::vector<UChar32>> characters = codePoints(checked);
    if (!characters || characters->empty() || characters->front() >= 0x80 || delimiter.size() > 16)
        unsupportedDelimiter();
    for (const UChar32 c : *characters) {
        if (u_hasBinaryProperty(c, UCHAR_ALPHABETIC) ||
            u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE ||
            u_hasBinaryProperty(c, UCHAR_WHITE_SPACE) || u_iscntrl(c) || c == '\'' || c == '"' ||
            c == '`' || c == '\\')
            unsupportedDelimiter();
    }
    return delimiter;
}
// The session's sql_mode flags, followed by the production reading
// (SQLDumpSqlMode, tested against the server on its own), with where they
// went unknown and where a text began to be read apart.
class ModeReading {
public:
    struct Pair {
        int ansi = 0;
        int noEscapes = 0;
        int multibyte = 0;
    };

    Pair now() const {
        const SQLDumpSqlMode::Flags flags = mode_.reading();
        return {static_cast<int>(flags.ansiQuotes), static_cast<int>(flags.noBackslashEscapes),
                static_cast<int>(flags.multibyte)};
    }
    std::size_t quotesSince() const { return quotesSince_; }
    std::size_t escapesSince() const { return escapesSince_; }

    void statement(const std::string& text, bool cut, std::size_t at) {
        const SQLDumpSqlMode::Flags before = mode_.flags();
        mode_.ran(text, cut);
        note(before, at);
        apart_.reset();
    }

    void first(const std::string& text, bool cut, std::size_t at) {
        const SQLDumpSqlMode::Flags before = mode_.flags();
        mode_.firstWithin(text, cut);
        note(before, at);
    }

    void within(const std::string& text, bool cut, std::size_t at) {
        const SQLDumpSqlMode::Flags before = mode_.flags();
        try {
            mode_.ranWithin(text, cut);
        } catch (const SQLDumpSqlMode::ReadApart&) {
            throw SQLDumpScanner::ModeWithin{apart_.value_or(at), at};
        }
        note(before, at);
    }

private:
    void note(SQLDumpSqlMode::Flags before, std::size_t at) {
        using Flag = SQLDumpSqlMode::Flag;
        const SQLDumpSqlMode::Flags now = mode_.flags();
        if (now.ansiQuotes == Flag::unknown && before.ansiQuotes != Flag::unknown)
            quotesSince_ = at;
        if (now.noBackslashEscapes == Flag::unknown && before.noBackslashEscapes != Flag::unknown)
            escapesSince_ = at;
        if (mode_.readsApart() && !apart_)
            apart_ = at;
    }

    SQLDumpSqlMode mode_;
    std::size_t quotesSince_ = 0;
    std::size_t escapesSince_ = 0;
    std::optional<std::size_t> apart_;
};

// The client's reading of a dump, line by line as it reads its input: a
// dropped comment line or a DELIMITER command line while nothing is
// pending, else the line's bytes one by one into the statement buffer.
class Reference {
public:
    Reference(std::string_view dump, std::string_view database)
        : dump_(dump), database_(database) {}

    Prepared run() {
        Prepared result;
        try {
            split();
        } catch (const SQLDumpStatement::RunsOn&) {
            result.error = "unended selection at byte " + std::to_string(significant_);
        } catch (...) {
            result.error = refusal();
        }
        result.output = out_;
        result.summary = summary_;
        result.statements = statements_;
        return result;
    }

private:
    int at(std::size_t i) const {
        return i < dump_.size() ? static_cast<unsigned char>(dump_[i]) : -1;
    }
    // Within the line that ends at lineEnd_: the client's NUL past its end.
    int inLine(std::size_t i) const { return i < lineEnd_ ? at(i) : 0; }

    std::size_t utf8Length(std::size_t i) const {
        const int lead = inLine(i);
        const std::size_t length = lead >= 0xF0 && lead < 0xF5   ? 4
                                   : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xC2 && lead < 0xE0 ? 2
                                                                 : 0;
        if (length == 0)
            return 0;
        for (std::size_t k = 1; k < length; ++k) {
            if ((inLine(i + k) & 0xC0) != 0x80)
                return 0;
        }
        const int second = inLine(i + 1);
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xF0 && second < 0x90) ||
            (lead == 0xF4 && second > 0x8F))
            return 0;
        return length;
    }

    void checkLimit(std::size_t i) const {
        if (i > start_ && i - start_ > limit)
            throw VessoraError(
                L10n::text("A SQL statement exceeds 64 MB. Export smaller INSERT batches."));
    }

    // Adds the bytes at `i` (their raw offset) to the statement's text; an
    // ordinary byte after a block comment gets a space before it.
    void add(std::size_t i, std::string_view bytes, bool ordinary) {
        if (!pending_) {
            pending_ = true;
            significant_ = i;
        }
        if (within_ && !within_->first && !blank(static_cast<unsigned char>(bytes.front())))
            within_->first = i;
        if (ordinary) {
            if (needSpace_ && !blank(static_cast<unsigned char>(bytes.front())))
                line_ += ' ';
            needSpace_ = false;
        }
        line_ += bytes;
    }

    void flush() {
        text_ += line_;
        line_.clear();
    }

    void endLine() {
        if (!pending_)
            return;
        if (!block_ && (!beginsWithName(line_) || quote_ != 0))
            line_ += '\n';
        flush();
    }

    void beginStatement(std::size_t at) {
        start_ = at;
        pending_ = false;
        text_.clear();
        line_.clear();
        within_.reset();
    }

    // The text from after the last ";" within the statement that is not
    // the delimiter up to `end`: a statement the server runs on its own.
    void checkWithin(std::size_t end) {
        if (!within_)
            return;
        const std::string text = text_ + line_;
        const std::string after = text.substr(within_->text, end - within_->text);
        try {
            SQLDumpStatement::checkWithin(after.substr(0, SQLDumpStatement::headLimit),
                                          after.size() > SQLDumpStatement::headLimit,
                                          mode_.now().ansi != 0);
        } catch (const SQLDumpStatement::SelectsWithin&) {
            throw SQLDumpScanner::SelectionWithin{within_->first.value_or(within_->offset)};
        }
        mode_.within(after.substr(0, SQLDumpStatement::headLimit),
                     after.size() > SQLDumpStatement::headLimit,
                     within_->first.value_or(within_->offset));
        within_.reset();
    }

    void statement(std::size_t to) {
        flush();
        checkWithin(text_.size());
        if (!pending_) {
            out_ += dump_.substr(start_, to - start_);
            return;
        }
        if (mode_.now().multibyte != 0) {
            const std::size_t at = SQLDumpSqlMode::trailApart(
                dump_.substr(start_, to - start_),
                start_ > 0 ? static_cast<unsigned char>(dump_[start_ - 1]) : 0);
            if (at != std::string_view::npos)
                throw SQLDumpScanner::MultibyteTrail{start_ + at};
        }
        // Only the text's first bytes are examined.
        const bool cut = text_.size() > SQLDumpStatement::headLimit;
        const std::string examined = text_.substr(0, SQLDumpStatement::headLimit);
        statements_.push_back(examined);
        const std::optional<std::string> replacement =
            SQLDumpStatement::adapt(examined, cut, summary_, database_, mode_.now().ansi != 0);
        mode_.statement(examined, cut, significant_);
        if (replacement) {
            out_ += *replacement;
            return;
        }
        std::string bytes(dump_.substr(start_, to - start_));
        const std::size_t head = significant_ - start_;
        if (const auto span = SQLDumpDefiner::find(std::string_view(bytes).substr(head, 4096)))
            SQLDumpDefiner::blank(bytes.data() + head + span->begin, span->end - span->begin);
        out_ += bytes;
    }

    void delimiterFound(std::size_t i) {
        flush();
        const std::size_t next = i + delimiter_.size();
        if (pending_ && namesCommand(text_)) {
            within_.reset();
            std::string delimiter = commandDelimiter(text_, false);
            out_ += dump_.substr(start_, next - start_);
            delimiter_ = std::move(delimiter);
        } else {
            statement(i);
            out_ += delimiter_;
        }
        beginStatement(next);
    }

    // A line met while nothing is pending: dropped, a DELIMITER command, or
    // neither.
    bool wholeLine(std::size_t b) {
        if (pending_ || quote_ != 0 || block_)
            return false;
        const int c = inLine(b);
        if (b < lineEnd_ && (c == '#' || c == 0 || (c == '-' && inLine(b + 1) == '-')))
            return true;
        const std::string_view line = dump_.substr(b, lineEnd_ - b);
        if (!namesCommand(line))
            return false;
        delimiter_ = commandDelimiter(line, true);
        const std::size_t next = lineEnd_ < dump_.size() ? lineEnd_ + 1 : lineEnd_;
        out_ += dump_.substr(start_, next - start_);
        beginStatement(next);
        return true;
    }

    void line(std::size_t b) {
        executableLine_ = false;
        needSpace_ = false;
        if (wholeLine(b))
            return;
        std::size_t i = b;
        while (i < lineEnd_) {
            checkLimit(i);
            const int c = inLine(i);
            if (!pending_ && quote_ == 0 && !block_ && blank(c)) {
                ++i;
                continue;
            }
            if (const std::size_t length = utf8Length(i)) {
                if (!block_)
                    add(i, dump_.substr(i, length), false);
                i += length;
                continue;
            }
            const int next = inLine(i + 1);
            // By the flags in force: an ordinary byte, an escape, or either.
            const ModeReading::Pair flags = mode_.now();
            const bool ordinary = quote_ == '`' || (quote_ == '"' && flags.ansi == 1) ||
                                  (quote_ != 0 && flags.noEscapes == 1);
            if (!block_ && c == '\\' && !ordinary) {
                if (i + 1 >= lineEnd_) {
                    // In a quote the client sends a NUL byte for the line
                    // feed and overwrites the next line's first byte.
                    if (quote_ != 0 && lineEnd_ < dump_.size())
                        throw SQLDumpScanner::EscapedLineEnd{i};
                    break;
                }
                if (next == 'C' && quote_ == 0)
                    throw SQLDumpScanner::CharsetCommand{i};
                if (quote_ == '"' && next == '"' && flags.ansi == 2)
                    throw SQLDumpScanner::AmbiguousQuote{i, mode_.quotesSince()};
                if (quote_ != 0 && next == quote_ && flags.noEscapes == 2)
                    throw SQLDumpScanner::AmbiguousEscape{i, mode_.escapesSince()};
                if (next == '-' && quote_ == 0) {
                    flush();
                } else {
                    add(i, "\\", false);
                    add(i + 1, dump_.substr(i + 1, 1), false);
                }
                i += 2;
                continue;
            }
            if (!block_ && quote_ == 0 && dump_.substr(i).starts_with(delimiter_)) {
                delimiterFound(i);
                i = start_;
                continue;
            }
            if (!block_ && quote_ == 0 &&
                (c == '#' || (c == '-' && next == '-' &&
                              (!pending_ || inLine(i + 2) == 0 || blank(inLine(i + 2)))))) {
                flush();
                break;
            }
            const bool executableOpener =
                c == '/' && next == '*' &&
                (inLine(i + 2) == '!' || (inLine(i + 2) == 'M' && inLine(i + 3) == '!'));
            if (quote_ == 0 && c == '/' && next == '*' && !executableOpener) {
                block_ = true;
                flush();
                i += 2;
                continue;
            }
            if (block_ && !executableLine_ && c == '*' && next == '/') {
                block_ = false;
                flush();
                needSpace_ = true;
                i += 2;
                continue;
            }
            if (quote_ == 0 && executableOpener && inLine(i + 2) == '!')
                executableLine_ = true;
            else if (quote_ == 0 && executableLine_ && c == '*' && next == '/')
                executableLine_ = false;
            // Where the server's executable comments open and close.
            if (quote_ == 0 && !block_) {
                if (executableOpener)
                    executable_ = true;
                else if (c == '*' && next == '/')
                    executable_ = false;
            }
            if (c == quote_)
                quote_ = 0;
            else if (!block_ && quote_ == 0 && (c == '\'' || c == '"' || c == '`'))
                quote_ = static_cast<char>(c);
            if (!block_)
                add(i, dump_.substr(i, 1), true);
            if (!block_ && quote_ == 0 && c == ';') {
                if (!within_ && pending_) {
                    const std::string text = text_ + line_;
                    const std::size_t size = text.size() - 1;
                    mode_.first(text.substr(0, std::min(size, SQLDumpStatement::headLimit)),
                                size > SQLDumpStatement::headLimit, significant_);
                }
                checkWithin((text_ + line_).size() - 1);
                within_ = Within{(text_ + line_).size(), i + 1, std::nullopt};
            }
            ++i;
        }
        if (lineEnd_ < dump_.size())
            endLine();
    }

    void split() {
        constexpr std::string_view mark = "\xEF\xBB\xBF";
        std::size_t position = dump_.starts_with(mark) ? 3 : 0;
        // The client drops a mark that begins what it reads: a second one.
        if (position == 3 && dump_.substr(3).starts_with(mark)) {
            out_ += mark;
            position = 6;
        }
        beginStatement(position);
        while (position < dump_.size()) {
            lineEnd_ = std::min(dump_.find('\n', position), dump_.size());
            line(position);
            checkLimit(std::min(lineEnd_, dump_.size()));
            position = lineEnd_ + 1;
        }
        if (dump_.size() - start_ > limit)
            throw VessoraError(
                L10n::text("A SQL statement exceeds 64 MB. Export smaller INSERT batches."));
        if (quote_ != 0 || block_ || executable_)
            throw VessoraError(L10n::text("The SQL file ends inside a quoted value or comment."));
        if (start_ < dump_.size())
            statement(dump_.size());
        if (summary_.statementCount < 1)
            throw VessoraError(L10n::text("The SQL file contains no statements."));
    }

    std::string_view dump_;
    std::string database_;
    std::string out_;
    std::string delimiter_ = ";";
    std::size_t lineEnd_ = 0;
    std::size_t start_ = 0;       // where the statement's bytes begin
    bool pending_ = false;        // the client holds statement text
    std::size_t significant_ = 0; // its first byte
    std::string text_;            // what the client sends
    std::string line_;            // this line's part of it, not yet added
    bool needSpace_ = false;
    char quote_ = 0;
    bool block_ = false;
    bool executableLine_ = false;
    bool executable_ = false;
    // Where the text after the last ";" within the statement begins, in the
    // text and in the dump.
    struct Within {
        std::size_t text;
        std::size_t offset;
        std::optional<std::size_t> first; // its first byte of text but blanks
    };
    std::optional<Within> within_;
    SQLDump::Summary summary_;
    std::vector<std::string> statements_;
    ModeReading mode_;
};

std::string describe(const char* name, const Prepared& p) {
    std::string text = std::string(name) + ": ";
    if (!p.error.empty())
        return text + "error \"" + p.error + "\"";
    return text + std::to_string(p.summary.statementCount) + " statements, database " +
           p.summary.sourceDatabase.value_or("(none)") + ", " + std::to_string(p.output.size()) +
           " bytes out";
}

std::string compare(const char* name, const Prepared& a, const Prepared& b) {
    const bool same = a.error == b.error &&
                      (!a.error.empty() || (a.summary == b.summary && a.output == b.output &&
                                            a.statements == b.statements));
    if (same)
        return "";
    return describe("reference", a) + " / " + describe(name, b) + "\n";
}

} // namespace

std::string selecting(std::string dump, std::string_view marker, std::string_view target,
                      std::string_view defaults) {
    std::string selection = "\nUSE `" + std::string(target) + "`";
    if (!defaults.empty())
        selection = "\nALTER DATABASE `" + std::string(target) + "` " + std::string(defaults) +
                    ";" + selection;
    for (std::size_t at = dump.find(marker); at != std::string::npos;
         at = dump.find(marker, at + 1)) {
        const std::size_t start = dump.rfind(';', at) + 1;
        const std::size_t end = dump.find(';', at);
        dump.replace(start, end - start, selection);
        at = start;
    }
    return dump;
}

std::string withoutDefiners(std::string dump) {
    for (std::size_t at = dump.find("DEFINER=`"); at != std::string::npos;
         at = dump.find("DEFINER=`", at + 1)) {
        const std::size_t user = dump.find("`@`", at + 9);
        const std::size_t end = user == std::string::npos ? user : dump.find('`', user + 3);
        if (end == std::string::npos)
            break;
        dump.replace(at, end + 1 - at, std::string(end + 1 - at, ' '));
    }
    return dump;
}

Prepared reference(std::string_view dump, std::string_view database) {
    return Reference(dump, database).run();
}

std::string differences(std::string_view input) {
    if (input.empty())
        return "";
    const auto selector = static_cast<unsigned char>(input[0]);
    const std::string_view dump = input.substr(1);
    std::vector<std::size_t> pieces;
    for (std::size_t i = 0; i < 5; ++i)
        pieces.push_back(((selector >> i) & 7) * 97 + 1 + i);
    const std::size_t window = SQLDumpScanner::smallestWindow + (selector & 0x3F) * 29;
    const Prepared expected = reference(dump, "target");
    // Everything in one window, and a window edge every few bytes.
    const std::size_t whole = std::max(SQLDumpScanner::smallestWindow, dump.size() + 1024);
    std::string report = compare("scanner", expected, scanned(dump, "target", whole));
    report += compare("small window", expected, scanned(dump, "target", window, pieces));
    if (expected.error.empty() && !expected.summary.sourceDatabase) {
        const std::string_view body = dump.starts_with("\xEF\xBB\xBF") ? dump.substr(3) : dump;
        // Only a DEFINER clause may be blanked, line feeds kept.
        bool same = expected.output.size() == body.size();
        for (std::size_t i = 0; same && i < body.size(); ++i)
            same = expected.output[i] == body[i] || (expected.output[i] == ' ' && body[i] != '\n');
        if (!same)
            report += "output differs from the dump although nothing was replaced\n";
    }
    return report;
}

} // namespace vessora::SQLDumpTesting
