// One worker thread that runs submitted work one item at a time, in the
// order of submission. Work must not throw (an escaping exception is
// dropped). The destructor runs what is queued, then joins the thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vessora {

class SerialQueue {
public:
    SerialQueue();
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> work);
    // Runs `work` on the queue after everything queued before it and waits
    // for it. Must not be called from the queue itself.
    void sync(const std::function<void()>& work);

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> work_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace vessora
