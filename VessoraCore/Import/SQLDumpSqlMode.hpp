// The two sql_mode flags that change how the MariaDB client reads quotes,
// as the server holds them for the loading session, followed statement by
// statement through the text the client sends (SQLDumpClientText).
//
// The client reads a backslash inside "..." as an ordinary byte while the
// server reports ANSI_QUOTES, and inside '...' and "..." while it reports
// NO_BACKSLASH_ESCAPES; it takes both from the server's status after each
// text it sends. Each flag is off, on, or unknown (it may be on).
//
// It starts as the environment's server has it: the engine sets no sql_mode,
// so MariaDB's default, which has neither flag. Evaluated, with the server's
// rules (a comma list of mode names in any letter case, empty items allowed;
// ANSI, DB2, MAXDB, MSSQL, ORACLE and POSTGRESQL include ANSI_QUOTES):
//   SET [SESSION | LOCAL] sql_mode {= | :=} v, also @@[session. | local.]sql_mode
//   SET @name = v, where v = @name reads it back
// where v is a quoted literal ("..." only while ANSI_QUOTES is off), a word
// or `name`, DEFAULT (the server's global mode), @@[session. | local.]sql_mode
// or a @name. One SET evaluates all its values before it assigns any.
// User variables are named as the server compares them (letter case folded
// through Unicode). Executable comments count as the environment's server
// version runs them.
//
// Making a trigger, routine, event or view runs none of its code: the code
// is kept, with what it may do (set sql_mode, run dynamic SQL, assign user
// variables, reach other code by name). A statement that runs code the dump
// made, as far as its words name it (a call, a function, a table whose
// triggers fire, a view), takes on what that code may do; the flags become
// unknown only when it may change sql_mode. Anything else that may change
// the session's flags makes them unknown too: another value (a number, an
// expression), SET GLOBAL of sql_mode (for a later DEFAULT), a SET cut at
// the examined length, SET STATEMENT (the server restores its mode after the
// statement, not the flags it reports), EXECUTE and a compound statement run
// in place.
//
// A text with ";" within it (in a DELIMITER block) is several statements to
// the server: the first one's pieces (firstWithin), each further one
// (ranWithin), then the whole (ran). While a trigger's, routine's or event's
// BEGIN ... END body is open the pieces belong to it; any other piece runs
// on its own, in order, with the flags the ones before it left. The client
// read the whole text with the flags it began with, so once a piece changes
// a flag, a later piece that holds a byte the two readings may part on
// throws ReadApart.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vessora {

// The releases a dump may load into, as in /*!NNNNNN (110400 for 11.4.0):
// the environment's server, exactly once it is known.
struct SQLDumpRelease {
    long lowest = 110400;
    long highest = 110499;
};

class SQLDumpSqlMode {
public:
    enum class Flag : std::uint8_t { off, on, unknown };

    struct Flags {
        Flag ansiQuotes = Flag::off;
        Flag noBackslashEscapes = Flag::off;
        // The server reads the session's text in a multibyte set (big5, gbk,
        // sjis, cp932, gb18030) whose characters may end in "\\" or "`".
        Flag multibyte = Flag::off;
        bool operator==(const Flags&) const = default;
    };

    static constexpr Flags unknown{Flag::unknown, Flag::unknown, Flag::unknown};

    using Release = SQLDumpRelease;

    // A piece after a change of the flags within one text holds a byte the
    // server reads apart from the client.
    struct ReadApart {};

    // As the environment's server starts a session.
    explicit SQLDumpSqlMode(Release release = {}) : release_(release) {}

    // The server's flags after what has run.
    Flags flags() const { return session_; }
    // The flags the client reads the text in progress with.
    Flags reading() const { return block_ ? client_ : session_; }
    // Within a text: a piece changed a flag the client read it with.
    bool readsApart() const {
        return apart_.ansiQuotes || apart_.noBackslashEscapes || apart_.multibyte;
    }

