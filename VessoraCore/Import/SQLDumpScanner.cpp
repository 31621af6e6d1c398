#include "VessoraCore/Import/SQLDumpScanner.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/SQLDumpDelimiter.hpp"
#include "VessoraCore/Import/SQLDumpStatement.hpp"
#include "VessoraCore/Import/SQLDumpTokens.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vessora::SQLDumpScanner {

namespace {

// How far past the scan position a decision may look: a whole examined
// DELIMITER line with its line feed, the sandbox opener, a delimiter.
constexpr std::size_t lookahead = 512;

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

bool isBlank(int byte) {
    return byte >= 0 && byte <= 0x20;
}

bool isAsciiSpace(int byte) {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// The first byte of a range that is one of N given bytes, sixteen at a time
// where the processor allows.
template <std::size_t N>
class ByteSet {
public:
    explicit ByteSet(const std::array<char, N>& bytes) {
        member_.fill(false);
        for (std::size_t k = 0; k < N; ++k) {
            member_[static_cast<unsigned char>(bytes[k])] = true;
#if defined(__SSE2__)
            needles_[k] = _mm_set1_epi8(bytes[k]);
#endif
        }
    }

    const char* find(const char* from, const char* to) const {
#if defined(__SSE2__)
        while (to - from >= 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            __m128i hits = _mm_cmpeq_epi8(block, needles_[0]);
            for (std::size_t k = 1; k < N; ++k)
                hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, needles_[k]));
            const int mask = _mm_movemask_epi8(hits);
            if (mask != 0)
                return from + __builtin_ctz(static_cast<unsigned>(mask));
            from += 16;
        }
#endif
        while (from < to && !member_[static_cast<unsigned char>(*from)])
            ++from;
        return from;
    }

private:
    std::array<bool, 256> member_{};
#if defined(__SSE2__)
    __m128i needles_[N]{};
#endif
};

#if defined(__SSE2__)
// Bit i set where byte i of the 64 bytes from `from` is a backslash (or the
// quote byte).
struct QuoteMasks {
    std::uint64_t backslashes;
    std::uint64_t quotes;
};

QuoteMasks quoteMasks(const char* from, __m128i backslash, __m128i quote) {
    const auto bits = [](__m128i bytes, __m128i byte) {
        return std::uint64_t(
            static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, byte))));
    };
    const auto* blocks = reinterpret_cast<const __m128i*>(from);
    const __m128i b0 = _mm_loadu_si128(blocks);
    const __m128i b1 = _mm_loadu_si128(blocks + 1);
    const __m128i b2 = _mm_loadu_si128(blocks + 2);
    const __m128i b3 = _mm_loadu_si128(blocks + 3);
    return {bits(b0, backslash) | bits(b1, backslash) << 16 | bits(b2, backslash) << 32 |
                bits(b3, backslash) << 48,
            bits(b0, quote) | bits(b1, quote) << 16 | bits(b2, quote) << 32 |
                bits(b3, quote) << 48};
}
#endif

