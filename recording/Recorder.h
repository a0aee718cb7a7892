#pragma once

#include "recording/Recording.h"

#include <cstdint>
#include <optional>

namespace doodle {

// CLOCK_MONOTONIC in ms, cut to 32 bits (it wraps after about 24.8 days of uptime). Empty if
// the clock cannot be read.
std::optional<int32_t> monotonicMs() noexcept;

// laterMs - earlierMs in 32-bit wrap-around arithmetic, so an interval that spans the wrap of
// the clock still comes out right.
int32_t elapsedMs(int32_t laterMs, int32_t earlierMs) noexcept;

// The recording clock. The caller keeps the recording and tells whether the record toggle is
// down; the recorder only knows when the recording began.
class Recorder {
public:
    // The record toggle went down at nowMs (a monotonicMs() reading, or that of another
    // monotonic ms clock): empties the recording. Empty nowMs: the clock could not be read.
    void startRecording(Recording& recording, std::optional<int32_t> nowMs);

    // Appends the line of a point and the time since the start, only while recordDown (the
    // record toggle is down). Returns whether a line was appended.
    bool appendGestureLine(Recording& recording, bool recordDown, int32_t x, int32_t y,
                           int32_t released, std::optional<int32_t> nowMs);

private:
    // A clock that could not be read repeats the last reading, so times never decrease within a
    // recording.
    int32_t takeReading(std::optional<int32_t> nowMs) noexcept;

    int32_t m_recordStartMs = 0;
    int32_t m_lastNowMs = 0;
};

} // namespace doodle
