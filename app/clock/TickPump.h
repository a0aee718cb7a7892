#pragma once

#include "app/clock/PlayClock.h"

#include <QTimer>
#include <cstdint>
#include <functional>

namespace doodle {

// Brings the play clock's ticks to the main thread's event loop: while the clock runs, a
// precise timer takes the ticks waiting every kPollIntervalMs, after counting them itself
// where no audio stream counts. It sleeps while the clock is paused, so an idle program costs
// no CPU.
class TickPump {
public:
    // Period of the timer (ms): the tick's own, so that the steady driver keeps the beat of a
    // 1 kHz clock; with a stream, ticks come a callback's frames at a time anyway.
    static constexpr int kPollIntervalMs = 1;

    // A tick for the program, with when and where its frame is heard.
    using OnTick = std::function<void(const PlayClock::Tick& tick)>;
    TickPump(PlayClock& clock, OnTick onTick);

    // Main thread: resume or pause the clock, starting the timer with a resume.
    void resume();
    void pause();
    // Stops the timer for good (shutdown); the clock is left as it is.
    void stop();

private:
    void poll();

    PlayClock& m_clock;
    OnTick m_onTick;
    QTimer m_timer{};
    bool m_stopped = false;
};

} // namespace doodle
