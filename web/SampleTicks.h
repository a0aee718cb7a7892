#pragma once

#include "program/ProgramLogic.h"
#include "recording/PlayTickClock.h"
#include "voice/Synth.h"

#include <cstddef>
#include <cstdint>

namespace doodle {

// The page's play clock: the shared PlayTickClock driven by the audio output's sample clock,
// its ticks handed to the program on the audio thread itself, so that playback is sample-exact
// whatever the host's scheduling.
class SampleTicks {
public:
    void resume() noexcept { m_clock.resume(); }
    void pause() noexcept { m_clock.pause(); }
    bool running() const noexcept { return m_clock.running(); }

    // Frames rendered since the host started: the sample clock.
    int64_t frame() const noexcept { return m_clock.frame(); }
    // The sample clock in whole milliseconds, cut to 32 bits as the program's clock is.
    int32_t nowMs() const noexcept { return m_clock.nowMs(); }

    // Renders frameCount samples of `renderer` into out, handing every tick that falls due
    // to `logic` before the sample it belongs to. A tick may pause or resume the clock.
    void render(ProgramLogic& logic, VoiceRenderer& renderer, float* out, std::size_t frameCount);

private:
    PlayTickClock m_clock{};
};

} // namespace doodle
