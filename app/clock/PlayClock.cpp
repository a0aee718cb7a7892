#include "app/clock/PlayClock.h"

#include <ctime>

namespace doodle {

int64_t monotonicNs() noexcept {
    timespec now{};
    // CLOCK_MONOTONIC exists on every Linux; the call cannot fail with a valid address.
    static_cast<void>(clock_gettime(CLOCK_MONOTONIC, &now));
    return int64_t{now.tv_sec} * kNsPerSecond + int64_t{now.tv_nsec};
}

int64_t framesToNs(int64_t frames) noexcept {
    // Whole seconds apart, so that the product stays far below 2^63.
    return frames / kRenderSampleRate * kNsPerSecond +
           frames % kRenderSampleRate * kNsPerSecond / kRenderSampleRate;
}

int64_t nsToFrames(int64_t ns) noexcept {
    return ns / kNsPerSecond * kRenderSampleRate +
           ns % kNsPerSecond * kRenderSampleRate / kNsPerSecond;
}

void PlayClock::resume() noexcept {
    ++m_resumeCount;
    m_running = true;
    m_command.store((uint64_t{m_resumeCount} << 1) | 1U, std::memory_order_release);
}

void PlayClock::pause() noexcept {
    m_running = false;
    m_command.store(uint64_t{m_resumeCount} << 1, std::memory_order_release);
}

void PlayClock::applyCommand(int64_t firstFrameNs) noexcept {
    const uint64_t command = m_command.load(std::memory_order_acquire);
    if (command == m_appliedCommand) {
        return;
    }
    m_appliedCommand = command;
    if ((command & 1U) == 0) {
        m_clock.pause();
        return;
    }
    m_clock.resume();
    m_drivenResumeCount = static_cast<uint32_t>(command >> 1);
    m_zeroNs = firstFrameNs;
}

void PlayClock::advanceSteady(int64_t nowNs) noexcept {
    const int64_t frame = m_clock.frame();
    if (!m_steadyTicking) {
        // Paused, the steady clock stood still: it goes on from now.
        m_steadyOriginNs = nowNs - framesToNs(frame);
    }
    int64_t target = nsToFrames(nowNs - m_steadyOriginNs);
    if (target - frame > kMaxSteadyLagFrames) {
        target = frame + kMaxSteadyLagFrames;
        m_steadyOriginNs = nowNs - framesToNs(target);
    }
    count(static_cast<std::size_t>(std::max<int64_t>(target - frame, 0)),
          m_steadyOriginNs + framesToNs(frame), [](std::size_t, std::size_t) {});
    m_steadyTicking = m_clock.running();
}

} // namespace doodle
