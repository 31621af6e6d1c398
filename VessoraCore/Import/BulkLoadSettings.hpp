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
// unflushed once the load has ended. It is put back first and on its own:
// a resize the server fails must not keep durability weakened.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace vessora {

class BulkLoadSettings {
public:
    // Runs one SQL text on the server and returns its batch output.
    using Runner = std::function<std::string(const std::string&)>;

    static constexpr std::int64_t bufferPoolSize = 512LL << 20;

    // How often and how long the put-back tries, both parts together: a
    // part the server fails or refuses (a resize still running refuses the
    // next one) is tried again after the pause.
    struct Retry {
        int attempts = 100;
        std::chrono::milliseconds pause{100};
        // Whichever ends first, the runs or this time, ends the put-back.
        std::chrono::milliseconds limit{10000};
    };

    // Reads the current values, then raises them. Throws the runner's error,
    // or "Could not read the database server's settings." for output that is
    // not two whole numbers; a failed raise puts back what it changed first.
    explicit BulkLoadSettings(Runner run);
    BulkLoadSettings(Runner run, Retry retry);
    // Puts every value back, trying each part at least once and then again
    // within the retry bound (100 runs and 10 s by default); never throws.
    ~BulkLoadSettings();

    BulkLoadSettings(const BulkLoadSettings&) = delete;
    BulkLoadSettings& operator=(const BulkLoadSettings&) = delete;

    // The statements that read, raise, and put back each value (reading
    // both again).
    static std::string raiseStatement();
    static std::string restoreFlushStatement(std::int64_t flushAtCommit);
    static std::string restorePoolStatement(std::int64_t bufferPool);
    static const char* readStatement();

private:
    void restore() noexcept;
    // Runs `statement` until `holds` accepts the values read back or the
    // bound ends; `attempts` counts the runs of the whole put-back.
    bool putBack(const std::string& statement,
                 const std::function<bool(std::int64_t, std::int64_t)>& holds, int& attempts,
                 std::chrono::steady_clock::time_point deadline) noexcept;

    Runner run_;
    Retry retry_;
    std::int64_t bufferPool_ = 0;
    std::int64_t flushAtCommit_ = -1;
};

} // namespace vessora
