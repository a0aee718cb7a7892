#include "mapping/MapPoint.h"
#include "mapping/VowelMap.h"
#include "voice/Synth.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace doodle {
namespace {

constexpr double kTolHz = 1e-9;
constexpr VoiceType kType1 = VoiceType::Type1;
constexpr VoiceType kType2 = VoiceType::Type2;

FormantSet vowelAt(int32_t y, VoiceType voiceType) {
    VowelWorking working;
    return mapVowel(y, voiceType, working);
}

void expectFormants(const FormantSet& actual, const FormantSet& expected) {
    for (std::size_t k = 0; k < kFormantCount; ++k) {
        EXPECT_NEAR(actual.freqHz[k], expected.freqHz[k], kTolHz) << "F" << k + 1;
        EXPECT_NEAR(actual.bwHz[k], expected.bwHz[k], kTolHz) << "B" << k + 1;
    }
}

struct VowelAt {
    int32_t y = 0;
    FormantSet formants;
};

void expectVowels(VoiceType voiceType, const std::vector<VowelAt>& rows) {
    for (const VowelAt& row : rows) {
        SCOPED_TRACE(testing::Message() << "Y = " << row.y);
        expectFormants(vowelAt(row.y, voiceType), row.formants);
    }
}

// Rows inside a band glide linearly: half way at Y = 25 and at Y = 125, 0.02 of the way at the
// top row of a band below the first.
TEST(VowelMap, GlidesLinearlyInsideEachBand) {
    expectVowels(kType1, {{0, {{310, 2020, 2960}, {45, 200, 400}}},
                          {25, {{465, 1840, 2695}, {57.5, 175, 360}}},
                          {51, {{618.6, 1641.8, 2431.4}, {70.6, 149, 315}}},
                          {125, {{437.5, 725, 2600}, {75, 80, 120}}},
                          {200, {{800, 1150, 2900}, {80, 90, 120}}}});
    expectVowels(kType2, {{25, {{345, 1975, 2730}, {65, 150, 300}}},
                          {200, {{700, 1220, 2600}, {130, 70, 160}}}});
}

// A vertical stroke sweeps without a jump: each band starts where the one above ended, so one
// row down never moves a formant by more than a fiftieth of the widest step of the chain.
TEST(VowelMap, AVerticalStrokeSweepsWithoutJumps) {
    for (const VoiceType voiceType : {kType1, kType2}) {
        constexpr double kWidestStepHz = 910.0; // F2 of type 1, 1660 to 750 Hz in band 2
        FormantSet previous = vowelAt(0, voiceType);
        for (int32_t y = 1; y <= kMaxPointY; ++y) {
            const FormantSet formants = vowelAt(y, voiceType);
            for (std::size_t k = 0; k < kFormantCount; ++k) {
                ASSERT_LE(std::abs(formants.freqHz[k] - previous.freqHz[k]),
                          kWidestStepHz / 50.0 + kTolHz)
                    << "Y = " << y << ", F" << k + 1;
                ASSERT_LE(std::abs(formants.bwHz[k] - previous.bwHz[k]),
                          kWidestStepHz / 50.0 + kTolHz)
                    << "Y = " << y << ", B" << k + 1;
            }
            previous = formants;
        }
    }
}

TEST(MapPoint, SingsThePitchAndVowelOfThePointGlidingOnlyWhenThePitchChanges) {
    // A twin voice given the pitch and vowel maps' results directly must sing the same samples.
    VoiceParams voice;
    VoiceParams twin;
    VoiceRenderer renderer(voice);
    VoiceRenderer twinRenderer(twin);
    VowelWorking working;
    auto sing = [&](int32_t x, int32_t y, const MapControls& controls) {
        const std::optional<int32_t> note = mapPoint(voice, x, y, controls, working);
        setPitch(twin, mapPitch(x, controls.scaleMode, controls.scale, controls.tuning).pitchHz);
        setFormants(twin, vowelAt(y, controls.voiceType));
        std::vector<float> sung(kGlideSamples / 4);
        std::vector<float> expected(sung.size());
        renderer.process(sung.data(), sung.size());
        twinRenderer.process(expected.data(), expected.size());
        EXPECT_EQ(sung, expected) << "x = " << x;
        return note;
    };
    const MapControls major{ScaleMode::Major, buildScale(ScaleMode::Major, 0, {}), kType1};

    EXPECT_EQ(sing(0, 40, major), 0);
    EXPECT_EQ(voice.pitchHz(), noteBase);
    EXPECT_EQ(sing(9, 120, major), 0);
    EXPECT_EQ(voice.pitchHz(), noteBase) << "same strip, same pitch";
    EXPECT_EQ(sing(10, 200, major), 2);
    EXPECT_NEAR(voice.pitchHz(), 58.271, 5e-4);

    const MapControls unrestricted{ScaleMode::Unrestricted, major.scale, kType2};
    EXPECT_EQ(sing(240, 0, unrestricted), std::nullopt);
    EXPECT_EQ(voice.pitchHz(), 625.0);
    expectFormants(voice.formants(), vowelAt(0, kType2));
}

} // namespace
} // namespace doodle
