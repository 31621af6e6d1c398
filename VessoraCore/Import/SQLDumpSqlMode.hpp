// The two sql_mode flags that change how the MariaDB client reads quotes,
// as the server holds them for the loading session, followed statement by
// statement through the text the client sends (SQLDumpClientText).
//
// The client reads a backslash inside "..." as an ordinary byte while the
// server reports ANSI_QUOTES, and inside '...' and "..." while it reports
// NO_BACKSLASH_ESCAPES; it takes both from the server's status after each
// statement it runs. Each flag is off, on, or unknown (it may be on).
//
// It starts as the environment's server has it: the engine sets no sql_mode,
// so MariaDB's default, which has neither flag. Evaluated, with the server's
// rules (a comma list of mode names in any letter case, empty items allowed;
// ANSI, DB2, MAXDB, MSSQL, ORACLE and POSTGRESQL include ANSI_QUOTES):
//   SET [SESSION | LOCAL] sql_mode {= | :=} v, also @@[session. | local.]sql_mode
//   SET @name = v, where v = @name reads it back (names in any letter case)
// where v is a quoted literal ("..." only while ANSI_QUOTES is off), a word
// or `name`, DEFAULT (the server's global mode), @@[session. | local.]sql_mode
// or a @name; several assignments in one SET run left to right; executable
// comments count as the server runs them.
// Anything else that may change the session's flags makes them unknown:
// another value (a number, an expression), SET GLOBAL of sql_mode (for a
// later DEFAULT), a SET cut at the examined length or not read, SET STATEMENT
// (the server restores its mode after the statement, not the flags it
// reports), CALL, EXECUTE, a compound statement run in place, any statement
// once the dump has made a trigger or routine that may set sql_mode (the
// server does not take back the flags such code reports), and a mention of
// sql_mode after a ";" within a statement (it may run now or belong to a
// routine's body). A statement that may assign a user variable, or run code
// that does, makes the mode it holds unknown.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace vessora {

class SQLDumpSqlMode {
public:
    enum class Flag : std::uint8_t { off, on, unknown };

    struct Flags {
        Flag ansiQuotes = Flag::off;
        Flag noBackslashEscapes = Flag::off;
        bool operator==(const Flags&) const = default;
    };

    static constexpr Flags unknown{Flag::unknown, Flag::unknown};

    // As the environment's server starts a session.
    SQLDumpSqlMode() = default;

    Flags flags() const { return session_; }

    // After the server ran one statement the client sent: `text` is its
    // examined text, `cut` when the statement goes on past it. Applies what
    // ranWithin() saw of it first.
    void ran(std::string_view text, bool cut);
    // A statement that may fire triggers, call functions and assign user
    // variables, read or not (as any but SET, CREATE, DROP, USE and those
    // that run code in place).
    void ranUnread();
    // Whether a statement whose bytes begin with `head` (and whose first word
    // is none of SET, CREATE, USE, ALTER, DROP) may go unread: it begins
    // with none of the words that run code in place.
    static bool unreadSuffices(std::string_view head);
    // A further statement after a ";" within the one ran() gets next.
    void ranWithin(std::string_view text, bool cut);

    // The flags of a sql_mode value, false when the server refuses it.
    static bool modes(std::string_view value, Flags& flags);

private:
    bool set(std::string_view text);
    void runsCode();
    void applyWithin();

    Flags session_;
    Flags global_;
    bool globalChanged_ = false;
    std::map<std::string, Flags> variables_; // by lower-cased name
    // Triggers and routines made so far: whether one may set sql_mode, and
    // the user variables they name (any when one is unread or names them
    // in quotes).
    bool codeMaySetMode_ = false;
    bool codeAnyVariable_ = false;
    std::set<std::string> codeVariables_;
    // What the statements within the next one do, once it has run.
    bool within_ = false;
    bool withinSetsMode_ = false;
    bool withinRunsCode_ = false;
    bool withinAnyVariable_ = false;
    std::set<std::string> withinVariables_;
};

} // namespace vessora
