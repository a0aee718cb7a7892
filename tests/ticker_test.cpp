#include "app/ticker/Ticker.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace doodle {
namespace {

using namespace std::chrono_literals;

constexpr int64_t kStartNs = 5 * kNsPerSecond + 123'456; // an arbitrary point on the clock
constexpr int64_t kLateNs = 250'000;                     // a wake-up a quarter tick late
constexpr int kTicksToWatch = 5;
// Only keeps a broken ticker from hanging the suite; a working one gets there within a few ms.
constexpr auto kHangGuard = 10s;
// How long the tests watch for something that must not happen.
constexpr auto kQuietWatch = 20ms;

// The deadline rule

TEST(TickerDeadline, AdvancesByExactlyOnePeriodHoweverLateTheWakeUp) {
    EXPECT_EQ(nextTickDeadline(kStartNs, kStartNs), kStartNs + kTickPeriodNs);
    EXPECT_EQ(nextTickDeadline(kStartNs, kStartNs + kLateNs), kStartNs + kTickPeriodNs);
    EXPECT_EQ(nextTickDeadline(kStartNs, kStartNs - kLateNs), kStartNs + kTickPeriodNs);
}

TEST(TickerDeadline, CatchesUpALagOfExactlyTheLimit) {
    EXPECT_EQ(nextTickDeadline(kStartNs, kStartNs + kMaxTickLagNs), kStartNs + kTickPeriodNs);
}

TEST(TickerDeadline, RestartsFromNowWhenLaggingPastTheLimit) {
    for (const int64_t lagNs : {kMaxTickLagNs + 1, 3600 * kNsPerSecond}) {
        EXPECT_EQ(nextTickDeadline(kStartNs, kStartNs + lagNs), kStartNs + lagNs + kTickPeriodNs)
            << lagNs;
    }
}

TEST(TickerDeadline, LateWakeUpsDoNotShiftTheSchedule) {
    constexpr int64_t kTicks = 3000;
    int64_t deadlineNs = kStartNs;
    for (int64_t tick = 0; tick < kTicks; ++tick) {
        // Every wake-up late by a varying amount within one tick.
        const int64_t nowNs = deadlineNs + (tick * 7919) % kTickPeriodNs;
        deadlineNs = nextTickDeadline(deadlineNs, nowNs);
    }
    EXPECT_EQ(deadlineNs, kStartNs + kTicks * kTickPeriodNs);
}

TEST(TickerDeadline, BurstsTheTicksMissedInAShortStall) {
    constexpr int64_t kStallNs = 50 * kTickPeriodNs;
    const int64_t wakeNs = kStartNs + kStallNs;
    int64_t deadlineNs = nextTickDeadline(kStartNs, wakeNs);
    int missedTicks = 0;
    for (; deadlineNs <= wakeNs; deadlineNs = nextTickDeadline(deadlineNs, wakeNs)) {
        ++missedTicks;
    }
    EXPECT_EQ(missedTicks, 50);
    EXPECT_EQ(deadlineNs, wakeNs + kTickPeriodNs);
}

// The thread

// What post sees, on the ticker thread. The call numbered holdAt waits inside post until
// release(), so that the test can act while the ticker is known to be there.
class PostRecorder {
public:
    explicit PostRecorder(TickerShared& shared, int holdAt = 0)
        : m_shared(shared), m_holdAt(holdAt) {}

    void operator()() {
        std::unique_lock lock(m_mutex);
        ++m_calls;
        if (m_calls == 1) {
            m_countAtFirstCall = m_shared.tickCount.load();
        }
        m_changed.notify_all();
        if (m_calls == m_holdAt) {
            m_inside = true;
            m_changed.wait(lock, [this] { return m_released; });
            m_inside = false;
        }
    }

    // Waits until post has been called `calls` times; false if that never happens.
    bool waitForCalls(int calls) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kHangGuard, [&] { return m_calls >= calls; });
    }

    void release() {
        const std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

    void restartCalls() {
        const std::lock_guard lock(m_mutex);
        m_calls = 0;
    }

    int calls() {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }

    bool inside() {
        const std::lock_guard lock(m_mutex);
        return m_inside;
    }

    int32_t countAtFirstCall() {
        const std::lock_guard lock(m_mutex);
        return m_countAtFirstCall;
    }

private:
    TickerShared& m_shared;
    const int m_holdAt = 0;
    std::mutex m_mutex{};
    std::condition_variable m_changed{};
    int m_calls = 0;
    int32_t m_countAtFirstCall = -1;
    bool m_inside = false;
    bool m_released = false;
};

TEST(Ticker, CallsPostOncePerCountedTickAndNeverAfterStop) {
    TickerShared shared;
    PostRecorder recorder(shared);
    Ticker ticker(shared, [&] { recorder(); });
    ASSERT_TRUE(ticker.start());
    EXPECT_TRUE(ticker.start()); // already running: a second thread would end the program
    ASSERT_TRUE(recorder.waitForCalls(kTicksToWatch));
    ticker.stop();
    EXPECT_FALSE(ticker.running());
    const int callsAtStop = recorder.calls();
    EXPECT_GE(callsAtStop, kTicksToWatch);
    EXPECT_EQ(shared.tickCount.load(), callsAtStop);
    EXPECT_EQ(recorder.countAtFirstCall(), 1);
    EXPECT_EQ(ticker.threadError(), 0);

    std::this_thread::sleep_for(kQuietWatch);
    EXPECT_EQ(recorder.calls(), callsAtStop);
    EXPECT_EQ(shared.tickCount.load(), callsAtStop);
}

