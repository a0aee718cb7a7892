#pragma once

#include "mapping/ChoirPart.h"
#include "mapping/VowelMap.h"
#include "voice/FormantSet.h"

#include <cstdint>

namespace doodle {

// The formants of `part` singing the vowel the drawn Y selects: the same four 50-row bands and
// the same chain of five vowels as mapVowel gives the voice for `voiceType`, each vowel taken from
// a table of sung vowels for that part, interpolated linearly across a band as mapVowel does.
// y must lie in 0..kMaxPointY: callers clamp.
FormantSet mapPartVowel(ChoirPart part, int32_t y, VoiceType voiceType) noexcept;

} // namespace doodle
