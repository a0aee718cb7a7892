#pragma once

#include "program/ProgramLogic.h"
#include "voice/Synth.h"

#include <cstddef>
#include <cstdint>

namespace doodle {

// The program's play clock in a host without a ticker thread: the sample clock of the audio
// output. After resume() at frame F, tick k is handed to the program just before sample
// F + tickSampleIndex(k), exactly where an offline render handles it, so playback is
// sample-exact whatever the host's scheduling.
class SampleTicks {
public:
    void resume() noexcept;
    void pause() noexcept { m_running = false; }
    bool running() const noexcept { return m_running; }

    // Frames rendered since the host started: the sample clock.
    int64_t frame() const noexcept { return m_frame; }
    // The sample clock in whole milliseconds, cut to 32 bits as the program's clock is.
    int32_t nowMs() const noexcept;

    // Renders frameCount samples of `renderer` into out, handing every tick that falls due
    // to `logic` before the sample it belongs to. A tick may pause or resume the clock.
    void render(ProgramLogic& logic, VoiceRenderer& renderer, float* out, std::size_t frameCount);

private:
    int64_t m_frame = 0;       // samples rendered so far
    bool m_running = false;    // between resume() and pause()
    int64_t m_resumeFrame = 0; // the frame of the last resume(): tick 0
    int32_t m_nextTick = 1;    // the tick that falls due next, counted from the resume
};

} // namespace doodle
