#include "app/clock/TickPump.h"

#include <utility>

namespace doodle {

TickPump::TickPump(PlayClock& clock, OnTick onTick) : m_clock(clock), m_onTick(std::move(onTick)) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kPollIntervalMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
}

void TickPump::resume() {
    m_clock.resume();
    if (!m_clock.streamDriven()) {
        m_clock.advanceSteady(monotonicNs()); // tick 0 is now
    }
    if (!m_stopped && !m_timer.isActive()) {
        m_timer.start();
    }
}

void TickPump::pause() {
    m_clock.pause();
}

void TickPump::stop() {
    m_stopped = true;
    m_timer.stop();
}

void TickPump::poll() {
    if (!m_clock.streamDriven()) {
        m_clock.advanceSteady(monotonicNs());
    }
    m_clock.takeTicks(m_onTick);
    if (!m_clock.running()) {
        // Ticks still on their way belong to a pause and would be dropped: the timer sleeps.
        m_timer.stop();
    }
}

} // namespace doodle