    // After the server ran a text the client sent: `text` is its examined
    // text, `cut` when it goes on past it.
    void ran(std::string_view text, bool cut);
    // A statement that may fire triggers, call functions and assign user
    // variables, read or not (as any but SET, CREATE, DROP, USE and those
    // that run code in place).
    void ranUnread();
    // Whether a statement whose bytes begin with `head` (and whose first word
    // is none of SET, CREATE, USE, ALTER, DROP) may go unread: it begins
    // with none of the words that run code in place, and no code the dump
    // made may change sql_mode.
    bool unreadSuffices(std::string_view head) const;
    // The text before the first ";" within the one ran() gets next.
    void firstWithin(std::string_view text, bool cut);
    // A further statement after a ";" within it.
    void ranWithin(std::string_view text, bool cut);

    // The flags of a sql_mode value, false when the server refuses it.
    static bool modes(std::string_view value, Flags& flags);
    // Where, read in a multibyte set of Flags::multibyte, `bytes` (after the
    // byte `before`) hold a byte of 0x81 or more right before a "`", or
    // before a "\\" that the client takes as escaping a quote, a backslash
    // or a line end: the server reads the two as one character. npos if
    // nowhere.
    static std::size_t trailApart(std::string_view bytes, unsigned char before);
    // A user variable's name as the server tells names apart.
    static std::string variableKey(std::string_view name);

    // What code may do once it runs.
    struct Code {
        bool setsMode = false;
        bool setsCharset = false;
        bool anyVariable = false;
        std::set<std::string> variables;
        std::vector<std::string> words; // names it may reach other code by, read
        // Those names hashed, as kept for code made: it may reach code of a
        // name whose bits are set.
        std::array<std::uint64_t, 4> names{};
        void add(const Code& other);
        void name(std::string_view lowered);
    };

private:
    struct Apart {
        bool ansiQuotes = false;
        bool noBackslashEscapes = false;
        bool multibyte = false;
    };

    void apply(std::string_view text, bool cut);
    bool set(std::string_view text);
    void runs(const Code& statement, bool cut);
    void modeUnknown();
    Code reach(const std::vector<std::string>& words, bool allRoutines) const;
    // `hashed`: its names kept as code made keeps them.
    Code codeOf(std::string_view text, bool cut, const void* lexed = nullptr,
                bool hashed = false) const;
    // A piece of a body: its code added to `code`, and the BEGIN ... END
    // blocks it opens and closes, read in one pass.
    void pieceOf(std::string_view text, bool cut, Code& code);
    void made(const std::string& kind, const std::string& key, const Code& code);
    void endBlock();
    void endBlockBody();
    void noteApart();

    Release release_;
    Flags session_;
    Flags global_;
    bool globalChanged_ = false;
    std::map<std::string, Flags, std::less<>> variables_; // by variableKey()
    // Code the dump made, each with the two bits its name sets in a hash of
    // names; found by name (routines and views) or table (triggers), and by
    // each bit, so what code reaches is found without trying every object.
    struct Object {
        Code code;
        std::uint8_t first = 0;
        std::uint8_t second = 0;
    };
    std::vector<Object> objects_;
    std::unordered_map<std::string, std::uint32_t> routines_;
    std::unordered_map<std::string, std::uint32_t> triggers_;
    std::array<std::vector<std::uint32_t>, 256> byBit_;
    Code all_; // what all code made may do
    // What code reached from each set of objects may do, until more is made.
    mutable std::map<std::vector<std::uint32_t>, Code> reached_;
    bool anySetsMode_ = false;
    bool anySetsCharset_ = false;
    // The text in progress with ";" within it.
    bool block_ = false;
    Flags client_;
    Apart apart_;
    bool making_ = false; // its first piece makes code whose body is open
    int depth_ = 0;       // BEGIN ... END blocks open in that body
    std::string pendingKind_;
    std::string pendingKey_;
    Code pending_;
};

} // namespace vessora