TEST(Ticker, StopWaitsForAPostInProgress) {
    TickerShared shared;
    PostRecorder recorder(shared, 1);
    Ticker ticker(shared, [&] { recorder(); });
    ASSERT_TRUE(ticker.start());
    ASSERT_TRUE(recorder.waitForCalls(1));
    std::thread releaser([&] {
        std::this_thread::sleep_for(kQuietWatch);
        recorder.release();
    });
    ticker.stop();
    EXPECT_FALSE(recorder.inside());
    releaser.join();
    std::this_thread::sleep_for(kQuietWatch);
    EXPECT_EQ(recorder.calls(), 1);
}

TEST(Ticker, DestructorStopsTheThread) {
    TickerShared shared;
    PostRecorder recorder(shared);
    {
        Ticker ticker(shared, [&] { recorder(); });
        ASSERT_TRUE(ticker.start());
        ASSERT_TRUE(recorder.waitForCalls(1));
    }
    const int callsAtStop = recorder.calls();
    std::this_thread::sleep_for(kQuietWatch);
    EXPECT_EQ(recorder.calls(), callsAtStop);
}

TEST(Ticker, StopIsHarmlessWhenNotRunningAndStartWorksAgain) {
    TickerShared shared;
    PostRecorder recorder(shared);
    Ticker ticker(shared, [&] { recorder(); });
    ticker.stop();
    EXPECT_FALSE(ticker.running());
    ASSERT_TRUE(ticker.start());
    ASSERT_TRUE(recorder.waitForCalls(1));
    ticker.stop();
    ticker.stop();
    EXPECT_FALSE(ticker.running());

    recorder.restartCalls();
    const int32_t countAtStop = shared.tickCount.load();
    ASSERT_TRUE(ticker.start());
    ASSERT_TRUE(recorder.waitForCalls(kTicksToWatch));
    ticker.stop();
    EXPECT_EQ(shared.tickCount.load() - countAtStop, recorder.calls());
}

TEST(Ticker, StopCalledFromPostEndsTheCalls) {
    TickerShared shared;
    PostRecorder recorder(shared);
    Ticker* self = nullptr;
    Ticker ticker(shared, [&] {
        recorder();
        self->stop();
    });
    self = &ticker;
    ASSERT_TRUE(ticker.start());
    ASSERT_TRUE(recorder.waitForCalls(1));
    std::this_thread::sleep_for(kQuietWatch);
    ticker.stop();
    EXPECT_FALSE(ticker.running());
    EXPECT_EQ(recorder.calls(), 1);
    EXPECT_EQ(shared.tickCount.load(), 1);
}

TEST(Ticker, PausedItSleepsAndResumeCountsFromZero) {
    TickerShared shared;
    shared.tickerPaused.store(1);
    PostRecorder recorder(shared, kTicksToWatch);
    Ticker ticker(shared, [&] { recorder(); });
    ASSERT_TRUE(ticker.start());
    // Paused from the start: the thread sleeps instead of waking every period.
    std::this_thread::sleep_for(kQuietWatch);
    EXPECT_EQ(ticker.wakeCount(), 0);
    EXPECT_EQ(recorder.calls(), 0);

    ticker.resume();
    // Held inside post of tick kTicksToWatch: pause and resume again, as a stop and a new
    // start of playback do; the count starts over.
    ASSERT_TRUE(recorder.waitForCalls(kTicksToWatch));
    EXPECT_EQ(recorder.countAtFirstCall(), 1);
    ticker.pause();
    EXPECT_EQ(shared.tickCount.load(), kTicksToWatch);
    recorder.release();
    std::this_thread::sleep_for(kQuietWatch);
    const int64_t wakesWhilePaused = ticker.wakeCount();
    std::this_thread::sleep_for(kQuietWatch);
    EXPECT_EQ(ticker.wakeCount(), wakesWhilePaused);
    EXPECT_EQ(recorder.calls(), kTicksToWatch);

    ticker.resume();
    EXPECT_LE(shared.tickCount.load(), 1);
    ASSERT_TRUE(recorder.waitForCalls(2 * kTicksToWatch));
    ticker.stop();
    EXPECT_EQ(shared.tickCount.load(), recorder.calls() - kTicksToWatch);
}

TEST(Ticker, CountWrapsInsteadOfOverflowing) {
    TickerShared shared;
    shared.tickCount.store(INT32_MAX);
    PostRecorder recorder(shared);
    Ticker ticker(shared, [&] { recorder(); });
    ASSERT_TRUE(ticker.start());
    ASSERT_TRUE(recorder.waitForCalls(1));
    ticker.stop();
    EXPECT_EQ(recorder.countAtFirstCall(), INT32_MIN);
}

} // namespace
} // namespace doodle
