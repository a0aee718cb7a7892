#pragma once

#include "voice/FormantSet.h"

#include <cstddef>
#include <cstdint>

namespace doodle {

// Points reach the maps clamped to Y in 0..kMaxPointY (inclusive, 0 = top row).
inline constexpr int32_t kMaxPointY = 200;

// The voice type checked in the Voice menu ("Type 1" or "Type 2"): it picks the vowel table.
enum class VoiceType : int32_t {
    Type1 = 1,
    Type2 = 2,
};

// The vowel map's working values: the formant sets at the top and bottom of the band of the
// last point, and the position inside that band. All zero until the first point.
struct VowelWorking {
    FormantSet start{};
    FormantSet end{};
    double vowelFrac = 0.0; // 0 at Y = 0, then 0.02 per row down to 1 at a band's end row
};

// Where a Y lies among the vowel bands below: the band (0..3, from the top) and the position
// inside it, vowelFrac as VowelWorking holds it. y must lie in 0..kMaxPointY: callers clamp.
struct VowelBandPosition {
    std::size_t band = 0;
    double vowelFrac = 0.0;
};
VowelBandPosition vowelBandPosition(int32_t y) noexcept;

// Each frequency and bandwidth from `from` (frac 0) to `to` (frac 1), linearly.
FormantSet interpolateFormants(const FormantSet& from, const FormantSet& to, double frac) noexcept;

// Formants for the Y of a point. Each of the four 50-row bands (Y 0..50, 51..100, 101..150,
// 151..200) glides linearly between two vowels of the checked voice type, so a vertical stroke
// sweeps smoothly through five vowels of the voice type's table. y must lie in 0..kMaxPointY:
// callers clamp.
FormantSet mapVowel(int32_t y, VoiceType voiceType, VowelWorking& working) noexcept;

} // namespace doodle
