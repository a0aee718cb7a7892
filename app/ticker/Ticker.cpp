#include "app/ticker/Ticker.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>
#include <system_error>
#include <utility>

namespace doodle {
namespace {

// The kernel's default slack lets a timer fire up to 50 µs late, a twentieth of a tick; 1 ns
// asks for the deadline itself. prctl reads its argument as unsigned long.
constexpr unsigned long kTimerSlackNs = 1;
// How the thread shows in top, ps -L and debuggers (at most 15 bytes).
constexpr const char* kThreadName = "dc-ticker";

// Conversions between CLOCK_MONOTONIC ns and timespec (tv_nsec always in 0..999999999).
int64_t toNanoseconds(const timespec& time) noexcept {
    return static_cast<int64_t>(time.tv_sec) * kNsPerSecond + static_cast<int64_t>(time.tv_nsec);
}

timespec toTimespec(int64_t timeNs) noexcept {
    int64_t seconds = timeNs / kNsPerSecond;
    int64_t remainderNs = timeNs % kNsPerSecond;
    if (remainderNs < 0) {
        remainderNs += kNsPerSecond;
        --seconds;
    }
    timespec time{};
    time.tv_sec = static_cast<time_t>(seconds);
    time.tv_nsec = static_cast<decltype(time.tv_nsec)>(remainderNs);
    return time;
}

} // namespace

int64_t nextTickDeadline(int64_t deadlineNs, int64_t nowNs) noexcept {
    if (nowNs - deadlineNs > kMaxTickLagNs) {
        return nowNs + kTickPeriodNs;
    }
    return deadlineNs + kTickPeriodNs;
}

Ticker::Ticker(TickerShared& shared, std::function<void()> post)
    : m_shared(shared), m_post(std::move(post)) {}

Ticker::~Ticker() {
    stop();
}

bool Ticker::start() {
    if (m_thread.joinable()) {
        if (!m_stopRequested.load()) {
            return true;
        }
        // post asked for the stop; the thread has left or is leaving.
        m_thread.join();
    }
    m_stopRequested.store(false);
    m_wakeCount.store(0);
    m_threadError.store(0);
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Ticker::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopRequested.store(true);
    }
    m_resumed.notify_all();
    if (!m_thread.joinable() || m_thread.get_id() == std::this_thread::get_id()) {
        return;
    }
    m_thread.join();
}

void Ticker::pause() {
    const std::lock_guard lock(m_mutex);
    m_shared.tickerPaused.store(1);
}

void Ticker::resume() {
    {
        const std::lock_guard lock(m_mutex);
        m_shared.tickCount.store(0);
        m_shared.tickerPaused.store(0);
    }
    m_resumed.notify_all();
}

bool Ticker::waitWhilePaused() {
    std::unique_lock lock(m_mutex);
    m_resumed.wait(lock,
                   [this] { return m_stopRequested.load() || m_shared.tickerPaused.load() == 0; });
    return !m_stopRequested.load();
}

void Ticker::noteError(int errorNumber) noexcept {
    if (m_threadError.load() == 0) {
        m_threadError.store(errorNumber);
    }
}

void Ticker::run() noexcept {
    if (prctl(PR_SET_TIMERSLACK, kTimerSlackNs) != 0) {
        noteError(errno);
    }
    // A name only helps tools tell the threads apart; the ticker runs the same without it.
    static_cast<void>(prctl(PR_SET_NAME, kThreadName));
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        noteError(errno);
        return;
    }
    int64_t deadlineNs = toNanoseconds(now) + kTickPeriodNs;
    m_shared.tickZeroNs.store(toNanoseconds(now) -
                              static_cast<int64_t>(m_shared.tickCount.load()) * kTickPeriodNs);
    while (true) {
        if (m_shared.tickerPaused.load() != 0) {
            if (!waitWhilePaused()) {
                return;
            }
            // Resumed: the first tick comes one period after the resume, not at once for every
            // period slept through.
            if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
                noteError(errno);
                return;
            }
            deadlineNs = toNanoseconds(now) + kTickPeriodNs;
            m_shared.tickZeroNs.store(toNanoseconds(now));
        }
        // Sleeping to an absolute deadline keeps the time spent below from adding up, as it
        // would with a relative sleep of one period per tick.
        const timespec deadline = toTimespec(deadlineNs);
        int sleepResult = 0;
        do {
            sleepResult = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        } while (sleepResult == EINTR);
        if (sleepResult != 0) {
            noteError(sleepResult);
            return;
        }
        if (m_stopRequested.load()) {
            return;
        }
        m_wakeCount.store(m_wakeCount.load() + 1);
        bool counted = false;
        {
            // Under the lock, so that a pause and resume cannot fall between the test and the
            // store and have the reset overwritten by a count from before it.
            const std::lock_guard lock(m_mutex);
            if (m_shared.tickerPaused.load() == 0) {
                // The sum is taken unsigned to wrap instead of overflowing.
                m_shared.tickCount.store(
                    static_cast<int32_t>(static_cast<uint32_t>(m_shared.tickCount.load()) + 1U));
                counted = true;
            }
        }
        if (counted) {
            m_post();
        }
        if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
            noteError(errno);
            return;
        }
        const int64_t nextNs = nextTickDeadline(deadlineNs, toNanoseconds(now));
        if (nextNs != deadlineNs + kTickPeriodNs) {
            // The schedule restarted after a long lag: the next count is due at nextNs.
            m_shared.tickZeroNs.store(
                nextNs - (static_cast<int64_t>(m_shared.tickCount.load()) + 1) * kTickPeriodNs);
        }
        deadlineNs = nextNs;
    }
}

} // namespace doodle
