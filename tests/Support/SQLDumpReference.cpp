#include "tests/Support/SQLDumpReference.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/SQLDumpDelimiter.hpp"
#include "VessoraCore/Import/SQLDumpStatement.hpp"
#include "VessoraCore/Import/SQLDumpTokens.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vessora::SQLDumpTesting {

std::size_t PieceSource::read(char* into, std::size_t capacity) {
    std::size_t count = std::min(capacity, data_.size() - offset_);
    if (!pieces_.empty() && count > 0)
        count = std::min(count, std::max<std::size_t>(1, pieces_[next_++ % pieces_.size()]));
    std::memcpy(into, data_.data() + offset_, count);
    offset_ += count;
    return count;
}

void StringSink::truncate(std::uint64_t size) {
    if (size > bytes_.size())
        throw std::logic_error("truncate beyond the written bytes");
    bytes_.resize(size);
}

Prepared scanned(std::string_view dump, std::string_view database, std::size_t window,
                 std::vector<std::size_t> pieces) {
    Prepared result;
    PieceSource source(dump, std::move(pieces));
    StringSink sink;
    try {
        result.summary = SQLDumpScanner::scan(source, sink, database, window);
    } catch (const VessoraError& error) {
        result.error = error.what();
    } catch (const SQLDumpScanner::UnendedSelection& unended) {
        result.error = "unended selection at byte " + std::to_string(unended.offset);
    }
    result.output = sink.bytes();
    return result;
}

namespace {

constexpr std::uint64_t limit = SQLDumpScanner::statementLimit;

bool blank(int c) {
    return c >= 0 && c <= 0x20;
}

class Reference {
public:
    Reference(std::string_view dump, std::string_view database)
        : dump_(dump), database_(database) {}

    Prepared run() {
        Prepared result;
        try {
            split();
        } catch (const VessoraError& error) {
            result.error = error.what();
        } catch (const SQLDumpStatement::RunsOn&) {
            result.error = "unended selection at byte " + std::to_string(unendedAt_);
        }
        result.output = out_;
        result.summary = summary_;
        return result;
    }

private:
    int at(std::size_t i) const {
        return i < dump_.size() ? static_cast<unsigned char>(dump_[i]) : -1;
    }

    // "/*" at i: a comment, or an executable comment other than the
    // sandbox line (version exactly 999999, ASCII blanks, "\-", all within
    // 512 bytes of the slash).
    bool comment(std::size_t i) const {
        std::size_t c = i + 2;
        if (at(c) == '!')
            c += 1;
        else if (at(c) == 'M' && at(c + 1) == '!')
            c += 2;
        else
            return true;
        if (dump_.substr(c, 6) != "999999" || (at(c + 6) >= '0' && at(c + 6) <= '9'))
            return false;
        std::size_t j = c + 6;
        while (j < i + 512 && (at(j) == ' ' || (at(j) >= '\t' && at(j) <= '\r')))
            ++j;
        return at(j) == '\\' && at(j + 1) == '-';
    }

    // First byte of [from, to) that is not a blank or inside a comment.
    std::size_t significant(std::size_t from, std::size_t to) const {
        std::size_t i = from;
        while (i < to) {
            const int c = at(i);
            if (blank(c)) {
                ++i;
            } else if (c == '#' || (c == '-' && at(i + 1) == '-' && blank(at(i + 2)))) {
                while (i < to && at(i) != '\n')
                    ++i;
            } else if (c == '/' && at(i + 1) == '*' && comment(i)) {
                i += 2;
                while (i < to && !(at(i) == '*' && at(i + 1) == '/'))
                    ++i;
                i += 2;
            } else {
                return i;
            }
        }
        return to;
    }

    std::string_view head(std::size_t from, std::size_t to) const {
        const std::size_t start = significant(from, to);
        return dump_.substr(start, std::min(to - start, SQLDumpStatement::headLimit));
    }

    void statement(std::size_t from, std::size_t to) {
        const std::size_t start = significant(from, to);
        std::optional<std::string> replacement;
        unendedAt_ = start;
        if (start < to)
            replacement = SQLDumpStatement::adapt(head(from, to), summary_, database_);
        out_ += replacement ? *replacement : std::string(dump_.substr(from, to - from));
    }

