// While the engine takes seconds over an action, the window's event loop
// stays responsive and the status poll keeps its pace.
#include "Vessora/App/AppModel.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <iostream>

namespace vessora {
namespace {

class ResponsivenessTest : public AppModelTest {
protected:
    void SetUp() override { monitorInterval = std::chrono::milliseconds(100); }
};

TEST_F(ResponsivenessTest, ABlockedActionStarvesNeitherTheEventLoopNorThePoll) {
    constexpr int blockedMs = 3000;
    constexpr int tickMs = 20;
    startMonitor();
    engine->hold("start");
    ASSERT_TRUE(model().perform("Starting Studio…", true, [](AppEngine& e) { e.start("studio"); }));
    ASSERT_TRUE(waitUntilHeld("start"));

    // A timer on the main thread: the gaps between its ticks are how late
    // the event loop handles events.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
    });
    ticker.start(tickMs);
    const int pollsBefore = engine->calls("statuses");
    // Half-way, the status bar's package reload: a worker of its own
    // answers it while the start still holds one.
    qint64 reloadMs = -1;
    QTimer::singleShot(blockedMs / 2, [&] {
        const qint64 asked = clock.elapsed();
        model().refreshPackages([&, asked] { reloadMs = clock.elapsed() - asked; });
    });
    QTest::qWait(blockedMs);
    ticker.stop();
    const int polls = engine->calls("statuses") - pollsBefore;

    EXPECT_TRUE(model().busy());
    EXPECT_EQ(engine->calls("start"), 1);
    engine->release("start");
    ASSERT_TRUE(waitForIdle());

    std::cout << "[ measured ] action blocked " << blockedMs << " ms; longest gap between "
              << tickMs << " ms ticks " << longestGap << " ms; " << polls << " polls at a "
              << monitorInterval.count() << " ms interval; package reload answered in " << reloadMs
              << " ms" << std::endl;
    RecordProperty("longestGapMs", static_cast<int>(longestGap));
    RecordProperty("polls", polls);
    RecordProperty("packageReloadMs", static_cast<int>(reloadMs));
    // Generous bounds for a loaded machine: an event loop that waited on the
    // engine would show a gap of the whole 3 s and no poll at all.
    EXPECT_LT(longestGap, 250);
    EXPECT_GE(polls, blockedMs / static_cast<int>(monitorInterval.count()) / 2);
    EXPECT_GE(reloadMs, 0);
    EXPECT_LT(reloadMs, 1000);
}

} // namespace
} // namespace vessora
