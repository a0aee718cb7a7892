#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace doodle {

// The recording: one gesture line per handled drawing event, in event order.
using RecordingList = std::vector<std::string>;

inline constexpr char kFieldSeparator = ';';

// 1-based positions of the fields of a gesture line; fields after the fourth are never read.
inline constexpr int32_t kFieldX = 1;
inline constexpr int32_t kFieldY = 2;
inline constexpr int32_t kFieldReleased = 3;
inline constexpr int32_t kFieldTime = 4;

// What a whole number read from a line becomes when it has none: NaN, an infinity, or a value
// outside int32 after rounding.
inline constexpr int32_t kNoWholeNumber = std::numeric_limits<int32_t>::min();

// One recorded drawing event. Written as "x;y;released;elapsedMs" in plain decimal (a "-" only
// for negatives, no leading zeros), e.g. "120;45;0;1532".
struct GestureLine {
    int32_t x = 0;         // px, 0..kMaxPointX
    int32_t y = 0;         // px, 0..kMaxPointY
    int32_t released = 0;  // 0 while the voice sounds, 1 for a button release
    int32_t elapsedMs = 0; // since the record toggle went down
};

std::string formatGestureLine(const GestureLine& line);

// Field n (counting from 1) of a line: the text between the (n-1)-th and n-th ";", the last
// one running to the end of the line. Empty when the line has fewer than n fields (or n < 1).
// Blanks are kept. The result points into `line`.
std::string_view lineField(std::string_view line, int32_t n) noexcept;

// Reads a number as written in C, whatever the process locale: "+Infinity", "-Infinity" and
// "NaN" (the whole text, any case) give the infinities and NaN; otherwise leading white space,
// an optional sign, digits with an optional "." and fraction, an optional exponent. Reading
// stops at the first character that does not fit; text that does not start with a number
// gives 0.0. Magnitudes beyond double's range give an infinity, ones below it a signed zero.
double parseDecimal(std::string_view text) noexcept;

// Rounds to the nearest whole number, halves to the even neighbour (2.5 gives 2, -2.5 gives
// -2). NaN, the infinities and results outside int32 give kNoWholeNumber.
int32_t roundToWhole(double value) noexcept;

// CLOCK_MONOTONIC in ms, cut to 32 bits (it wraps after about 24.8 days of uptime). Empty if
// the clock cannot be read.
std::optional<int32_t> monotonicMs() noexcept;

// laterMs - earlierMs in 32-bit wrap-around arithmetic, so an interval that spans the wrap of
// the clock still comes out right.
int32_t elapsedMs(int32_t laterMs, int32_t earlierMs) noexcept;

// The recording clock. The caller keeps recordingList and tells whether the record toggle is
// down; the recorder only knows when the recording began.
class Recorder {
public:
    // The record toggle went down at nowMs (a monotonicMs() reading): empties the list.
    void startRecording(RecordingList& recordingList, int32_t nowMs);
    // As above, reading the clock.
    void startRecording(RecordingList& recordingList);

    // Appends the line of a point and the time since the start, only while `recording` (the
    // record toggle is down). Returns whether a line was appended.
    bool appendGestureLine(RecordingList& recordingList, bool recording, int32_t x, int32_t y,
                           int32_t released, int32_t nowMs) const;
    // As above, reading the clock.
    bool appendGestureLine(RecordingList& recordingList, bool recording, int32_t x, int32_t y,
                           int32_t released);

    int32_t recordStartMs() const noexcept { return m_recordStartMs; }

private:
    // A clock that cannot be read repeats the last reading, so times never decrease within a
    // recording.
    int32_t readClockMs() noexcept;

    int32_t m_recordStartMs = 0;
    int32_t m_lastNowMs = 0;
};

} // namespace doodle
