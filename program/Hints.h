#pragma once

#include "mapping/VowelMap.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace doodle {

// The hints around the drawing area while there is room for them: a prompt on the empty area,
// the pitch axis under it and the vowel axis beside it. The desktop window and the web page
// show the same texts.
inline constexpr std::string_view kDrawPromptText = "Press and drag to sing";
inline constexpr std::string_view kPitchAxisLowText = "low";   // under the left edge
inline constexpr std::string_view kPitchAxisTitle = "pitch";   // under the middle
inline constexpr std::string_view kPitchAxisHighText = "high"; // under the right edge

// The spoken-English vowel ("ee", "aw") nearest to first and second formants f1Hz, f2Hz.
std::string_view spokenVowelName(double f1Hz, double f2Hz);

// A vowel the vowel map reaches exactly (the top row and each band's end row), named.
struct VowelLabel {
    int32_t y = 0; // the row, 0..kMaxPointY
    double f1Hz = 0.0;
    double f2Hz = 0.0;
    std::string_view name{};
};

// The vowel axis of a voice type, from the top row down.
std::vector<VowelLabel> vowelLabels(VoiceType voiceType);

} // namespace doodle
