#include "web/SampleTicks.h"

#include "recording/OfflineRender.h"

#include <algorithm>

namespace doodle {
namespace {

constexpr int64_t kMsPerSecond = 1000;

} // namespace

void SampleTicks::resume() noexcept {
    m_running = true;
    m_resumeFrame = m_frame;
    m_nextTick = 1;
}

int32_t SampleTicks::nowMs() const noexcept {
    const int64_t ms = m_frame * kMsPerSecond / kRenderSampleRate;
    // The program's clock wraps at 32 bits; elapsed times are differences, which survive it.
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ms)));
}

void SampleTicks::render(ProgramLogic& logic, VoiceRenderer& renderer, float* out,
                         std::size_t frameCount) {
    std::size_t done = 0;
    while (done < frameCount) {
        std::size_t chunk = frameCount - done;
        if (m_running) {
            const int64_t due = m_resumeFrame + tickSampleIndex(m_nextTick);
            if (due <= m_frame) {
                const int32_t tick = m_nextTick;
                ++m_nextTick;
                logic.dispatch(Event::tick(tick)); // may pause, or resume from this frame
                continue;
            }
            chunk = static_cast<std::size_t>(
                std::min<int64_t>(static_cast<int64_t>(chunk), due - m_frame));
        }
        renderer.process(out + done, chunk);
        done += chunk;
        m_frame += static_cast<int64_t>(chunk);
    }
}

} // namespace doodle