// Inside '...' or "...": the closing quote from `from` on, or a position at
// or past `to` when none lies before it. A backslash escapes the next byte
// and a doubled quote stays inside. Dumps escape densely (binary data,
// serialized text), so 64 bytes at a time are settled without a branch per
// backslash: in each run of backslashes every other byte after its first is
// escaped, and a quote is a candidate only when it is not escaped.
// `last` is the end of the data in the window.
const char* closingQuote(const char* from, const char* to, char quote, const char* last) {
    const char* p = from;
#if defined(__SSE2__)
    constexpr std::uint64_t even = 0x5555555555555555u; // bit 0 is byte 0
    const __m128i quotes = _mm_set1_epi8(quote);
    const __m128i backslashes = _mm_set1_epi8('\\');
    while (to - p >= 64) {
        const QuoteMasks masks = quoteMasks(p, backslashes, quotes);
        const std::uint64_t slash = masks.backslashes;
        std::uint64_t candidates = masks.quotes;
        const std::uint64_t starts = slash & ~(slash << 1);
        // Adding a run's start bit clears the run: what vanishes are the
        // runs that start at an even (odd) byte.
        const std::uint64_t evenRuns = slash & ~(slash + (starts & even));
        const std::uint64_t oddRuns = slash & ~(slash + (starts & ~even));
        const std::uint64_t escaped = ((evenRuns << 1) & ~even) | ((oddRuns << 1) & even);
        candidates &= ~escaped;
        bool next = false;
        while (candidates != 0) {
            const int i = __builtin_ctzll(candidates);
            const char* at = p + i;
            if (at + 1 >= last || at[1] != quote)
                return at;
            if (i == 63) { // doubled across the chunk's end
                p += 65;
                next = true;
                break;
            }
            candidates &= ~(std::uint64_t(3) << i);
        }
        if (!next)
            p += 64 + (oddRuns >> 63); // an odd run at the end escapes the next byte
    }
#endif
    // The rest byte by byte; an escape or a doubled quote may have taken
    // the cursor past `to` already.
    for (;;) {
        while (p < to && *p != quote && *p != '\\')
            ++p;
        if (p >= to)
            return p;
        if (*p == '\\') {
            p += p + 1 < last ? 2 : 1;
            continue;
        }
        if (p + 1 < last && p[1] == quote) {
            p += 2;
            continue;
        }
        return p;
    }
}

// Everything that can end a stretch of plain statement text, and inside an
// executable comment also its end.
ByteSet<8> normalEvents(char delimiterStart) {
    return ByteSet<8>({'\'', '"', '`', '#', '-', '/', '\n', delimiterStart});
}

ByteSet<9> executableEvents(char delimiterStart) {
    return ByteSet<9>({'\'', '"', '`', '#', '-', '/', '\n', '*', delimiterStart});
}

// `from` may lie past `to` when a two-byte step ended there.
const char* findByte(const char* from, const char* to, char byte) {
    if (from >= to)
        return from;
    const void* found = std::memchr(from, byte, static_cast<std::size_t>(to - from));
    return found ? static_cast<const char*>(found) : to;
}

enum class Lexical { normal, quote, lineComment, blockComment };

class Scanner {
public:
    Scanner(Source& source, Sink& sink, std::string_view database, std::size_t window)
        : source_(source), sink_(sink), database_(database),
          capacity_(std::max(window, smallestWindow)),
          buffer_(std::make_unique_for_overwrite<char[]>(capacity_)),
          normalEvents_(normalEvents(';')), executableEvents_(executableEvents(';')) {
        head_.reserve(SQLDumpStatement::headLimit);
    }

    SQLDump::Summary run() {
        fill();
        if (std::string_view(data(), length_).starts_with(byteOrderMark))
            position_ = emitFrom_ = byteOrderMark.size();
        beginStatement();
        for (;;) {
            const std::size_t end = eof_ ? length_ : length_ - lookahead;
            if (position_ >= end) {
                if (eof_)
                    break;
                advanceWindow();
                continue;
            }
            scanWindow(end);
        }
        finish();
        return summary_;
    }

private:
    // Input window ---------------------------------------------------------

    void fill() {
        while (!eof_ && length_ < capacity_) {
            const std::size_t count = source_.read(data() + length_, capacity_ - length_);
            if (count == 0)
                eof_ = true;
            length_ += count;
        }
    }

    // Writes what is settled, keeps the unscanned tail and reads more.
    void advanceWindow() {
        if (position_ < length_)
            checkLimit(position_);
        collectHead(position_);
        flush(position_);
        const std::size_t keep = length_ - position_;
        std::memmove(data(), data() + position_, keep);
        base_ += position_;
        length_ = keep;
        position_ = emitFrom_ = 0;
        fill();
    }

    char* data() { return buffer_.get(); }
    const char* data() const { return buffer_.get(); }

    int peek(std::size_t index) const {
        return index < length_ ? static_cast<unsigned char>(data()[index]) : -1;
    }

    // Output ---------------------------------------------------------------

    void emit(const char* bytes, std::size_t count) {
        if (count == 0)
            return;
        sink_.write(std::string_view(bytes, count));
        written_ += count;
    }

