// The file end of the dump scanner: writes the prepared dump to an open
// file on a thread of its own, so scanning goes on while earlier bytes
// reach the file. It copies what it is given into a few 1 MiB buffers and
// blocks when they are all waiting, so memory stays bounded.
//
// A failed write is thrown (std::filesystem::filesystem_error) by the next
// write(), truncate() or close(); after it nothing more is written.
// close() writes what is left, closes the file and throws if either fails;
// the destructor alone (a failed run) drops what is left and closes without
// a check.
#pragma once

#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Import/SQLDumpScanner.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vessora {

class SQLDumpFileSink final : public SQLDumpScanner::Sink {
public:
    SQLDumpFileSink(UniqueFd file, std::filesystem::path path);
    ~SQLDumpFileSink() override;
    SQLDumpFileSink(const SQLDumpFileSink&) = delete;
    SQLDumpFileSink& operator=(const SQLDumpFileSink&) = delete;

    void write(std::string_view bytes) override;
    void truncate(std::uint64_t size) override;
    void overwrite(std::uint64_t offset, std::string_view bytes) override;
    void close();

private:
    void handOver();                       // queues the current buffer
    void drain();                          // waits until everything queued is written
    void run();                            // the writing thread
    void writeAll(std::string_view bytes); // on the writing thread
    void stop();

    static constexpr std::size_t bufferSize = std::size_t(1) << 20;
    static constexpr std::size_t waiting = 3;

    UniqueFd file_;
    std::filesystem::path path_;
    std::string current_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    std::vector<std::string> spare_;
    bool writing_ = false;
    bool stopping_ = false;
    std::exception_ptr error_;
    std::thread thread_; // last: starts once the rest is ready
};

} // namespace vessora
