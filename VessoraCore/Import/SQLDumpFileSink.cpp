#include "VessoraCore/Import/SQLDumpFileSink.hpp"

#include <cerrno>
#include <system_error>
#include <unistd.h>

namespace vessora {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const fs::path& path, int error) {
    throw fs::filesystem_error("Could not write file", path,
                               std::error_code(error, std::generic_category()));
}

} // namespace

SQLDumpFileSink::SQLDumpFileSink(UniqueFd file, fs::path path)
    : file_(std::move(file)), path_(std::move(path)), thread_([this] { run(); }) {
    current_.reserve(bufferSize);
}

SQLDumpFileSink::~SQLDumpFileSink() {
    {
        const std::lock_guard lock(mutex_);
        queue_.clear();
    }
    stop();
}

void SQLDumpFileSink::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t count = std::min(bytes.size(), bufferSize - current_.size());
        current_.append(bytes.substr(0, count));
        bytes.remove_prefix(count);
        if (current_.size() == bufferSize)
            handOver();
    }
}

void SQLDumpFileSink::truncate(std::uint64_t size) {
    drain();
    if (::ftruncate(file_.get(), off_t(size)) != 0 ||
        ::lseek(file_.get(), off_t(size), SEEK_SET) < 0)
        fail(path_, errno);
}

void SQLDumpFileSink::overwrite(std::uint64_t offset, std::string_view bytes) {
    drain();
    while (!bytes.empty()) {
        const ssize_t count = ::pwrite(file_.get(), bytes.data(), bytes.size(), off_t(offset));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            fail(path_, count < 0 ? errno : EIO);
        bytes.remove_prefix(std::size_t(count));
        offset += std::uint64_t(count);
    }
}

void SQLDumpFileSink::close() {
    drain();
    stop();
    if (::close(file_.release()) != 0)
        fail(path_, errno);
}

void SQLDumpFileSink::handOver() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < waiting || error_; });
    if (error_)
        std::rethrow_exception(error_);
    queue_.push_back(std::move(current_));
    if (spare_.empty()) {
        current_ = std::string();
        current_.reserve(bufferSize);
    } else {
        current_ = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

void SQLDumpFileSink::drain() {
    if (!current_.empty())
        handOver();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (queue_.empty() && !writing_) || error_; });
    if (error_)
        std::rethrow_exception(error_);
}

void SQLDumpFileSink::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SQLDumpFileSink::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || stopping_; });
        if (queue_.empty())
            return;
        std::string buffer = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        lock.unlock();
        std::exception_ptr error;
        try {
            writeAll(buffer);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        writing_ = false;
        if (error) {
            error_ = error;
            queue_.clear();
        }
        buffer.clear();
        spare_.push_back(std::move(buffer));
        changed_.notify_all();
    }
}

void SQLDumpFileSink::writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(file_.get(), bytes.data(), bytes.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            fail(path_, errno);
        }
        bytes.remove_prefix(std::size_t(count));
    }
}

} // namespace vessora
