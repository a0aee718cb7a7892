#include "mapping/VowelMap.h"

#include <array>
#include <cassert>
#include <cstddef>

namespace doodle {
namespace {

constexpr std::size_t kBandCount = 4;
constexpr double kBandRows = 50.0; // vowelFrac grows by 1 / kBandRows per row

// Bands by Y, both rows inclusive; a band's last row is its end row E, where vowelFrac is 1.
struct VowelBandRows {
    int32_t firstRow = 0;
    int32_t endRow = 0;
};
constexpr std::array<VowelBandRows, kBandCount> vowelBand{
    {{0, 50}, {51, 100}, {101, 150}, {151, 200}}};

// Each voice type is a chain of five vowels: band b glides from vowel b to vowel b + 1, so
// every band starts on the vowel where the band above it ended.
using VowelChain = std::array<FormantSet, kBandCount + 1>;

constexpr VowelChain kType1Vowels{{
    {{310, 2020, 2960}, {45, 200, 400}},
    {{620, 1660, 2430}, {70, 150, 320}},
    {{550, 750, 2500}, {100, 100, 70}},
    {{325, 700, 2700}, {50, 60, 170}},
    {{800, 1150, 2900}, {80, 90, 120}},
}};

constexpr VowelChain kType2Vowels{{
    {{400, 1880, 2500}, {70, 100, 200}},
    {{290, 2070, 2960}, {60, 200, 400}},
    {{620, 1660, 2430}, {70, 150, 320}},
    {{320, 900, 2200}, {65, 110, 140}},
    {{700, 1220, 2600}, {130, 70, 160}},
}};

// Bands cover 0..kMaxPointY without gaps; the bound keeps a y past the area inside the table.
std::size_t findBand(int32_t y) noexcept {
    assert(y >= 0 && y <= kMaxPointY);
    std::size_t band = 0;
    while (band + 1 < kBandCount && y > vowelBand[band].endRow) {
        ++band;
    }
    return band;
}

void loadBand(const VowelChain& vowels, const VowelBandPosition& position,
              VowelWorking& working) noexcept {
    working.start = vowels[position.band];
    working.end = vowels[position.band + 1];
    working.vowelFrac = position.vowelFrac;
}

double interpolate(double from, double to, double frac) noexcept {
    return from + frac * (to - from);
}

} // namespace

VowelBandPosition vowelBandPosition(int32_t y) noexcept {
    const std::size_t band = findBand(y);
    return {band, 1.0 - (vowelBand[band].endRow - y) / kBandRows};
}

FormantSet interpolateFormants(const FormantSet& from, const FormantSet& to, double frac) noexcept {
    FormantSet formants;
    for (std::size_t k = 0; k < kFormantCount; ++k) {
        formants.freqHz[k] = interpolate(from.freqHz[k], to.freqHz[k], frac);
        formants.bwHz[k] = interpolate(from.bwHz[k], to.bwHz[k], frac);
    }
    return formants;
}

FormantSet mapVowel(int32_t y, VoiceType voiceType, VowelWorking& working) noexcept {
    loadBand(voiceType == VoiceType::Type2 ? kType2Vowels : kType1Vowels, vowelBandPosition(y),
             working);
    return interpolateFormants(working.start, working.end, working.vowelFrac);
}

} // namespace doodle
