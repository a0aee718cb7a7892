#include "voice/ResonatorTuning.h"

#include <gtest/gtest.h>

namespace doodle {
namespace {

void setFormants(VoiceParams& voice, double f1, double w1, double f2, double w2, double f3,
                 double w3) {
    voice.res[0].setFormant(f1, w1);
    voice.res[1].setFormant(f2, w2);
    voice.res[2].setFormant(f3, w3);
}

TEST(ResonatorTuning, MatchesTheWorkedCoefficientTable) {
    VoiceParams voice;
    setFormants(voice, 310, 45, 2020, 200, 2960, 400);
    tuneResonators(voice);

    constexpr double k8Decimals = 5e-9;
    EXPECT_NEAR(voice.res[0].A.load(), 0.00195445, k8Decimals);
    EXPECT_NEAR(voice.res[0].B.load(), 1.99165464, k8Decimals);
    EXPECT_NEAR(voice.res[0].C.load(), -0.99360910, k8Decimals);
    EXPECT_NEAR(voice.res[1].A.load(), 0.08129583, k8Decimals);
    EXPECT_NEAR(voice.res[1].B.load(), 1.89061115, k8Decimals);
    EXPECT_NEAR(voice.res[1].C.load(), -0.97190699, k8Decimals);
    EXPECT_NEAR(voice.res[2].A.load(), 0.17110086, k8Decimals);
    EXPECT_NEAR(voice.res[2].B.load(), 1.77350233, k8Decimals);
    EXPECT_NEAR(voice.res[2].C.load(), -0.94460319, k8Decimals);
}

TEST(ResonatorTuning, UnityGainAtZeroHertzAndStablePolesOverTheFormantRange) {
    VoiceParams voice;
    for (double freqHz = 0.0; freqHz <= 5000.0; freqHz += 97.0) {
        for (double bwHz = 1.0; bwHz <= 600.0; bwHz += 13.0) {
            setFormants(voice, freqHz, bwHz, freqHz, bwHz, freqHz, bwHz);
            tuneResonators(voice);
            const double a = voice.res[1].A.load();
            const double b = voice.res[1].B.load();
            const double c = voice.res[1].C.load();
            ASSERT_NEAR(a + b + c, 1.0, 1e-12) << freqHz << " Hz, " << bwHz << " Hz";
            ASSERT_GT(c, -1.0) << "pole radius must stay below 1 for a positive bandwidth";
            ASSERT_LT(c, 0.0);
        }
    }
}

TEST(ResonatorTuning, EachResonatorFollowsOnlyItsOwnFormant) {
    VoiceParams voice;
    setFormants(voice, 310, 45, 2020, 200, 2960, 400);
    tuneResonators(voice);
    const double a1 = voice.res[0].A.load();
    const double a2 = voice.res[1].A.load();
    const double c3 = voice.res[2].C.load();

    tuneResonators(voice); // the same input gives the same coefficients
    EXPECT_EQ(voice.res[0].A.load(), a1);

    voice.res[2].bw.store(120.0);
    tuneResonators(voice);
    EXPECT_EQ(voice.res[0].A.load(), a1);
    EXPECT_EQ(voice.res[1].A.load(), a2);
    EXPECT_NE(voice.res[2].C.load(), c3);
}

TEST(ResonatorTuning, ZeroFormantGivesTheUndampedIdleCoefficients) {
    VoiceParams voice;
    tuneResonators(voice);
    EXPECT_EQ(voice.res[0].C.load(), -1.0);
    EXPECT_EQ(voice.res[0].B.load(), 2.0);
    EXPECT_EQ(voice.res[0].A.load(), 0.0);
}

} // namespace
} // namespace doodle
