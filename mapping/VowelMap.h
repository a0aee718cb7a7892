#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace doodle {

inline constexpr std::size_t kFormantCount = 3;

// Points reach the maps clamped to Y in 0..kMaxPointY (inclusive, 0 = top row).
inline constexpr int32_t kMaxPointY = 200;

// Centre frequencies and bandwidths of the three formants, index 0 = first formant.
struct FormantSet {
    std::array<double, kFormantCount> freqHz{};
    std::array<double, kFormantCount> bwHz{};

    friend bool operator==(const FormantSet&, const FormantSet&) = default;
};

// The voice type checked in the Voice menu ("Type 1" or "Type 2"): it picks the vowel table.
enum class VoiceType : int32_t {
    Type1 = 1,
    Type2 = 2,
};

// What the vowel map keeps between points and across strokes: the formant sets at the top and
// bottom of the band of the last point inside the area, and the position inside that band.
// All zero until the first such point.
struct VowelWorking {
    FormantSet start{};
    FormantSet end{};
    double vowelFrac = 0.0; // 0 at Y = 0, then 0.02 per row down to 1 at a band's end row
};

// Formants for the Y of a point. Each of the four 50-row bands (Y 0..50, 51..100, 101..150,
// 151..200) glides linearly between two vowels of the checked voice type, so a vertical stroke
// sweeps smoothly through five vowels of the voice type's table. A Y
// outside 0..kMaxPointY (possible only for a played-back point) keeps `working` as it is, so
// the result equals that of the previous point.
FormantSet mapVowel(int32_t y, VoiceType voiceType, VowelWorking& working) noexcept;

} // namespace doodle
