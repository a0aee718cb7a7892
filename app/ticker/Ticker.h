#pragma once

#include "recording/PlaySpeed.h"
#include "voice/RelaxedAtomic.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace doodle {

inline constexpr int64_t kNsPerSecond = 1'000'000'000;
inline constexpr int64_t kTickPeriodNs = kNsPerSecond / kTicksPerSecond;
// A wake-up later than this behind its deadline (suspend, debugger, a long stall) restarts the
// schedule from the wake-up instead of firing every missed tick back to back.
inline constexpr int64_t kMaxTickLagNs = 100 * kTickPeriodNs;

// Fields the playback ticker shares with the main thread. The caller owns them; they must
// outlive every Ticker that refers to them. While a Ticker runs, only its pause() and resume()
// write them from outside; both may be read at any time.
struct TickerShared {
    // 0 = ticking, anything else = paused.
    RelaxedAtomic<int32_t> tickerPaused{0};
    // Ticks since the last resume. Wraps from INT32_MAX to INT32_MIN (after about 24.8 days).
    RelaxedAtomic<int32_t> tickCount{0};
    // Where count 0 lies on the schedule (CLOCK_MONOTONIC ns): tick N is due at
    // tickZeroNs + N * kTickPeriodNs. Set at each resume and when a long lag restarts the
    // schedule; what the main thread sends out at a tick (MIDI) is stamped with its due time.
    RelaxedAtomic<int64_t> tickZeroNs{0};
};

// The deadline that follows deadlineNs on the tick schedule, given that the ticker woke at nowNs
// (both CLOCK_MONOTONIC ns). Normally exactly one period later, so waking late never shifts the
// schedule and the ticks keep pace with the clock; ticks missed by a lag of up to kMaxTickLagNs
// (inclusive) are caught up. Only a lag of more than kMaxTickLagNs restarts the schedule one
// period after nowNs.
int64_t nextTickDeadline(int64_t deadlineNs, int64_t nowNs) noexcept;

// A background thread that ticks once per millisecond on an absolute CLOCK_MONOTONIC schedule.
// On each tick it adds 1 to shared.tickCount and calls post once. While paused it sleeps on a
// condition variable and does not wake at all (an idle program costs no CPU); resume() wakes it
// and the schedule starts again one period later.
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

    // Stops the counting and posting; the thread goes to sleep until resume().
    void pause();
    // Resets the count to 0 and lets the thread count again from one period after now. The
    // reset and the resume are one step for the thread: no tick counted before a resume can
    // land after it.
    void resume();

    // True from a successful start() until a stop() has waited for the thread.
    bool running() const noexcept { return m_thread.joinable(); }

    // Deadlines the thread has woken at since start(): shows that it is alive, and that it
    // sleeps while paused.
    int64_t wakeCount() const noexcept { return m_wakeCount.load(); }

    // 0, or the errno value of the first system call that failed on the ticker thread. A failure
    // to lower the timer slack leaves the ticker running, only less punctual; a failing clock
    // ends the thread early.
    int32_t threadError() const noexcept { return m_threadError.load(); }

private:
    void run() noexcept;
    void noteError(int errorNumber) noexcept;

    // Waits while paused; returns false when a stop was asked for instead of a resume.
    bool waitWhilePaused();

    TickerShared& m_shared;
    std::function<void()> m_post{};
    std::thread m_thread{};
    // Guards the pause flag's changes, the count's reset and the ticker's count-and-check, so
    // that a resume never interleaves with a tick; the thread waits on m_resumed while paused.
    std::mutex m_mutex{};
    std::condition_variable m_resumed{};
    RelaxedAtomic<bool> m_stopRequested{false};
    RelaxedAtomic<int64_t> m_wakeCount{0};
    RelaxedAtomic<int32_t> m_threadError{0};
};

} // namespace doodle
