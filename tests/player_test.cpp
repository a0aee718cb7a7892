#include "recording/Player.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace doodle {
namespace {

// Generous: every case below plays well before this many ticks.
constexpr int32_t kTickLimit = 10'000;

// A recording played through a fresh voice, in Unrestricted.
struct Playing {
    explicit Playing(Recording lines) : recording(std::move(lines)) {}
    PlayedStep step(int32_t tick, double playSpeed = 1.0) {
        return player.step(tick, playSpeed, controls);
    }

    Recording recording;
    VoiceParams voice;
    VowelWorking vowel;
    MapControls controls;
    Player player{recording, voice, vowel};
};

// The first tick, counting from 1 as the ticker does, on which the line plays; and the tick
// the player itself names for it.
std::pair<int32_t, int32_t> firstPlayingTick(const std::string& line, double playSpeed) {
    Playing playing(Recording{line});
    const int32_t named = playing.player.nextActingTick(0, playSpeed).value_or(-1);
    for (int32_t tick = 1; tick <= kTickLimit; ++tick) {
        if (playing.step(tick, playSpeed).action != PlaybackAction::None) {
            return {tick, named};
        }
    }
    return {-1, named};
}

TEST(PlayerTiming, PlaysOnceTheTickPassesTheScaledTime) {
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
        EXPECT_EQ(firstPlayingTick(c.line, c.playSpeed), std::pair(c.tick, c.tick))
            << c.line << " at " << c.playSpeed;
    }
    // A line due on the tick where the count wraps never plays.
    Playing endless(Recording{"1;1;0;2147483647"});
    EXPECT_EQ(endless.player.nextActingTick(0, 1.0), std::nullopt);
}

TEST(PlayerTiming, DueLinesPlayOnePerTickThenPlaybackStops) {
    Playing playing(Recording{"10;10;0;0", "20;20;0;0", "30;30;1;0"});
    // A main thread running late sees the same tickCount on several events.
    EXPECT_EQ(playing.step(7).x, 10);
    EXPECT_EQ(playing.player.nextActingTick(7, 1.0), 8) << "one line per tick";
    EXPECT_EQ(playing.step(7).x, 20);
    EXPECT_EQ(playing.step(7).action, PlaybackAction::Release);
    EXPECT_TRUE(playing.voice.released());
    EXPECT_EQ(playing.player.playIndex(), 3u);
    EXPECT_EQ(playing.step(8).action, PlaybackAction::Stop);
    EXPECT_EQ(playing.player.playIndex(), 3u);
    playing.player.start();
    EXPECT_EQ(playing.step(1).x, 10);
}

TEST(PlayerTiming, NotYetDueDoesNothingAndSpeedActsAtOnce) {
    Playing playing(Recording{"1;1;0;1000"});
    EXPECT_EQ(playing.step(600).action, PlaybackAction::None);
    EXPECT_EQ(playing.player.playIndex(), 0u);
    EXPECT_EQ(playing.step(601, 2.0).action, PlaybackAction::Sound);
    Playing empty(Recording{});
    EXPECT_EQ(empty.step(1).action, PlaybackAction::Stop);
}

TEST(PlayerLine, ReleasesFromAFlagOfOneUpAndSoundsBelowOrOnNaN) {
    constexpr PlaybackAction kRelease = PlaybackAction::Release;
    constexpr PlaybackAction kSound = PlaybackAction::Sound;
    const std::vector<std::pair<std::string, PlaybackAction>> cases{
        {"1", kRelease}, {"2", kRelease},  {"1.0", kRelease}, {"+Infinity", kRelease},
        {"0", kSound},   {"0.99", kSound}, {"", kSound},      {"NaN", kSound},
        {"-1", kSound}};
    for (const auto& [flag, action] : cases) {
        Playing playing(Recording{"5;6;" + flag + ";0"});
        EXPECT_EQ(playing.step(1).action, action) << flag;
        EXPECT_EQ(playing.voice.released(), action == kRelease) << flag;
        EXPECT_EQ(playing.player.playIndex(), 1u);
    }
}

TEST(PlayerLine, SoundsAtTheRoundedPointClampedIntoTheAreaAndNamesItsNote) {
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
        Playing playing(Recording{c.line});
        const PlayedStep step = playing.step(1);
        EXPECT_EQ(step.action, PlaybackAction::Sound) << c.line;
        EXPECT_EQ(std::pair(step.x, step.y), std::pair(c.x, c.y)) << c.line;
        EXPECT_EQ(step.noteIndex, std::nullopt) << "Unrestricted names no note";
        EXPECT_DOUBLE_EQ(playing.voice.pitchHz(), (c.x + 10) * 2.5) << c.line;
    }
    Playing major(Recording{"0;100;0;0"});
    major.controls.scaleMode = ScaleMode::Major;
    major.controls.scale = buildScale(ScaleMode::Major, 0, Scale{});
    EXPECT_EQ(major.step(1).noteIndex, 0) << "the first strip of C major is C";
}

} // namespace
} // namespace doodle
