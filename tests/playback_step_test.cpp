#include "recording/PlaybackStep.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace doodle {
namespace {

using Lines = std::vector<std::string>;

// Generous: every case below plays well before this many ticks.
constexpr int32_t kTickLimit = 10'000;

// The first tick, counting from 1 as the ticker does, on which the line plays.
int32_t firstPlayingTick(const std::string& line, double playSpeed) {
    const Lines lines{line};
    int32_t playIndex = 0;
    for (int32_t tick = 1; tick <= kTickLimit; ++tick) {
        if (playbackStep(lines, playIndex, tick, playSpeed, false).action != PlaybackAction::None) {
            return tick;
        }
    }
    return -1;
}

TEST(PlaybackStepTiming, PlaysOnceTheTickPassesTheScaledTime) {
    struct Case {
        std::string line;
        double playSpeed = 1.0;
        int32_t tick = 0;
    };
    const std::vector<Case> cases{{"120;45;0;1500", 1.0, 1501},
                                  {"120;45;0;5", 2.0, 3},
                                  {"120;45;0;1000", 5.0, 201},
                                  {"1;1;0;7", 2.0, 5},
                                  {"1;1;0;999", 1.3, 769},
                                  {"1;1;0;0", 1.0, 1},
                                  {"", 1.0, 1},
                                  {"1;1;0;NaN", 1.0, 1},
                                  {"1;1;0;1e300", 1.0, 1},
                                  {"1;1;0;-50", 1.0, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(firstPlayingTick(c.line, c.playSpeed), c.tick) << c.line << " at " << c.playSpeed;
    }
}

TEST(PlaybackStepTiming, DueLinesPlayOnePerTickThenPlaybackStops) {
    const Lines lines{"10;10;0;0", "20;20;0;0", "30;30;1;0"};
    int32_t playIndex = 0;
    // A main thread running late sees the same tickCount on several events.
    EXPECT_EQ(playbackStep(lines, playIndex, 7, 1.0, false).x, 10);
    EXPECT_EQ(playbackStep(lines, playIndex, 7, 1.0, false).x, 20);
    EXPECT_EQ(playbackStep(lines, playIndex, 7, 1.0, false).action, PlaybackAction::Release);
    EXPECT_EQ(playIndex, 3);
    EXPECT_EQ(playbackStep(lines, playIndex, 8, 1.0, false).action, PlaybackAction::Stop);
    EXPECT_EQ(playIndex, 3);
}

TEST(PlaybackStepTiming, PausedOrNotYetDueDoesNothingAndSpeedActsAtOnce) {
    const Lines lines{"1;1;0;1000"};
    int32_t playIndex = 0;
    EXPECT_EQ(playbackStep(lines, playIndex, 5000, 1.0, true).action, PlaybackAction::None);
    EXPECT_EQ(playbackStep(lines, playIndex, 600, 1.0, false).action, PlaybackAction::None);
    EXPECT_EQ(playIndex, 0);
    EXPECT_EQ(playbackStep(lines, playIndex, 601, 2.0, false).action, PlaybackAction::Sound);
    playIndex = 0;
    EXPECT_EQ(playbackStep(Lines{}, playIndex, 1, 1.0, false).action, PlaybackAction::Stop);
    playIndex = -1;
    EXPECT_EQ(playbackStep(lines, playIndex, 1, 1.0, false).action, PlaybackAction::Stop);
}

TEST(PlaybackStepLine, ReleasesFromAFlagOfOneUpAndSoundsBelowOrOnNaN) {
    constexpr PlaybackAction kRelease = PlaybackAction::Release;
    constexpr PlaybackAction kSound = PlaybackAction::Sound;
    const std::vector<std::pair<std::string, PlaybackAction>> cases{
        {"1", kRelease}, {"2", kRelease},  {"1.0", kRelease}, {"+Infinity", kRelease},
        {"0", kSound},   {"0.99", kSound}, {"", kSound},      {"NaN", kSound},
        {"-1", kSound}};
    for (const auto& [flag, action] : cases) {
        int32_t playIndex = 0;
        EXPECT_EQ(playbackStep(Lines{"5;6;" + flag + ";0"}, playIndex, 1, 1.0, false).action,
                  action)
            << flag;
        EXPECT_EQ(playIndex, 1);
    }
}

TEST(PlaybackStepLine, SoundsAtTheRoundedPointClampedIntoTheArea) {
    struct Case {
        std::string line;
        int32_t x = 0;
        int32_t y = 0;
    };
    const std::vector<Case> cases{{"120;45;0;0", 120, 45},
                                  {"-5;300;0;0", 0, 200},
                                  {"240.4;199.5;0;0", 240, 200},
                                  {"2.5;3.5", 2, 4},
                                  {"NaN;+Infinity;0;0", 0, 0},
                                  {"1e300;-1e300;0;0", 0, 0},
                                  {"", 0, 0},
                                  {" 17 ;x;0;0", 17, 0}};
    for (const Case& c : cases) {
        int32_t playIndex = 0;
        const PlaybackStep step = playbackStep(Lines{c.line}, playIndex, 1, 1.0, false);
        EXPECT_EQ(step.action, PlaybackAction::Sound) << c.line;
        EXPECT_EQ(std::pair(step.x, step.y), std::pair(c.x, c.y)) << c.line;
    }
}

} // namespace
} // namespace doodle