    void flush(std::size_t upTo) {
        emit(data() + emitFrom_, upTo - emitFrom_);
        emitFrom_ = upTo;
    }

    // Statements -----------------------------------------------------------

    void beginStatement() {
        statementStart_ = base_ + position_;
        statementOutput_ = written_ + (position_ - emitFrom_);
        significant_.reset();
        head_.clear();
        lineStart_ = true;
    }

    void checkLimit(std::size_t index) const {
        if (base_ + index - statementStart_ > statementLimit)
            throw VessoraError(
                L10n::text("A SQL statement exceeds 64 MB. Export smaller INSERT batches."));
    }

    // Copies the head's bytes up to `upTo` while they are in the window.
    void collectHead(std::size_t upTo) {
        if (!significant_)
            return;
        const std::uint64_t have = *significant_ + head_.size();
        const std::uint64_t want =
            std::min<std::uint64_t>(base_ + upTo, *significant_ + SQLDumpStatement::headLimit);
        if (want > have)
            head_.append(data() + (have - base_), static_cast<std::size_t>(want - have));
    }

    // The head up to `upTo`: straight from the window while all of it is
    // there, else the copy.
    std::string_view head(std::size_t upTo) {
        if (head_.empty() && *significant_ >= base_) {
            const std::size_t from = static_cast<std::size_t>(*significant_ - base_);
            return std::string_view(data() + from,
                                    std::min(upTo - from, SQLDumpStatement::headLimit));
        }
        collectHead(upTo);
        return head_;
    }

    // The statement ends before `upTo`: count, check and, when it selects
    // the dump's database, exchange its output for the target's selection.
    void conclude(std::size_t upTo) {
        if (!significant_)
            return;
        std::optional<std::string> replacement;
        try {
            replacement = SQLDumpStatement::adapt(head(upTo), summary_, database_);
        } catch (const SQLDumpStatement::RunsOn&) {
            throw UnendedSelection{*significant_};
        }
        if (!replacement)
            return;
        if (statementOutput_ >= written_) {
            emit(data() + emitFrom_, static_cast<std::size_t>(statementOutput_ - written_));
        } else {
            sink_.truncate(statementOutput_);
            written_ = statementOutput_;
        }
        emit(replacement->data(), replacement->size());
        emitFrom_ = upTo;
    }

    void endStatement(std::size_t delimiterAt) {
        checkLimit(delimiterAt);
        conclude(delimiterAt);
        position_ = delimiterAt + delimiter_.size();
        beginStatement();
    }

    bool matchesDelimiter(std::size_t index) const {
        return index + delimiter_.size() <= length_ &&
               std::memcmp(data() + index, delimiter_.data(), delimiter_.size()) == 0;
    }

    // Whether the statement so far holds a token, judged on its head.
    bool tokensBefore(std::size_t index) {
        if (!significant_)
            return false;
        const std::string_view before = head(index);
        return before.size() >= SQLDumpStatement::headLimit ||
               !SQLDumpTokens::tokens(before).empty();
    }

    // At a statement or line start: takes a DELIMITER command line.
    bool delimiterCommand() {
        const std::size_t at = position_;
        checkLimit(at);
        constexpr std::size_t examined = SQLDumpDelimiter::examinedLine;
        const std::size_t quickEnd = std::min(length_, at + examined);
        std::size_t first = at;
        while (first < quickEnd && data()[first] != '\n' && isBlank(peek(first)))
            ++first;
        const int lead = peek(first);
        if (first >= quickEnd || (lead != 'D' && lead != 'd' && lead < 0x80))
            return false;
        const std::size_t available = std::min(length_ - at, examined + 1);
        const void* lineFeed = std::memchr(data() + at, '\n', available);
        std::size_t lineLength = examined + 1; // longer than examined
        if (lineFeed)
            lineLength = static_cast<std::size_t>(static_cast<const char*>(lineFeed) - data()) - at;
        else if (eof_ && length_ - at <= examined)
            lineLength = length_ - at;
        const std::string_view line(data() + at, std::min(lineLength, examined));
        if (!SQLDumpDelimiter::isCommand(line) || tokensBefore(at))
            return false;
        // The client reads the whole line; a delimiter beyond the examined
        // bytes could differ from the one seen here.
        if (lineLength > examined)
            throw VessoraError(L10n::text("The dump uses an unsupported SQL delimiter."));
        delimiter_ = SQLDumpDelimiter::delimiter(line);
        normalEvents_ = normalEvents(delimiter_.front());
        executableEvents_ = executableEvents(delimiter_.front());
        position_ = at + lineLength + (lineFeed ? 1 : 0);
        beginStatement();
        return true;
    }

