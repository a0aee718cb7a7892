#include "voice/Glide.h"

#include <gtest/gtest.h>
#include <vector>

namespace doodle {
namespace {

constexpr int32_t kSteps = 4;

std::vector<double> steps(Glide& glide, int count) {
    std::vector<double> values;
    for (int i = 0; i < count; ++i) {
        values.push_back(glide.step());
    }
    return values;
}

TEST(Glide, WithoutAGlideTheValueIsTheTargetAtOnce) {
    Glide glide(kSteps);
    EXPECT_EQ(steps(glide, 2), (std::vector<double>{0.0, 0.0}));
    glide.setTarget(5.0);
    EXPECT_EQ(steps(glide, 2), (std::vector<double>{5.0, 5.0}));
    EXPECT_FALSE(glide.running());
}

TEST(Glide, MovesInEqualStepsAndLandsExactlyOnTheTarget) {
    Glide glide(kSteps);
    glide.setTarget(0.3);
    glide.glideFrom(0.1);
    EXPECT_TRUE(glide.running());
    const std::vector<double> values = steps(glide, kSteps + 2);
    EXPECT_DOUBLE_EQ(values[0], 0.15);
    EXPECT_DOUBLE_EQ(values[1], 0.2);
    EXPECT_DOUBLE_EQ(values[2], 0.25);
    EXPECT_EQ(values[3], 0.3); // exactly, though 0.1 + 4 steps of 0.05 would not be
    EXPECT_EQ(values[4], 0.3);
    EXPECT_EQ(values[5], 0.3);
    EXPECT_FALSE(glide.running());
}

TEST(Glide, ANewGlideDuringOneTakesOverItsRemainingSteps) {
    Glide glide(kSteps);
    glide.setTarget(8.0);
    glide.glideFrom(0.0);
    EXPECT_EQ(steps(glide, 1), (std::vector<double>{2.0}));
    // From 8 to 16, from its second step on: 8 + 8 * 2/4, then 3/4 and 4/4.
    glide.setTarget(16.0);
    glide.glideFrom(8.0);
    EXPECT_EQ(steps(glide, 4), (std::vector<double>{12.0, 14.0, 16.0, 16.0}));
}

TEST(Glide, CancelAndResetEndTheGlide) {
    Glide glide(kSteps);
    glide.setTarget(8.0);
    glide.glideFrom(0.0);
    glide.step();
    glide.cancel();
    EXPECT_EQ(steps(glide, 1), (std::vector<double>{8.0}));
    // A glide after a cancel starts from its first step.
    glide.glideFrom(4.0);
    EXPECT_EQ(steps(glide, 1), (std::vector<double>{5.0}));

    glide.reset();
    EXPECT_FALSE(glide.running());
    EXPECT_EQ(steps(glide, 1), (std::vector<double>{0.0}));
}

} // namespace
} // namespace doodle
