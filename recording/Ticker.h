#pragma once

#include "voice/RelaxedAtomic.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <thread>

namespace doodle {

inline constexpr int64_t kNsPerSecond = 1'000'000'000;
inline constexpr int64_t kTickPeriodNs = 1'000'000; // playback advances once per millisecond
// A wake-up later than this behind its deadline (suspend, debugger, a long stall) restarts the
// schedule from the wake-up instead of firing every missed tick back to back.
inline constexpr int64_t kMaxTickLagNs = 100 * kTickPeriodNs;

// Fields the playback ticker shares with the main thread. The caller owns them; they must
// outlive every Ticker that refers to them.
struct TickerShared {
    // 0 = ticking, anything else = paused. Written by the main thread only.
    RelaxedAtomic<int32_t> tickerPaused{0};
    // Ticks since the last reset. Incremented by the ticker only; the main thread resets it to 0,
    // and only while paused. Wraps from INT32_MAX to INT32_MIN (after about 24.8 days).
    RelaxedAtomic<int32_t> tickCount{0};
};

// The deadline that follows deadlineNs on the tick schedule, given that the ticker woke at nowNs
// (both CLOCK_MONOTONIC ns). Normally exactly one period later, so waking late never shifts the
// schedule and the ticks keep pace with the clock; ticks missed by a lag of up to kMaxTickLagNs
// (inclusive) are caught up. Only a lag of more than kMaxTickLagNs restarts the schedule one
// period after nowNs.
int64_t nextTickDeadline(int64_t deadlineNs, int64_t nowNs) noexcept;

// Conversions between a time in ns and timespec (tv_nsec always in 0..999999999).
int64_t toNanoseconds(const timespec& time) noexcept;
timespec toTimespec(int64_t timeNs) noexcept;

// A background thread that ticks once per millisecond on an absolute CLOCK_MONOTONIC schedule.
// On each tick, unless paused, it adds 1 to shared.tickCount and calls post once. While paused
// it still wakes every millisecond but neither counts nor calls post.
//
// start(), stop() and the destructor belong to one controlling thread (the main thread). post
// runs on the ticker thread; it should be short (it posts an event and returns), must not throw
// and must not destroy the Ticker.
class Ticker {
public:
    Ticker(TickerShared& shared, std::function<void()> post);
    ~Ticker();
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

    // Starts the thread, the first tick one period from now. Returns false, without throwing, if
    // the thread cannot be created. Starting a running ticker does nothing and returns true; a
    // stopped ticker may be started again.
    bool start();

    // Asks the thread to leave and waits for it. After stop() has returned, post is never called
    // again. Harmless on a ticker that never started or has already stopped. Called from post
    // itself, it only asks (a thread cannot wait for itself): post is not called again, and the
    // next stop() from the controlling thread waits for the thread.
    void stop();

    // True from a successful start() until a stop() has waited for the thread.
    bool running() const noexcept { return m_thread.joinable(); }

    // Deadlines the thread has woken at since start(), paused or not: shows that it is alive.
    int64_t wakeCount() const noexcept { return m_wakeCount.load(); }

    // 0, or the errno value of the first system call that failed on the ticker thread. A failure
    // to lower the timer slack leaves the ticker running, only less punctual; a failing clock
    // ends the thread early.
    int32_t threadError() const noexcept { return m_threadError.load(); }

private:
    void run() noexcept;
    void noteError(int errorNumber) noexcept;

    TickerShared& m_shared;
    std::function<void()> m_post{};
    std::thread m_thread{};
    RelaxedAtomic<bool> m_stopRequested{false};
    RelaxedAtomic<int64_t> m_wakeCount{0};
    RelaxedAtomic<int32_t> m_threadError{0};
};

} // namespace doodle
