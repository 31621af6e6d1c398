// A second, plain implementation of the dump splitter, for differential
// tests and the fuzz target: the whole dump in memory, read line by line
// and byte by byte the way the MariaDB client reads its input, building the
// text the client sends for each statement as the client builds it; no
// window, no search shortcuts, the output built as a string. It shares only
// the per-statement rules (SQLDumpStatement) with the production scanner;
// the DELIMITER command and its name it reads on its own, so a fault in
// either reading shows as a difference.
//
// Also the in-memory ends for SQLDumpScanner: a source that hands out the
// dump in pieces of chosen sizes, so window edges fall everywhere, and a
// sink that keeps the output in a string.
#pragma once

#include "VessoraCore/Import/SQLDumpScanner.hpp"
#include "VessoraCore/Import/SQLDumpSummary.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vessora::SQLDumpTesting {

struct Prepared {
    std::string output;
    SQLDump::Summary summary;
    std::string error; // the refusal's sentence; empty on success
    // The text the client sends for each statement, as far as examined.
    std::vector<std::string> statements;
};

class PieceSource final : public SQLDumpScanner::Source {
public:
    // Empty `pieces`: everything that fits at once.
    explicit PieceSource(std::string_view data, std::vector<std::size_t> pieces = {})
        : data_(data), pieces_(std::move(pieces)) {}
    std::size_t read(char* into, std::size_t capacity) override;

private:
    std::string_view data_;
    std::vector<std::size_t> pieces_;
    std::size_t offset_ = 0;
    std::size_t next_ = 0;
};

class StringSink final : public SQLDumpScanner::Sink {
public:
    void write(std::string_view bytes) override { bytes_.append(bytes); }
    void truncate(std::uint64_t size) override;
    void overwrite(std::uint64_t offset, std::string_view bytes) override;
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// The production scanner over a dump in memory.
Prepared scanned(std::string_view dump, std::string_view database,
                 std::size_t window = SQLDumpScanner::defaultWindow,
                 std::vector<std::size_t> pieces = {});

// The reference splitter.
Prepared reference(std::string_view dump, std::string_view database);

// The dump with each statement that holds `marker` (from the previous ";"
// up to its own) exchanged for the selection of `target`, as preparing a
// dump whose statements end in ";" rewrites it.
// With `defaults`, the statement gives the target the database's character
// set and collation first.
std::string selecting(std::string dump, std::string_view marker, std::string_view target,
                      std::string_view defaults = {});
// The dump with each DEFINER=`user`@`host` that mariadb-dump and phpMyAdmin
// write blanked, as preparation leaves the definer out.
std::string withoutDefiners(std::string dump);

// Runs one fuzz input (first byte: window and piece sizes, rest: the dump)
// through the scanner with a small window, with the default window and
// through the reference; returns what differs, or the empty text. On
// success without a database statement the output must equal the dump
// without its byte-order mark.
std::string differences(std::string_view input);

} // namespace vessora::SQLDumpTesting
