#pragma once

#include <cstdint>

namespace doodle {

// Playback advances one tick a millisecond: a line's time in ms is the tick it is due on at
// speed 1.0.
inline constexpr int64_t kTicksPerSecond = 1000;

// The play speed, a factor on the recorded timing: 1.0 to 5.0, as the program's slider sets it
// in whole tenths, 10 to 50.
inline constexpr int kMinPlaySpeedTenths = 10;
inline constexpr int kMaxPlaySpeedTenths = 50;
inline constexpr double kTenthsPerPlaySpeed = 10.0;
inline constexpr double kMinPlaySpeed = kMinPlaySpeedTenths / kTenthsPerPlaySpeed;
inline constexpr double kMaxPlaySpeed = kMaxPlaySpeedTenths / kTenthsPerPlaySpeed;

// The speed that the slider at `tenths` sets.
constexpr double playSpeedFromTenths(int tenths) {
    return tenths / kTenthsPerPlaySpeed;
}

} // namespace doodle