    // "/*" at `index` opens a comment, unless it is an executable comment
    // other than the sandbox line: the client passes those on as text.
    bool opensComment(std::size_t index) const {
        std::size_t content = index + 2;
        if (peek(content) == '!')
            content += 1;
        else if (peek(content) == 'M' && peek(content + 1) == '!')
            content += 2;
        else
            return true;
        for (std::size_t k = 0; k < 6; ++k) {
            if (peek(content + k) != '9')
                return false;
        }
        std::size_t next = content + 6;
        if (peek(next) >= '0' && peek(next) <= '9')
            return false;
        while (next < index + lookahead && isAsciiSpace(peek(next)))
            ++next;
        return peek(next) == '\\' && peek(next + 1) == '-';
    }

    // Lexical states -------------------------------------------------------

    // Scans [position_, end). Plain text, quotes and comments stay in this
    // loop with a local cursor; line starts, a statement's leading bytes and
    // its end go through the members that handle them.
    void scanWindow(std::size_t end) {
        const char* const start = data();
        const char* const stop = start + end;
        const char* const last = start + length_;
        const auto at = [last](const char* p) {
            return p < last ? static_cast<unsigned char>(*p) : -1;
        };
        const char* p = start + position_;
        Lexical state = lexical_;
        // Hands the cursor to a member and takes it back.
        const auto call = [&](auto&& member) {
            position_ = static_cast<std::size_t>(p - start);
            lexical_ = state;
            member();
            p = start + position_;
            state = lexical_;
        };
        while (p < stop) {
            switch (state) {
            case Lexical::quote:
                if (quote_ == '`') {
                    // A backslash is an ordinary byte here.
                    for (;;) {
                        p = findByte(p, stop, '`');
                        if (p >= stop)
                            break;
                        if (at(p + 1) == '`') {
                            p += 2;
                            continue;
                        }
                        p += 1;
                        state = Lexical::normal;
                        break;
                    }
                    break;
                }
                p = closingQuote(p, stop, quote_, last);
                if (p < stop) {
                    p += 1;
                    state = Lexical::normal;
                }
                break;
            case Lexical::lineComment:
                p = findByte(p, stop, '\n');
                if (p < stop) {
                    p += 1;
                    state = Lexical::normal;
                    lineStart_ = true;
                }
                break;
            case Lexical::blockComment:
                for (;;) {
                    p = findByte(p, stop, '*');
                    if (p >= stop)
                        break;
                    if (at(p + 1) == '/') {
                        p += 2;
                        state = Lexical::normal;
                        break;
                    }
                    p += 1;
                }
                break;
            case Lexical::normal:
                if (lineStart_ || !significant_) {
                    // The usual line start and leading byte inline; the rest
                    // (a possible DELIMITER command, a comment) through the
                    // members.
                    const int c = at(p);
                    const bool command = lineStart_ && (c == 'D' || c == 'd' || c >= 0x80 ||
                                                        (isBlank(c) && c != '\n'));
                    if (command || (!significant_ && (c == '#' || c == '-' || c == '/'))) {
                        call([this] { lineOrLeading(); });
                        break;
                    }
                    lineStart_ = false;
                    if (!significant_) {
                        if (isBlank(c)) {
                            p += 1;
                            lineStart_ = c == '\n';
                            break;
                        }
                        significant_ = base_ + static_cast<std::uint64_t>(p - start);
                    }
                }
                for (;;) {
                    p = executable_ ? executableEvents_.find(p, stop) : normalEvents_.find(p, stop);
                    if (p >= stop)
                        break;
                    const char c = *p;
                    if (c == '\'' || c == '"' || c == '`') {
                        quote_ = c;
                        state = Lexical::quote;
                        p += 1;
                        break;
                    }
                    if (c == '#' || (c == '-' && at(p + 1) == '-' && isBlank(at(p + 2)))) {
                        state = Lexical::lineComment;
                        p += c == '#' ? 1 : 2;
                        break;
                    }
                    if (c == '\n') {
                        p += 1;
                        lineStart_ = true;
                        break;
                    }
                    if (c == '/' && at(p + 1) == '*') {
                        if (opensComment(static_cast<std::size_t>(p - start)))
                            state = Lexical::blockComment;
                        else
                            executable_ = true;
                        p += 2;
                        break;
                    }
                    if (c == '*' && executable_ && at(p + 1) == '/') {
                        executable_ = false;
                        p += 2;
                        break;
                    }
                    if (c == delimiter_.front() &&
                        (delimiter_.size() == 1 ||
                         matchesDelimiter(static_cast<std::size_t>(p - start)))) {
                        const std::size_t delimiterAt = static_cast<std::size_t>(p - start);
                        call([this, delimiterAt] { endStatement(delimiterAt); });
                        break;
                    }
                    p += 1;
                }
                break;
            }
        }
        position_ = static_cast<std::size_t>(p - start);
        lexical_ = state;
    }

