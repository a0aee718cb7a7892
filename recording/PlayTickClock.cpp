#include "recording/PlayTickClock.h"

namespace doodle {
namespace {

constexpr int64_t kMsPerSecond = 1000;

} // namespace

void PlayTickClock::resume() noexcept {
    m_running = true;
    m_resumeFrame = m_frame;
    m_nextTick = 1;
}

int32_t PlayTickClock::nowMs() const noexcept {
    const int64_t ms = m_frame * kMsPerSecond / kRenderSampleRate;
    // The program's clock wraps at 32 bits; elapsed times are differences, which survive it.
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ms)));
}

} // namespace doodle
