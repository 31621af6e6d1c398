#include "VessoraCore/Import/SQLDumpScanner.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/SQLDumpClientText.hpp"
#include "VessoraCore/Import/SQLDumpDefiner.hpp"
#include "VessoraCore/Import/SQLDumpDelimiter.hpp"
#include "VessoraCore/Import/SQLDumpSqlMode.hpp"
#include "VessoraCore/Import/SQLDumpStatement.hpp"

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
// DELIMITER line with its line feed, a comment opener, a delimiter.
constexpr std::size_t lookahead = 512;

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

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
// quote byte, or a line feed).
struct QuoteMasks {
    std::uint64_t backslashes;
    std::uint64_t quotes;
    std::uint64_t lineFeeds;
};

QuoteMasks quoteMasks(const char* from, __m128i backslash, __m128i quote, __m128i lineFeed) {
    const auto bits = [](__m128i bytes, __m128i byte) {
        return std::uint64_t(
            static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, byte))));
    };
    const auto* blocks = reinterpret_cast<const __m128i*>(from);
    const __m128i b0 = _mm_loadu_si128(blocks);
    const __m128i b1 = _mm_loadu_si128(blocks + 1);
    const __m128i b2 = _mm_loadu_si128(blocks + 2);
    const __m128i b3 = _mm_loadu_si128(blocks + 3);
    const auto all = [&](__m128i byte) {
        return bits(b0, byte) | bits(b1, byte) << 16 | bits(b2, byte) << 32 | bits(b3, byte) << 48;
    };
    return {all(backslash), all(quote), all(lineFeed)};
}
#endif

