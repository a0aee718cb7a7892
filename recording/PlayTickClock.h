#pragma once

#include "recording/OfflineRender.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace doodle {

// The program's play clock counted on a sample clock at kRenderSampleRate, whatever drives it
// (an audio callback, or a steady clock where no stream runs). After resume() at frame F, tick
// k falls due just before sample F + tickSampleIndex(k), exactly where an offline render
// handles it. Host-independent: the host decides what a tick does.
class PlayTickClock {
public:
    void resume() noexcept;
    void pause() noexcept { m_running = false; }
    bool running() const noexcept { return m_running; }

    // Frames advanced since the clock was made: the sample clock.
    int64_t frame() const noexcept { return m_frame; }
    // The frame of the last resume(): where tick 0 lies.
    int64_t resumeFrame() const noexcept { return m_resumeFrame; }
    // The sample clock in whole milliseconds, cut to 32 bits as the program's clock is.
    int32_t nowMs() const noexcept;

    // Advances the clock by frameCount frames. Every tick that falls due on the way goes to
    // onTick(tick) while frame() is the sample it comes just before; the frames between ticks
    // go to render(offsetFrames, frames), offset counted from the start of this call. onTick
    // may pause or resume the clock; returning false, it holds that tick and every later one
    // back until the next call (which hands it over first), while the frames go on.
    template <class OnTick, class Render>
    void advance(std::size_t frameCount, OnTick&& onTick, Render&& render) {
        std::size_t done = 0;
        bool ticksHeld = false;
        while (done < frameCount) {
            std::size_t chunk = frameCount - done;
            if (m_running && !ticksHeld) {
                const int64_t due = m_resumeFrame + tickSampleIndex(m_nextTick);
                if (due <= m_frame) {
                    if (onTick(m_nextTick)) {
                        ++m_nextTick;
                    } else {
                        ticksHeld = true;
                    }
                    continue;
                }
                chunk = static_cast<std::size_t>(
                    std::min<int64_t>(static_cast<int64_t>(chunk), due - m_frame));
            }
            render(done, chunk);
            done += chunk;
            m_frame += static_cast<int64_t>(chunk);
        }
    }

private:
    int64_t m_frame = 0;       // frames advanced so far
    bool m_running = false;    // between resume() and pause()
    int64_t m_resumeFrame = 0; // the frame of the last resume(): tick 0
    int32_t m_nextTick = 1;    // the tick that falls due next, counted from the resume
};

} // namespace doodle
