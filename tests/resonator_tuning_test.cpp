#include "voice/ResonatorTuning.h"

#include <gtest/gtest.h>

namespace doodle {
namespace {

constexpr FormantSet kTopVowel{{310, 2020, 2960}, {45, 200, 400}};

TEST(ResonatorTuning, MatchesTheWorkedCoefficientTable) {
    const ResonatorTuning tuning = tuneResonators(kTopVowel);
    constexpr double k8Decimals = 5e-9;
    EXPECT_NEAR(tuning[0].a, 0.00195445, k8Decimals);
    EXPECT_NEAR(tuning[0].b, 1.99165464, k8Decimals);
    EXPECT_NEAR(tuning[0].c, -0.99360910, k8Decimals);
    EXPECT_NEAR(tuning[1].a, 0.08129583, k8Decimals);
    EXPECT_NEAR(tuning[1].b, 1.89061115, k8Decimals);
    EXPECT_NEAR(tuning[1].c, -0.97190699, k8Decimals);
    EXPECT_NEAR(tuning[2].a, 0.17110086, k8Decimals);
    EXPECT_NEAR(tuning[2].b, 1.77350233, k8Decimals);
    EXPECT_NEAR(tuning[2].c, -0.94460319, k8Decimals);
}

TEST(ResonatorTuning, UnityGainAtZeroHertzAndStablePolesOverTheFormantRange) {
    for (double freqHz = 0.0; freqHz <= 5000.0; freqHz += 97.0) {
        for (double bwHz = 1.0; bwHz <= 600.0; bwHz += 13.0) {
            const ResonatorCoefficients r =
                tuneResonators({{freqHz, freqHz, freqHz}, {bwHz, bwHz, bwHz}})[1];
            ASSERT_NEAR(r.a + r.b + r.c, 1.0, 1e-12) << freqHz << " Hz, " << bwHz << " Hz";
            ASSERT_GT(r.c, -1.0) << "pole radius must stay below 1 for a positive bandwidth";
            ASSERT_LT(r.c, 0.0);
        }
    }
}

TEST(ResonatorTuning, EachResonatorFollowsOnlyItsOwnFormant) {
    const ResonatorTuning before = tuneResonators(kTopVowel);
    FormantSet narrower = kTopVowel;
    narrower.bwHz[2] = 120.0;
    const ResonatorTuning after = tuneResonators(narrower);
    EXPECT_EQ(after[0].a, before[0].a);
    EXPECT_EQ(after[1].a, before[1].a);
    EXPECT_NE(after[2].c, before[2].c);
    EXPECT_NE(after[2].a, before[2].a);
}

} // namespace
} // namespace doodle
