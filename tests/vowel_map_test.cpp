#include "mapping/MapPoint.h"
#include "mapping/VowelMap.h"
#include "voice/Synth.h"

#include <gtest/gtest.h>
#include <vector>

namespace doodle {
namespace {

constexpr double kTolHz = 1e-9;
constexpr VoiceType kType1 = VoiceType::Type1;
constexpr VoiceType kType2 = VoiceType::Type2;

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

// The top row and every band's end row give the five vowels of the chain exactly; the rows in
// between check the glide, including the 0.02 offset at the top row of bands 2 to 4.
void expectVowels(VoiceType marks, const std::vector<VowelAt>& rows) {
    VowelWorking working;
    for (const VowelAt& row : rows) {
        SCOPED_TRACE(testing::Message() << "Y = " << row.y);
        expectFormants(mapVowel(row.y, marks, working), row.formants);
    }
}

TEST(VowelMap, Type1SweepsThroughItsFiveVowels) {
    expectVowels(kType1, {{0, {{310, 2020, 2960}, {45, 200, 400}}},
                          {25, {{465, 1840, 2695}, {57.5, 175, 360}}},
                          {50, {{620, 1660, 2430}, {70, 150, 320}}},
                          {51, {{618.6, 1641.8, 2431.4}, {70.6, 149, 315}}},
                          {100, {{550, 750, 2500}, {100, 100, 70}}},
                          {125, {{437.5, 725, 2600}, {75, 80, 120}}},
                          {150, {{325, 700, 2700}, {50, 60, 170}}},
                          {200, {{800, 1150, 2900}, {80, 90, 120}}}});
}

TEST(VowelMap, Type2SweepsThroughItsFiveVowels) {
    expectVowels(kType2, {{0, {{400, 1880, 2500}, {70, 100, 200}}},
                          {25, {{345, 1975, 2730}, {65, 150, 300}}},
                          {50, {{290, 2070, 2960}, {60, 200, 400}}},
                          {100, {{620, 1660, 2430}, {70, 150, 320}}},
                          {150, {{320, 900, 2200}, {65, 110, 140}}},
                          {200, {{700, 1220, 2600}, {130, 70, 160}}}});
}

TEST(VowelMap, RowOutsideTheAreaKeepsThePreviousVowel) {
    VowelWorking working;
    EXPECT_EQ(mapVowel(230, kType1, working), FormantSet{}); // nothing mapped yet: all zero

    const FormantSet previous = mapVowel(125, kType1, working);
    const double previousFrac = working.vowelFrac;
    for (const int32_t y : {-1, 201, 230}) {
        EXPECT_EQ(mapVowel(y, kType1, working), previous) << "Y = " << y;
        EXPECT_EQ(working.vowelFrac, previousFrac) << "Y = " << y;
    }
}

TEST(MapPoint, SetsThePitchOfTheStripAndGlidesToItAsSetPitchDoes) {
    // A twin voice given each mapped pitch through setPitch, and the mapped coefficients, must
    // sing the same samples: mapPoint writes the pitch first, then starts any glide.
    VoiceParams voice;
    VoiceParams twin;
    VoiceRenderer renderer(voice);
    VoiceRenderer twinRenderer(twin);
    VowelWorking working;
    auto sing = [&](int32_t x, const MapControls& controls) {
        const std::optional<int32_t> note = mapPoint(voice, x, 40, controls, working);
        twin.pitch.store(voice.pitch.load());
        setPitch(twin);
        for (std::size_t k = 0; k < kFormantCount; ++k) {
            twin.res[k].A.store(voice.res[k].A.load());
            twin.res[k].B.store(voice.res[k].B.load());
            twin.res[k].C.store(voice.res[k].C.load());
        }
        std::vector<float> sung(kGlideSamples / 4);
        std::vector<float> expected(sung.size());
        renderVoice(renderer, sung.data(), sung.size());
        renderVoice(twinRenderer, expected.data(), expected.size());
        EXPECT_EQ(sung, expected) << "x = " << x;
        return note;
    };
    const MapControls major{ScaleMode::Major, buildScale(ScaleMode::Major, 0, {}), kType1};

    EXPECT_EQ(sing(0, major), 0);
    EXPECT_EQ(voice.pitch.load(), noteBase);
    EXPECT_EQ(sing(9, major), 0);
    EXPECT_EQ(voice.pitch.load(), noteBase) << "same strip, same pitch";
    EXPECT_EQ(sing(10, major), 2);
    EXPECT_NEAR(voice.pitch.load(), 58.271, 5e-4);

    const MapControls unrestricted{ScaleMode::Unrestricted, major.scale, kType1};
    EXPECT_EQ(sing(240, unrestricted), std::nullopt);
    EXPECT_EQ(voice.pitch.load(), 625.0);
}

TEST(MapPoint, TunesTheResonatorsToTheMappedVowel) {
    VoiceParams voice;
    VowelWorking working;
    mapPoint(voice, 0, 0, MapControls{}, working);
    EXPECT_EQ(voice.res[0].freq.load(), 310.0);
    EXPECT_EQ(voice.res[1].bw.load(), 200.0);
    EXPECT_EQ(voice.res[2].freq.load(), 2960.0);
    constexpr double k8Decimals = 5e-9; // coefficients of 310/45, 2020/200, 2960/400 Hz
    EXPECT_NEAR(voice.res[0].A.load(), 0.00195445, k8Decimals);
    EXPECT_NEAR(voice.res[1].B.load(), 1.89061115, k8Decimals);
    EXPECT_NEAR(voice.res[2].C.load(), -0.94460319, k8Decimals);

    const double res3A = voice.res[2].A.load();
    mapPoint(voice, 0, 230, MapControls{}, working); // a played-back point below the area
    EXPECT_EQ(voice.res[2].A.load(), res3A);
    EXPECT_EQ(voice.res[0].freq.load(), 310.0);
}

} // namespace
} // namespace doodle
