#pragma once

#include <string_view>

namespace doodle {

// A toggle's caption while up and while down: it says what the program is doing.
struct ToggleCaptions {
    std::string_view up;
    std::string_view down;
};
inline constexpr ToggleCaptions kRecordCaptions{"record", "recording"};
inline constexpr ToggleCaptions kPlayCaptions{"play", "playing"};

// The speed slider's value as shown and read out: one decimal and a times sign, "1.0×" to
// "5.0×" (UTF-8).
inline constexpr int kSpeedCaptionDecimals = 1;
inline constexpr std::string_view kSpeedCaptionSuffix = "\u00d7";

} // namespace doodle
