#include "web/SampleTicks.h"

namespace doodle {

void SampleTicks::render(ProgramLogic& logic, VoiceRenderer& renderer, float* out,
                         std::size_t frameCount) {
    m_clock.advance(
        frameCount,
        [&logic](int32_t tick) {
            logic.dispatch(Event::tick(tick)); // may pause, or resume from this frame
            return true;
        },
        [&renderer, out](std::size_t offsetFrames, std::size_t frames) {
            renderer.process(out + offsetFrames, frames);
        });
}

} // namespace doodle
