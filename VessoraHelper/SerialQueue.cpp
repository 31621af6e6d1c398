#include "VessoraHelper/SerialQueue.hpp"

#include <future>

namespace vessora {

SerialQueue::SerialQueue() : thread_([this] { loop(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard guard(mutex_);
        work_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void SerialQueue::sync(const std::function<void()>& work) {
    std::promise<void> done;
    async([&] {
        try {
            work();
        } catch (...) {
        }
        done.set_value();
    });
    done.get_future().wait();
}

void SerialQueue::loop() {
    while (true) {
        std::function<void()> next;
        {
            std::unique_lock guard(mutex_);
            wake_.wait(guard, [this] { return stopping_ || !work_.empty(); });
            if (work_.empty())
                return;
            next = std::move(work_.front());
            work_.pop_front();
        }
        try {
            next();
        } catch (...) {
        }
    }
}

} // namespace vessora
