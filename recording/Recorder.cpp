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

void Recorder::startRecording(Recording& recording, std::optional<int32_t> nowMs) {
    m_recordStartMs = takeReading(nowMs);
    recording.clear();
}

bool Recorder::appendGestureLine(Recording& recording, bool recordDown, int32_t x, int32_t y,
                                 int32_t released, std::optional<int32_t> nowMs) {
    if (!recordDown) {
        return false; // a reading for a line that is not made does not count
    }
    recording.append(GestureLine{x, y, released, elapsedMs(takeReading(nowMs), m_recordStartMs)});
    return true;
}

int32_t Recorder::takeReading(std::optional<int32_t> nowMs) noexcept {
    m_lastNowMs = nowMs.value_or(m_lastNowMs);
    return m_lastNowMs;
}

} // namespace doodle