// Inside '...': the closing quote from `from` on, a backslash that escapes
// a line feed (the client mangles that line end), or a position at or past
// `to` when neither lies before it. A backslash escapes the next byte
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
    const __m128i lineFeeds = _mm_set1_epi8('\n');
    while (to - p >= 64) {
        const QuoteMasks masks = quoteMasks(p, backslashes, quotes, lineFeeds);
        const std::uint64_t slash = masks.backslashes;
        std::uint64_t candidates = masks.quotes;
        const std::uint64_t starts = slash & ~(slash << 1);
        // Adding a run's start bit clears the run: what vanishes are the
        // runs that start at an even (odd) byte.
        const std::uint64_t evenRuns = slash & ~(slash + (starts & even));
        const std::uint64_t oddRuns = slash & ~(slash + (starts & ~even));
        const std::uint64_t escaped = ((evenRuns << 1) & ~even) | ((oddRuns << 1) & even);
        candidates &= ~escaped;
        // Byte 0 is never escaped here, so its backslash lies in the chunk.
        const std::uint64_t escapedLineFeeds = escaped & masks.lineFeeds;
        const int lineEnd = escapedLineFeeds ? __builtin_ctzll(escapedLineFeeds) : 64;
        bool next = false;
        while (candidates != 0) {
            const int i = __builtin_ctzll(candidates);
            if (i > lineEnd)
                return p + lineEnd - 1;
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
        if (next) // the quote at byte 63 came first
            continue;
        if (lineEnd < 64)
            return p + lineEnd - 1;
        // An odd run at the end escapes the next byte.
        if (oddRuns >> 63) {
            if (p + 64 < last && p[64] == '\n')
                return p + 63;
            p += 65;
        } else {
            p += 64;
        }
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
            if (p + 1 < last && p[1] == '\n')
                return p;
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

// Everything that can end a stretch of statement text: quotes, comment
// openers, a backslash command, a line's end, the delimiter, a ";" (which
// ends a statement for the server even when it is not the delimiter), and
// inside an executable comment also its end.
ByteSet<10> normalEvents(char delimiterStart) {
    return ByteSet<10>({'\'', '"', '`', '#', '-', '/', '\n', '\\', ';', delimiterStart});
}

ByteSet<11> executableEvents(char delimiterStart) {
    return ByteSet<11>({'\'', '"', '`', '#', '-', '/', '\n', '\\', ';', '*', delimiterStart});
}

// `from` may lie past `to` when a two-byte step ended there.
const char* findByte(const char* from, const char* to, char byte) {
    if (from >= to)
        return from;
    const void* found = std::memchr(from, byte, static_cast<std::size_t>(to - from));
    return found ? static_cast<const char*>(found) : to;
}

bool opensExecutable(int second, int third) {
    return second == '!' || (second == 'M' && third == '!');
}

// A statement's first bytes kept once they leave the window: more than any
// first word that the reading of a statement acts on, and the head that
// holds a DEFINER clause.
constexpr std::size_t leadingKept = 4096;

// The first byte of a statement that the client's DELIMITER command could
// begin with.
bool mayNameCommand(int byte) {
    return byte == 'd' || byte == 'D' || byte == 0xD0 || byte == 0xF0;
}

enum class Lexical { normal, quote, lineComment, blockComment };

// How the client reads a backslash inside a quote by the flags the server
// reports: as an escape, as an ordinary byte, or either (the dump may have
// changed them where that cannot be followed).
enum class Escapes { escapes, none, unsettled };

class Scanner {
public:
    Scanner(Source& source, Sink& sink, std::string_view database, std::size_t window,
            const Observer& observer, SQLDumpSqlMode::Release release)
        : source_(source), sink_(sink), database_(database), observer_(observer),
          capacity_(std::max(window, smallestWindow)),
          buffer_(std::make_unique_for_overwrite<char[]>(capacity_)),
          normalEvents_(normalEvents(';')), executableEvents_(executableEvents(';')),
          blockEvents_({'*', '/', '\n'}), mode_(release) {}

    SQLDump::Summary run() {
        fill();
        if (std::string_view(data(), length_).starts_with(byteOrderMark)) {
            position_ = emitFrom_ = lineBegin_ = byteOrderMark.size();
            // The client drops a mark that begins its input: a second one,
            // which is written out for it to drop.
            if (std::string_view(data() + position_, length_ - position_)
                    .starts_with(byteOrderMark))
                position_ = lineBegin_ = 2 * byteOrderMark.size();
        }
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
        checkTrails(position_);
        if (position_ > 0)
            carried_ = static_cast<unsigned char>(data()[position_ - 1]);
        if (significant_) {
            readStatement(position_);
            readWithin(position_);
            if (*significant_ >= base_) {
                const std::size_t from = static_cast<std::size_t>(*significant_ - base_);
                leading_ = std::string(leadingBytes(std::min(length_, from + leadingKept)));
            } else if (const std::uint64_t kept = *significant_ + leading_.size();
                       leading_.size() < leadingKept && kept >= base_ && kept < base_ + length_) {
                // A statement longer than a window keeps its first bytes
                // whole, as if it had fit.
                const auto from = static_cast<std::size_t>(kept - base_);
                leading_.append(data() + from,
                                std::min(length_ - from, leadingKept - leading_.size()));
            }
        }
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
        reader_.reset();
        within_.reset();
        apartAt_.reset();
        trailAt_.reset();
        checkedTo_ = statementStart_;
    }

    // Bytes of the statement up to `upTo` read in the server's multibyte
    // set: the first character the client reads apart, for conclude() to
    // refuse once the statement is read as far as any other reading goes.
    void checkTrails(std::size_t upTo) {
        const std::uint64_t to = base_ + upTo;
        if (checkedTo_ >= to)
            return;
        if (mode_.reading().multibyte != SQLDumpSqlMode::Flag::off && !trailAt_) {
            const std::size_t from = static_cast<std::size_t>(checkedTo_ - base_);
            const unsigned char before =
                from > 0 ? static_cast<unsigned char>(data()[from - 1]) : carried_;
            const std::size_t at =
                SQLDumpSqlMode::trailApart(std::string_view(data() + from, upTo - from), before);
            if (at != std::string_view::npos)
                trailAt_ = checkedTo_ + at;
        }
        checkedTo_ = to;
    }

    void checkLimit(std::size_t index) const {
        if (base_ + index - statementStart_ > statementLimit)
            throw VessoraError(
                L10n::text("A SQL statement exceeds 64 MB. Export smaller INSERT batches."));
    }

    // Reads the statement's bytes up to `upTo` into the client's text, while
    // that is within the examined length.
    void readStatement(std::size_t upTo) {
        if (!reader_ || reader_->cut() || readFrom_ >= base_ + upTo)
            return;
        const std::size_t from = static_cast<std::size_t>(readFrom_ - base_);
        readFrom_ += reader_->read(std::string_view(data() + from, length_ - from), upTo - from);
    }

    // The further statement after a ";" within this one, as the server runs
    // it on its own: read like a statement, and checked once it ends.
    void readWithin(std::size_t upTo) {
        if (!within_ || within_->cut() || withinFrom_ >= base_ + upTo)
            return;
        const std::size_t from = static_cast<std::size_t>(withinFrom_ - base_);
        withinFrom_ += within_->read(std::string_view(data() + from, length_ - from), upTo - from);
    }

    void endWithin(std::size_t upTo) {
        if (!within_)
            return;
        readWithin(upTo);
        const std::string text = within_->text();
        try {
            SQLDumpStatement::checkWithin(text, within_->cut(), quotedNames());
        } catch (const SQLDumpStatement::SelectsWithin&) {
            throw SelectionWithin{withinStart_ + within_->firstText().value_or(0)};
        }
        const std::uint64_t piece = withinStart_ + within_->firstText().value_or(0);
        const bool cut = within_->cut();
        within_.reset();
        const SQLDumpSqlMode::Flags before = mode_.flags();
        try {
            mode_.ranWithin(text, cut);
        } catch (const SQLDumpSqlMode::ReadApart&) {
            throw ModeWithin{apartAt_.value_or(piece), piece};
        }
        noteMode(before, piece);
    }

    // What ran of the mode, at the input offset of the statement that ran
    // it: where the flags went unknown, and where a text began to be read
    // apart.
    void noteMode(SQLDumpSqlMode::Flags before, std::uint64_t at) {
        using Flag = SQLDumpSqlMode::Flag;
        const SQLDumpSqlMode::Flags now = mode_.flags();
        if (now.ansiQuotes == Flag::unknown && before.ansiQuotes != Flag::unknown)
            quotesUnknownSince_ = at;
        if (now.noBackslashEscapes == Flag::unknown && before.noBackslashEscapes != Flag::unknown)
            escapesUnknownSince_ = at;
        if (mode_.readsApart() && !apartAt_)
            apartAt_ = at;
    }

    void semicolonWithin(std::size_t at) {
        if (!within_ && reader_ && significant_) {
            // The text before the first ";": the server's first statement.
            readStatement(at);
            const SQLDumpSqlMode::Flags before = mode_.flags();
            mode_.firstWithin(reader_->text(), reader_->cut());
            noteMode(before, *significant_);
        }
        endWithin(at);
        within_.emplace(clientStart(false, true), SQLDumpStatement::headLimit);
        withinFrom_ = withinStart_ = base_ + at + 1;
    }

    // The statement's first bytes up to `upTo`, enough to tell its first
    // word: from the window while they are there, else the copy.
    std::string_view leadingBytes(std::size_t upTo) const {
        const std::uint64_t end = base_ + upTo;
        if (*significant_ >= base_)
            return std::string_view(data() + (*significant_ - base_),
                                    static_cast<std::size_t>(end - *significant_));
        return std::string_view(leading_).substr(
            0, static_cast<std::size_t>(
                   std::min<std::uint64_t>(leading_.size(), end - *significant_)));
    }

    // The statement ends before `upTo`: count, check and, when it selects
    // the dump's database, exchange its output for the replacement.
    void conclude(std::size_t upTo) {
        if (!significant_)
            return;
        checkTrails(upTo);
        if (trailAt_)
            throw MultibyteTrail{*trailAt_};
        const std::string_view head = leadingBytes(upTo);
        const SQLDumpSqlMode::Flags before = mode_.flags();
        if (!observer_ && SQLDumpStatement::onlyCounts(head) && mode_.unreadSuffices(head)) {
            ++summary_.statementCount;
            mode_.ranUnread();
            noteMode(before, *significant_);
            return;
        }
        readStatement(upTo);
        const std::string text = reader_->text();
        if (observer_)
            observer_(text);
        std::optional<std::string> replacement;
        try {
            replacement =
                SQLDumpStatement::adapt(text, reader_->cut(), summary_, database_, quotedNames());
        } catch (const SQLDumpStatement::RunsOn&) {
            throw UnendedSelection{*significant_};
        }
        mode_.ran(text, reader_->cut());
        noteMode(before, *significant_);
        if (!replacement) {
            blankDefiner(upTo);
            return;
        }
        if (statementOutput_ >= written_) {
            emit(data() + emitFrom_, static_cast<std::size_t>(statementOutput_ - written_));
        } else {
            sink_.truncate(statementOutput_);
            written_ = statementOutput_;
        }
        emit(replacement->data(), replacement->size());
        emitFrom_ = upTo;
    }

    // A DEFINER clause naming an account, blanked where its bytes are: in
    // the window still to be written, or already written.
    void blankDefiner(std::size_t upTo) {
        const std::string_view head = leadingBytes(upTo);
        if (head.empty() || (head.front() != 'c' && head.front() != 'C' && head.front() != '/'))
            return;
        const std::optional<SQLDumpDefiner::Span> span =
            SQLDumpDefiner::find(head.substr(0, leadingKept));
        if (!span)
            return;
        std::uint64_t from = *significant_ + span->begin;
        const std::uint64_t to = *significant_ + span->end;
        const std::uint64_t unwritten = base_ + emitFrom_;
        if (from < unwritten) {
            const std::uint64_t end = std::min(to, unwritten);
            std::string bytes(
                leadingBytes(upTo).substr(static_cast<std::size_t>(from - *significant_),
                                          static_cast<std::size_t>(end - from)));
            SQLDumpDefiner::blank(bytes.data(), bytes.size());
            sink_.overwrite(statementOutput_ + (from - statementStart_), bytes);
            from = end;
        }
        if (from < to)
            SQLDumpDefiner::blank(data() + (from - base_), static_cast<std::size_t>(to - from));
    }

    // Whether the server may read "..." as a name.
    bool quotedNames() const { return mode_.reading().ansiQuotes != SQLDumpSqlMode::Flag::off; }

    void setDelimiter(std::string delimiter) {
        delimiter_ = std::move(delimiter);
        normalEvents_ = normalEvents(delimiter_.front());
        executableEvents_ = executableEvents(delimiter_.front());
    }

    // A statement that the client takes as its DELIMITER command: the
    // client sends nothing and changes the delimiter.
    bool commandStatement(std::size_t delimiterAt) {
        if (!significant_)
            return false;
        const std::string_view first = leadingBytes(delimiterAt);
        if (first.empty() || !mayNameCommand(static_cast<unsigned char>(first.front())))
            return false;
        readStatement(delimiterAt);
        const std::string text = reader_->text();
        if (!SQLDumpDelimiter::isCommand(text))
            return false;
        std::string delimiter = SQLDumpDelimiter::delimiter(text, false);
        position_ = delimiterAt + delimiter_.size();
        setDelimiter(std::move(delimiter));
        return true;
    }

    void endStatement(std::size_t delimiterAt) {
        checkLimit(delimiterAt);
        if (!commandStatement(delimiterAt)) {
            endWithin(delimiterAt);
            conclude(delimiterAt);
            position_ = delimiterAt + delimiter_.size();
        }
        beginStatement();
        lineStart_ = false;
    }

    bool matchesDelimiter(std::size_t index) const {
        return index + delimiter_.size() <= length_ &&
               std::memcmp(data() + index, delimiter_.data(), delimiter_.size()) == 0;
    }

    // After a block comment within a statement: whether the client adds no
    // byte of its own before the delimiter (characters of several bytes and
    // backslash pairs leave its space pending), so the next statement's
    // first byte gets the space.
    bool spaceReachesDelimiter(std::size_t at) const {
        const std::size_t bound = std::min(length_, at + lookahead);
        while (at < bound) {
            if (matchesDelimiter(at))
                return true;
            if (peek(at) == '\\' && peek(at + 1) >= 0 && peek(at + 1) != '\n') {
                at += 2;
                continue;
            }
            const std::size_t length = SQLDumpClientText::multibyteLength(
                std::string_view(data() + at, std::min<std::size_t>(4, length_ - at)));
            if (length == 0)
                return false;
            at += length;
        }
        return false;
    }

    [[noreturn]] void refuseCharsetCommand(std::size_t at) const {
        throw CharsetCommand{base_ + at};
    }

    // At the first byte after a line's blanks, nothing pending: takes a
    // DELIMITER command line.
    bool delimiterCommand() {
        const std::size_t at = position_;
        checkLimit(at);
        if (at + 9 <= length_ &&
            !SQLDumpClientText::startsWithCommandName(std::string_view(data() + at, 9)))
            return false;
        constexpr std::size_t examined = SQLDumpDelimiter::examinedLine;
        const std::size_t available = std::min(length_ - at, examined + 1);
        const void* lineFeed = std::memchr(data() + at, '\n', available);
        std::size_t lineLength = examined + 1; // longer than examined
        if (lineFeed)
            lineLength = static_cast<std::size_t>(static_cast<const char*>(lineFeed) - data()) - at;
        else if (eof_ && length_ - at <= examined)
            lineLength = length_ - at;
        const std::string_view line(data() + at, std::min(lineLength, examined));
        if (!SQLDumpDelimiter::isCommand(line))
            return false;
        // The client keeps only the line's first bytes of a command: one
        // it cuts short may set another delimiter than the one seen here.
        if (base_ + at - lineBegin_ + lineLength > examined)
            throw VessoraError(L10n::text("The dump uses an unsupported SQL delimiter."));
        setDelimiter(SQLDumpDelimiter::delimiter(line, true));
        position_ = at + lineLength + (lineFeed ? 1 : 0);
        beginStatement();
        startLine(position_);
        return true;
    }

    void startLine(std::size_t at) {
        lineStart_ = true;
        lineBegin_ = base_ + at;
        executableLine_ = false;
        space_ = false;
    }

    // Where the client's reading of statement text begins, with the quotes
    // read as the session's flags have it (the scanner refuses where they
    // may part).
    SQLDumpClientText::Start clientStart(bool space, bool midLine) const {
        using Flag = SQLDumpSqlMode::Flag;
        const SQLDumpSqlMode::Flags flags = mode_.reading();
        return {executableLine_, space, midLine, flags.ansiQuotes == Flag::on,
                flags.noBackslashEscapes == Flag::on};
    }

    void markSignificant(std::size_t at) {
        significant_ = readFrom_ = base_ + at;
        reader_.emplace(clientStart(space_, false), SQLDumpStatement::headLimit);
        space_ = false;
    }

    // Inside '...' or "..." by the session's flags as the client has them
    // for this statement.
    Escapes escapesIn(char quote) const {
        using Flag = SQLDumpSqlMode::Flag;
        const SQLDumpSqlMode::Flags flags = mode_.reading();
        if (flags.noBackslashEscapes == Flag::on || (quote == '"' && flags.ansiQuotes == Flag::on))
            return Escapes::none;
        if (flags.noBackslashEscapes == Flag::off &&
            (quote == '\'' || flags.ansiQuotes == Flag::off))
            return Escapes::escapes;
        return Escapes::unsettled;
    }

    // A quote whose backslashes the client may read either way: the two
    // readings part only where a backslash escapes the quote byte, which is
    // refused, and at a backslash that ends a line, which the client mangles
    // when it reads an escape.
    const char* unsettledQuote(const char* p, const char* stop, const char* last, const char* start,
                               Lexical& state) const {
        const auto offset = [&](const char* at) {
            return base_ + static_cast<std::uint64_t>(at - start);
        };
        while (p < stop) {
            if (*p == '\\') {
                if (p + 1 < last && p[1] == quote_) {
                    if (quote_ == '"' && mode_.reading().ansiQuotes != SQLDumpSqlMode::Flag::off)
                        throw AmbiguousQuote{offset(p), quotesUnknownSince_};
                    throw AmbiguousEscape{offset(p), escapesUnknownSince_};
                }
                if (p + 1 < last && p[1] == '\n')
                    throw EscapedLineEnd{offset(p)};
                p += p + 1 < last ? 2 : 1;
            } else if (*p == quote_) {
                if (p + 1 < last && p[1] == quote_) {
                    p += 2;
                    continue;
                }
                state = Lexical::normal;
                return p + 1;
            } else {
                p += 1;
            }
        }
        return p;
    }

    // Lexical states -------------------------------------------------------

    // Scans [position_, end). Statement text, quotes and comments stay in
    // this loop with a local cursor; what precedes a statement's first
    // significant byte and its end go through the members that handle them.
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
            case Lexical::quote: {
                const char* const from = p;
                const Escapes escapes = quote_ == '`' ? Escapes::none : escapesIn(quote_);
                if (escapes == Escapes::none) {
                    // A backslash is an ordinary byte here.
                    for (;;) {
                        p = findByte(p, stop, quote_);
                        if (p >= stop)
                            break;
                        if (at(p + 1) == quote_) {
                            p += 2;
                            continue;
                        }
                        p += 1;
                        state = Lexical::normal;
                        break;
                    }
                } else if (escapes == Escapes::unsettled) {
                    p = unsettledQuote(p, stop, last, start, state);
                } else {
                    p = closingQuote(p, stop, quote_, last);
                    if (p < stop && *p == '\\')
                        throw EscapedLineEnd{base_ + static_cast<std::uint64_t>(p - start)};
                    if (p < stop) {
                        p += 1;
                        state = Lexical::normal;
                    }
                }
                // The client forgets a "/*!" at each line's end, inside a
                // quote too.
                if (executableLine_ && findByte(from, std::min(p, last), '\n') < std::min(p, last))
                    executableLine_ = false;
                break;
            }
            case Lexical::lineComment:
                p = findByte(p, stop, '\n');
                if (p < stop) {
                    p += 1;
                    state = Lexical::normal;
                    if (significant_)
                        executableLine_ = false;
                    else
                        startLine(static_cast<std::size_t>(p - start));
                }
                break;
            case Lexical::blockComment:
                // On a line with a "/*!", the first "*/" only ends that.
                for (;;) {
                    p = blockEvents_.find(p, stop);
                    if (p >= stop)
                        break;
                    const char c = *p;
                    if (c == '\n') {
                        executableLine_ = false;
                        p += 1;
                    } else if (c == '*') {
                        if (at(p + 1) != '/') {
                            p += 1;
                        } else if (executableLine_) {
                            executableLine_ = false;
                            p += 1;
                        } else {
                            p += 2;
                            state = Lexical::normal;
                            // The client puts a space before the next byte
                            // it adds, maybe the next statement's first.
                            space_ = !significant_ ||
                                     spaceReachesDelimiter(static_cast<std::size_t>(p - start));
                            break;
                        }
                    } else if (at(p + 1) == '*') {
                        if (at(p + 2) == '!')
                            executableLine_ = true;
                        p += opensExecutable(at(p + 2), at(p + 3)) ? 1 : 2;
                    } else {
                        p += 1;
                    }
                }
                break;
            case Lexical::normal:
                if (!significant_) {
                    // The usual statement start inline: a letter that cannot
                    // begin a DELIMITER command, or a line feed.
                    const int c = at(p);
                    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
                    if (c == '\n') {
                        p += 1;
                        startLine(static_cast<std::size_t>(p - start));
                        break;
                    }
                    if (!letter || (lineStart_ && mayNameCommand(c)) ||
                        c == static_cast<unsigned char>(delimiter_.front())) {
                        call([this] { leading(); });
                        break;
                    }
                    lineStart_ = false;
                    markSignificant(static_cast<std::size_t>(p - start));
                }
                for (;;) {
                    p = executable_ ? executableEvents_.find(p, stop) : normalEvents_.find(p, stop);
                    if (p >= stop)
                        break;
                    const char c = *p;
                    if (c == '\\') {
                        // A backslash command: "\-" is left out, "\N" is
                        // text, any other but "\C" stops the client.
                        const int next = at(p + 1);
                        if (next == 'C')
                            refuseCharsetCommand(static_cast<std::size_t>(p - start));
                        p += next == '\n' || next < 0 ? 1 : 2;
                        continue;
                    }
                    if (c == delimiter_.front() &&
                        (delimiter_.size() == 1 ||
                         matchesDelimiter(static_cast<std::size_t>(p - start)))) {
                        const std::size_t delimiterAt = static_cast<std::size_t>(p - start);
                        call([this, delimiterAt] { endStatement(delimiterAt); });
                        break;
                    }
                    if (c == ';') {
                        semicolonWithin(static_cast<std::size_t>(p - start));
                        p += 1;
                        continue;
                    }
                    if (c == '\'' || c == '"' || c == '`') {
                        quote_ = c;
                        state = Lexical::quote;
                        p += 1;
                        break;
                    }
                    if (c == '#' || (c == '-' && at(p + 1) == '-' &&
                                     SQLDumpClientText::opensDashComment(at(p + 2)))) {
                        state = Lexical::lineComment;
                        p += c == '#' ? 1 : 2;
                        break;
                    }
                    if (c == '\n') {
                        executableLine_ = false;
                        p += 1;
                        continue;
                    }
                    if (c == '/' && at(p + 1) == '*') {
                        if (!opensExecutable(at(p + 2), at(p + 3))) {
                            state = Lexical::blockComment;
                            p += 2;
                            break;
                        }
                        // Statement text; the client looks at the "*" and
                        // the "!" on their own again.
                        executable_ = true;
                        if (at(p + 2) == '!')
                            executableLine_ = true;
                        p += 1;
                        continue;
                    }
                    if (c == '*' && at(p + 1) == '/') {
                        executable_ = false;
                        executableLine_ = false;
                    }
                    p += 1;
                }
                break;
            }
        }
        position_ = static_cast<std::size_t>(p - start);
        lexical_ = state;
    }

    // One step before a statement's first significant byte, in the client's
    // order: a dropped comment line, a DELIMITER command line, a backslash
    // command, the delimiter (an empty statement), blanks and comments.
    void leading() {
        const std::size_t at = position_;
        const int c = peek(at);
        if (lineStart_) {
            if (base_ + at == lineBegin_ &&
                (c == '#' || c == 0 || (c == '-' && peek(at + 1) == '-'))) {
                lineStart_ = false;
                lexical_ = Lexical::lineComment;
                position_ = at + 1;
                return;
            }
            if (SQLDumpClientText::isBlank(c) && c != '\n') {
                position_ = at + 1;
                return;
            }
            lineStart_ = false;
            if (mayNameCommand(c) && delimiterCommand())
                return;
        }
        if (c == '\\') {
            const int next = peek(at + 1);
            if (next == 'C')
                refuseCharsetCommand(at);
            if (next == '-' || next == '\n' || next < 0) { // run, or dropped at the line's end
                position_ = at + (next == '-' ? 2 : 1);
                return;
            }
        } else if (c == static_cast<unsigned char>(delimiter_.front()) && matchesDelimiter(at)) {
            endStatement(at);
            return;
        } else if (SQLDumpClientText::isBlank(c)) {
            position_ = at + 1;
            if (c == '\n')
                startLine(position_);
            return;
        } else if (c == '#' || (c == '-' && peek(at + 1) == '-')) {
            // Before any statement text, "--" opens a comment whatever follows.
            lexical_ = Lexical::lineComment;
            position_ = at + (c == '#' ? 1 : 2);
            return;
        } else if (c == '/' && peek(at + 1) == '*' &&
                   !opensExecutable(peek(at + 2), peek(at + 3))) {
            lexical_ = Lexical::blockComment;
            position_ = at + 2;
            return;
        }
        markSignificant(at);
    }

    void finish() {
        const std::uint64_t end = base_ + length_;
        if (end > statementStart_)
            checkLimit(length_);
        // The server refuses an executable comment left open; a truncated
        // dump is better refused here, before anything is made.
        if (lexical_ == Lexical::quote || lexical_ == Lexical::blockComment || executable_)
            throw VessoraError(L10n::text("The SQL file ends inside a quoted value or comment."));
        if (end > statementStart_) {
            endWithin(length_);
            conclude(length_);
        }
        flush(length_);
        if (summary_.statementCount < 1)
            throw VessoraError(L10n::text("The SQL file contains no statements."));
    }

    Source& source_;
    Sink& sink_;
    std::string database_;
    const Observer& observer_;

    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    std::size_t length_ = 0;   // bytes in the window
    std::uint64_t base_ = 0;   // input offset of the window's first byte
    std::size_t position_ = 0; // scan position in the window
    bool eof_ = false;

    std::size_t emitFrom_ = 0;  // first window byte not yet written
    std::uint64_t written_ = 0; // bytes written to the sink

    std::string delimiter_ = ";";
    ByteSet<10> normalEvents_;
    ByteSet<11> executableEvents_;
    ByteSet<3> blockEvents_;
    bool executable_ = false;     // inside "/*!" or "/*M!" up to its "*/", as the server reads it
    bool executableLine_ = false; // a "/*!" opened on this line, as the client tracks it
    bool space_ = false;          // a block comment ended and the client added nothing since
    Lexical lexical_ = Lexical::normal;
    char quote_ = 0;
    // Only blanks since the start of the line at lineBegin_, nothing pending.
    bool lineStart_ = true;
    std::uint64_t lineBegin_ = 0;

    std::uint64_t statementStart_ = 0;         // input offset
    std::uint64_t statementOutput_ = 0;        // output offset
    std::optional<std::uint64_t> significant_; // input offset of its first significant byte
    // The client's text of it, read up to readFrom_, and its first bytes
    // once they have left the window.
    std::optional<SQLDumpClientText::Reader> reader_;
    std::uint64_t readFrom_ = 0;
    // The text after its last ";" that is not the delimiter.
    std::optional<SQLDumpClientText::Reader> within_;
    std::uint64_t withinFrom_ = 0;
    std::uint64_t withinStart_ = 0;
    std::string leading_;
    SQLDump::Summary summary_;
    // The session's mode after the statements the client has sent.
    SQLDumpSqlMode mode_;
    std::uint64_t quotesUnknownSince_ = 0;
    std::uint64_t escapesUnknownSince_ = 0;
    std::optional<std::uint64_t> apartAt_;
    std::uint64_t checkedTo_ = 0;
    std::optional<std::uint64_t> trailAt_;
    unsigned char carried_ = 0; // the byte before the window
};

} // namespace

SQLDump::Summary scan(Source& source, Sink& sink, std::string_view database, std::size_t window,
                      const Observer& observer, SQLDumpSqlMode::Release release) {
    return Scanner(source, sink, database, window, observer, release).run();
}

} // namespace vessora::SQLDumpScanner
