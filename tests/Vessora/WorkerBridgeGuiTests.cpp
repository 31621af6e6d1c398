// The worker bridge: jobs off the main thread, answers on it, exceptions
// turned into texts, and no answer for a receiver that is gone.
#include "Vessora/App/WorkerBridge.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vessora {
namespace {

using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 10000);
}

// A latch the test opens; waits are bounded.
class Gate {
public:
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool wait() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

TEST(WorkerBridgeTest, RunsTheJobOffTheMainThreadAndAnswersOnIt) {
    WorkerBridge bridge;
    QObject receiver;
    std::atomic<QThread*> jobThread{nullptr};
    QThread* answerThread = nullptr;
    std::optional<int> value;
    bridge.run(
        &receiver,
        [&jobThread] {
            jobThread = QThread::currentThread();
            return 42;
        },
        [&](int result) {
            answerThread = QThread::currentThread();
            value = result;
        },
        [](const std::string&) { FAIL() << "no error expected"; });
    ASSERT_TRUE(waitFor([&] { return value.has_value(); }));
    EXPECT_EQ(*value, 42);
    EXPECT_EQ(answerThread, QCoreApplication::instance()->thread());
    EXPECT_NE(jobThread.load(), QCoreApplication::instance()->thread());
}

TEST(WorkerBridgeTest, EveryThrownThingBecomesAText) {
    WorkerBridge bridge;
    QObject receiver;
    std::vector<std::string> errors;
    const auto collect = [&](const std::string& text) { errors.push_back(text); };
    const auto unexpected = [] { FAIL() << "no value expected"; };
    bridge.run(
        &receiver, [] { throw VessoraError("The engine said no."); }, unexpected, collect);
    ASSERT_TRUE(waitFor([&] { return errors.size() == 1; }));
    bridge.run(
        &receiver, []() -> int { throw std::runtime_error("runtime"); },
        [](int) { FAIL() << "no value expected"; }, collect);
    ASSERT_TRUE(waitFor([&] { return errors.size() == 2; }));
    bridge.run(
        &receiver, [] { throw 7; }, unexpected, collect);
    ASSERT_TRUE(waitFor([&] { return errors.size() == 3; }));
    EXPECT_EQ(errors[0], "The engine said no.");
    EXPECT_EQ(errors[1], "runtime");
    EXPECT_EQ(errors[2], "An unknown error occurred.");
}

TEST(WorkerBridgeTest, AReceiverThatIsGoneGetsNoAnswer) {
    WorkerBridge bridge;
    auto receiver = std::make_unique<QObject>();
    Gate gate;
    std::atomic<bool> finished{false};
    bool answered = false;
    bridge.run(
        receiver.get(),
        [&] {
            gate.wait();
            finished = true;
        },
        [&] { answered = true; }, [&](const std::string&) { answered = true; });
    receiver.reset();
    gate.open();
    ASSERT_TRUE(waitFor([&] { return finished.load(); }));
    bridge.waitForDone();
    // Deliver anything that was posted.
    QCoreApplication::processEvents();
    QTest::qWait(50);
    EXPECT_FALSE(answered);
}

TEST(WorkerBridgeTest, FourBlockingJobsRunAtTheSameTime) {
    WorkerBridge bridge;
    EXPECT_GE(bridge.maxThreadCount(), WorkerBridge::minimumThreads);
    QObject receiver;
    // Each job waits until all four have started: with fewer threads the
    // later ones would never start and the wait would run out.
    std::mutex mutex;
    std::condition_variable allStarted;
    int started = 0;
    int together = 0;
    int answered = 0;
    for (int i = 0; i < WorkerBridge::minimumThreads; ++i) {
        bridge.run(
            &receiver,
            [&] {
                std::unique_lock lock(mutex);
                ++started;
                allStarted.notify_all();
                return allStarted.wait_for(lock, 5s,
                                           [&] { return started == WorkerBridge::minimumThreads; });
            },
            [&](bool met) {
                together += met ? 1 : 0;
                ++answered;
            },
            [](const std::string&) {});
    }
    ASSERT_TRUE(waitFor([&] { return answered == WorkerBridge::minimumThreads; }));
    EXPECT_EQ(together, WorkerBridge::minimumThreads);
}

TEST(WorkerBridgeTest, DestructionWaitsForRunningJobs) {
    auto bridge = std::make_unique<WorkerBridge>();
    QObject receiver;
    Gate started;
    std::atomic<bool> finished{false};
    bridge->run(
        &receiver,
        [&] {
            started.open();
            std::this_thread::sleep_for(200ms);
            finished = true;
        },
        [] {}, [](const std::string&) {});
    ASSERT_TRUE(started.wait());
    bridge.reset();
    EXPECT_TRUE(finished.load());
}

} // namespace
} // namespace vessora
