#include "mapping/PartVowels.h"

#include "voice/Choir.h"

#include <array>
#include <cstddef>

namespace doodle {
namespace {

// The chorus renders the parts in ChoirPart's order.
static_assert(kChoirParts == kChorusParts);

// Sung vowels /a e i o u/ for each part: the first three formants' centre frequencies and
// bandwidths in Hz, from the widely reproduced table of formants of bass, tenor, alto and
// soprano singers (the Csound manual's appendix "Formant Values"; its fourth and fifth
// formants and its amplitudes are not used: the voice has three resonators mixed at fixed
// levels).
enum class SungVowel : std::size_t { A, E, I, O, U };
constexpr std::size_t kSungVowels = 5;
using PartTable = std::array<FormantSet, kSungVowels>;

constexpr std::array<PartTable, kChoirParts> kSungVowelTable{{
    // Soprano
    {{
        {{800, 1150, 2900}, {80, 90, 120}},
        {{350, 2000, 2800}, {60, 100, 120}},
        {{270, 2140, 2950}, {60, 90, 100}},
        {{450, 800, 2830}, {70, 80, 100}},
        {{325, 700, 2700}, {50, 60, 170}},
    }},
    // Alto
    {{
        {{800, 1150, 2800}, {80, 90, 120}},
        {{400, 1600, 2700}, {60, 80, 120}},
        {{350, 1700, 2700}, {50, 100, 120}},
        {{450, 800, 2830}, {70, 80, 100}},
        {{325, 700, 2530}, {50, 60, 170}},
    }},
    // Tenor
    {{
        {{650, 1080, 2650}, {80, 90, 120}},
        {{400, 1700, 2600}, {70, 80, 100}},
        {{290, 1870, 2800}, {40, 90, 100}},
        {{400, 800, 2600}, {40, 80, 100}},
        {{350, 600, 2700}, {40, 60, 100}},
    }},
    // Bass
    {{
        {{600, 1040, 2250}, {60, 70, 110}},
        {{400, 1620, 2400}, {40, 80, 100}},
        {{250, 1750, 2600}, {60, 90, 100}},
        {{400, 750, 2400}, {40, 80, 100}},
        {{350, 600, 2400}, {40, 80, 100}},
    }},
}};

// The voice's chains of five vowels (mapVowel's tables), each vowel replaced by the sung vowel
// nearest to it: the least mean distance, over the four parts, in the F1-F2 plane in Bark
// (Traunmueller's z = 26.81 f / (1960 + f) - 0.53), the scale on which vowels are heard apart.
//   Type 1: 310/2020 -> /i/, 620/1660 -> /e/, 550/750 -> /o/, 325/700 -> /u/, 800/1150 -> /a/
//   Type 2: 400/1880 -> /e/, 290/2070 -> /i/, 620/1660 -> /e/, 320/900 -> /o/, 700/1220 -> /a/
// (620/1660, an open front vowel between the two, lies 2.1 Bark from /e/ and 2.8 from /a/.)
using SungChain = std::array<SungVowel, kSungVowels>;
constexpr SungChain kType1Chain{SungVowel::I, SungVowel::E, SungVowel::O, SungVowel::U,
                                SungVowel::A};
constexpr SungChain kType2Chain{SungVowel::E, SungVowel::I, SungVowel::E, SungVowel::O,
                                SungVowel::A};

const FormantSet& sung(const PartTable& table, SungVowel vowel) noexcept {
    return table[static_cast<std::size_t>(vowel)];
}

} // namespace

FormantSet mapPartVowel(ChoirPart part, int32_t y, VoiceType voiceType) noexcept {
    const SungChain& chain = voiceType == VoiceType::Type2 ? kType2Chain : kType1Chain;
    const PartTable& table = kSungVowelTable[partIndex(part)];
    const VowelBandPosition position = vowelBandPosition(y);
    return interpolateFormants(sung(table, chain[position.band]),
                               sung(table, chain[position.band + 1]), position.vowelFrac);
}

} // namespace doodle
