// Server settings raised on the running server for the length of one bulk
// load and put back when the guard ends, on every path. The configuration
// file is never touched, so the next start of the server uses its own
// values whatever happens here.
//
// Raised: the InnoDB buffer pool to at least 512 MiB (resized at run time),
// so the loaded tables' indexes stay in memory instead of being written out
// and read back page by page; and the redo log flushed once a second rather
// than at every commit. Putting the flush setting back to 1 makes the next
// commit flush everything written before it, so nothing loaded stays
// unflushed once the load has ended.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vessora {

class BulkLoadSettings {
public:
    // Runs one SQL text on the server and returns its batch output.
    using Runner = std::function<std::string(const std::string&)>;

    static constexpr std::int64_t bufferPoolSize = 512LL << 20;

    // Reads the current values, then raises them. Throws the runner's error,
    // or "Could not read the database server's settings." for output that is
    // not two whole numbers; a failed raise puts back what it changed first.
    explicit BulkLoadSettings(Runner run);
    // Puts every value back, waiting up to 10 s for a resize still running
    // to let it; never throws.
    ~BulkLoadSettings();

    BulkLoadSettings(const BulkLoadSettings&) = delete;
    BulkLoadSettings& operator=(const BulkLoadSettings&) = delete;

    // The statements that read, raise, and put back (reading again).
    static std::string raiseStatement();
    static std::string restoreStatement(std::int64_t bufferPool, std::int64_t flushAtCommit);
    static const char* readStatement();

private:
    void restore() noexcept;

    Runner run_;
    std::int64_t bufferPool_ = 0;
    std::int64_t flushAtCommit_ = -1;
    std::string restore_;
};

} // namespace vessora
