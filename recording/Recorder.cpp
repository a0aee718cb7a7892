#include "recording/Recorder.h"

#include <ctime>

namespace doodle {
namespace {

constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kNsPerMs = 1'000'000;

} // namespace

std::optional<int32_t> monotonicMs() noexcept {
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        return std::nullopt;
    }
    const int64_t nowMs = static_cast<int64_t>(now.tv_sec) * kMsPerSecond +
                          static_cast<int64_t>(now.tv_nsec) / kNsPerMs;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(nowMs)));
}

int32_t elapsedMs(int32_t laterMs, int32_t earlierMs) noexcept {
    return static_cast<int32_t>(static_cast<uint32_t>(laterMs) - static_cast<uint32_t>(earlierMs));
}

void Recorder::startRecording(Recording& recording, int32_t nowMs) {
    m_recordStartMs = nowMs;
    m_lastNowMs = nowMs;
    recording.clear();
}

void Recorder::startRecording(Recording& recording) {
    startRecording(recording, readClockMs());
}

bool Recorder::appendGestureLine(Recording& recording, bool recordDown, int32_t x, int32_t y,
                                 int32_t released, int32_t nowMs) const {
    if (!recordDown) {
        return false;
    }
    recording.append(GestureLine{x, y, released, elapsedMs(nowMs, m_recordStartMs)});
    return true;
}

bool Recorder::appendGestureLine(Recording& recording, bool recordDown, int32_t x, int32_t y,
                                 int32_t released) {
    if (!recordDown) {
        return false; // no clock reading for a line that is not made
    }
    return appendGestureLine(recording, recordDown, x, y, released, readClockMs());
}

int32_t Recorder::readClockMs() noexcept {
    m_lastNowMs = monotonicMs().value_or(m_lastNowMs);
    return m_lastNowMs;
}

} // namespace doodle