    bool delimiterLine(std::size_t pos) {
        std::size_t end = dump_.find('\n', pos);
        const bool lineFeed = end != std::string_view::npos;
        if (!lineFeed)
            end = dump_.size();
        const std::string_view line =
            dump_.substr(pos, std::min(end - pos, SQLDumpDelimiter::examinedLine));
        if (!SQLDumpDelimiter::isCommand(line))
            return false;
        const std::size_t start = significant(start_, pos);
        if (start < pos && (pos - start >= SQLDumpStatement::headLimit ||
                            !SQLDumpTokens::tokens(head(start_, pos)).empty()))
            return false;
        if (end - pos > SQLDumpDelimiter::examinedLine)
            throw VessoraError(L10n::text("The dump uses an unsupported SQL delimiter."));
        delimiter_ = SQLDumpDelimiter::delimiter(line);
        const std::size_t next = lineFeed ? end + 1 : end;
        out_ += dump_.substr(start_, next - start_);
        position_ = start_ = next;
        return true;
    }

    void split() {
        if (dump_.starts_with("\xEF\xBB\xBF"))
            position_ = start_ = 3;
        enum { normal, quote, lineComment, blockComment } state = normal;
        char quoteByte = 0;
        bool lineStart = true;
        bool executable = false; // inside "/*!" or "/*M!" up to its "*/"
        while (position_ < dump_.size()) {
            if (position_ - start_ > limit)
                throw VessoraError(
                    L10n::text("A SQL statement exceeds 64 MB. Export smaller INSERT batches."));
            const int c = at(position_);
            switch (state) {
            case lineComment:
                if (c == '\n') {
                    state = normal;
                    lineStart = true;
                }
                ++position_;
                continue;
            case blockComment:
                if (c == '*' && at(position_ + 1) == '/') {
                    state = normal;
                    position_ += 2;
                } else {
                    ++position_;
                }
                continue;
            case quote:
                if (c == '\\' && quoteByte != '`') {
                    position_ += position_ + 1 < dump_.size() ? 2 : 1;
                } else if (c == quoteByte && at(position_ + 1) == quoteByte) {
                    position_ += 2;
                } else {
                    if (c == quoteByte)
                        state = normal;
                    ++position_;
                }
                continue;
            case normal:
                break;
            }
            if (lineStart) {
                lineStart = false;
                if (delimiterLine(position_)) {
                    lineStart = true;
                    continue;
                }
            }
            if (c == '\'' || c == '"' || c == '`') {
                state = quote;
                quoteByte = static_cast<char>(c);
                ++position_;
            } else if (c == '#') {
                state = lineComment;
                ++position_;
            } else if (c == '-' && at(position_ + 1) == '-' && blank(at(position_ + 2))) {
                state = lineComment;
                position_ += 2;
            } else if (c == '/' && at(position_ + 1) == '*') {
                if (comment(position_))
                    state = blockComment;
                else
                    executable = true;
                position_ += 2;
            } else if (c == '*' && executable && at(position_ + 1) == '/') {
                executable = false;
                position_ += 2;
            } else if (dump_.substr(position_).starts_with(delimiter_)) {
                statement(start_, position_);
                out_ += delimiter_;
                position_ += delimiter_.size();
                start_ = position_;
                lineStart = true;
            } else {
                lineStart = c == '\n';
                ++position_;
            }
        }
        if (dump_.size() - start_ > limit)
            throw VessoraError(
                L10n::text("A SQL statement exceeds 64 MB. Export smaller INSERT batches."));
        if (state == quote || state == blockComment || executable)
            throw VessoraError(L10n::text("The SQL file ends inside a quoted value or comment."));
        if (start_ < dump_.size())
            statement(start_, dump_.size());
        if (summary_.statementCount < 1)
            throw VessoraError(L10n::text("The SQL file contains no statements."));
    }

    std::string_view dump_;
    std::string database_;
    std::string out_;
    std::string delimiter_ = ";";
    std::size_t position_ = 0;
    std::size_t start_ = 0;
    SQLDump::Summary summary_;
    std::size_t unendedAt_ = 0;
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
                      (!a.error.empty() || (a.summary == b.summary && a.output == b.output));
    if (same)
        return "";
    return describe("reference", a) + " / " + describe(name, b) + "\n";
}

} // namespace

std::string selecting(std::string dump, std::string_view marker, std::string_view target) {
    for (std::size_t at = dump.find(marker); at != std::string::npos;
         at = dump.find(marker, at + 1)) {
        const std::size_t start = dump.rfind(';', at) + 1;
        const std::size_t end = dump.find(';', at);
        dump.replace(start, end - start, "\nUSE `" + std::string(target) + "`");
        at = start;
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
        if (expected.output != body)
            report += "output differs from the dump although nothing was replaced\n";
    }
    return report;
}

} // namespace vessora::SQLDumpTesting