    // Normal state at a line start or before the statement's first
    // significant byte: one step.
    void lineOrLeading() {
        if (lineStart_) {
            lineStart_ = false;
            if (delimiterCommand())
                return;
        }
        if (!significant_)
            leading();
    }

    // Blanks and comments before a statement's first significant byte.
    void leading() {
        const std::size_t at = position_;
        const int c = peek(at);
        if (isBlank(c)) {
            position_ = at + 1;
            lineStart_ = c == '\n';
            return;
        }
        if (c == '#') {
            lexical_ = Lexical::lineComment;
            position_ = at + 1;
            return;
        }
        if (c == '-' && peek(at + 1) == '-' && isBlank(peek(at + 2))) {
            lexical_ = Lexical::lineComment;
            position_ = at + 2;
            return;
        }
        if (c == '/' && peek(at + 1) == '*' && opensComment(at)) {
            lexical_ = Lexical::blockComment;
            position_ = at + 2;
            return;
        }
        significant_ = base_ + at;
    }

    void finish() {
        const std::uint64_t end = base_ + length_;
        if (end > statementStart_)
            checkLimit(length_);
        // The server refuses an executable comment left open; a truncated
        // dump is better refused here, before anything is made.
        if (lexical_ == Lexical::quote || lexical_ == Lexical::blockComment || executable_)
            throw VessoraError(L10n::text("The SQL file ends inside a quoted value or comment."));
        if (end > statementStart_)
            conclude(length_);
        flush(length_);
        if (summary_.statementCount < 1)
            throw VessoraError(L10n::text("The SQL file contains no statements."));
    }

    Source& source_;
    Sink& sink_;
    std::string database_;

    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    std::size_t length_ = 0;   // bytes in the window
    std::uint64_t base_ = 0;   // input offset of the window's first byte
    std::size_t position_ = 0; // scan position in the window
    bool eof_ = false;

    std::size_t emitFrom_ = 0;  // first window byte not yet written
    std::uint64_t written_ = 0; // bytes written to the sink

    std::string delimiter_ = ";";
    ByteSet<8> normalEvents_;
    ByteSet<9> executableEvents_;
    bool executable_ = false; // inside "/*!" or "/*M!" up to its "*/"
    Lexical lexical_ = Lexical::normal;
    char quote_ = 0;
    bool lineStart_ = true;

    std::uint64_t statementStart_ = 0;  // input offset
    std::uint64_t statementOutput_ = 0; // output offset
    std::optional<std::uint64_t> significant_;
    std::string head_;
    SQLDump::Summary summary_;
};

} // namespace

SQLDump::Summary scan(Source& source, Sink& sink, std::string_view database, std::size_t window) {
    return Scanner(source, sink, database, window).run();
}

} // namespace vessora::SQLDumpScanner
