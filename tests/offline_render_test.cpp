#include "PitchMeasure.h"
#include "mapping/MapPoint.h"
#include "mapping/MidiMap.h"
#include "recording/GestureLine.h"
#include "recording/OfflineRender.h"
#include "recording/Player.h"
#include "voice/Synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace doodle {
namespace {

using test::measurePitchHz;

using Lines = std::vector<std::string>;

constexpr std::size_t kFadeInEnd = 44 + kFadeInSamples; // a line at 0 ms sounds from sample 44

struct Rendered {
    RenderOutcome outcome = RenderOutcome::Aborted;
    std::vector<float> samples;
    std::vector<std::size_t> blockSizes;
};

Rendered render(const Lines& lines, const RenderSettings& settings = {}) {
    Rendered result;
    const Recording recording(lines);
    const std::optional<RenderPlan> plan = planRender(recording, settings.playSpeed);
    if (!plan) {
        ADD_FAILURE() << "no plan";
        return result;
    }
    result.outcome = renderRecording(recording, settings, *plan, [&](std::span<const float> block) {
        result.samples.insert(result.samples.end(), block.begin(), block.end());
        result.blockSizes.push_back(block.size());
        return true;
    });
    return result;
}

// The program's playback as plainly as it can be written: every tick visited, one sample
// rendered at a time, tick k handled just before sample k * 44100 / 1000.
std::vector<float> replayTickByTick(const Lines& lines, const RenderSettings& settings) {
    constexpr int32_t kTickLimit = 100'000;
    VoiceParams voice;
    VoiceRenderer renderer(voice);
    VowelWorking vowel;
    MapControls controls;
    controls.scaleMode = settings.scaleMode;
    controls.scale = buildScale(settings.scaleMode, settings.rootIndex, Scale{});
    controls.voiceType = settings.voiceType;
    std::vector<float> out;
    auto renderTo = [&](std::size_t end) {
        while (out.size() < end) {
            float sample = 0.0f;
            renderer.process(&sample, 1);
            out.push_back(sample);
        }
    };
    const Recording recording(lines);
    Player player(recording, voice, vowel);
    // Start-up's first tick ends playback, then the play toggle starts it.
    player.stop();
    player.start();
    for (int32_t tick = 1; tick < kTickLimit; ++tick) {
        renderTo(static_cast<std::size_t>(tick) * 44100 / 1000);
        if (player.step(tick, settings.playSpeed, controls).action == PlaybackAction::Stop) {
            player.stop();
            renderTo(out.size() + 4000);
            return out;
        }
    }
    ADD_FAILURE() << "playback did not stop";
    return out;
}

// A drag over the area every 11 to 15 ms with releases, a burst of lines due together, a
// point outside the area, a line without fields and a time that is not a number.
Lines dragRecording() {
    Lines lines;
    int32_t timeMs = 30;
    for (int32_t i = 0; i < 90; ++i) {
        const int32_t x = (i * 9) % 250;
        const int32_t y = 200 - (i * 7) % 230;
        const int32_t released = i % 25 == 24 ? 1 : 0;
        lines.push_back(std::to_string(x) + ";" + std::to_string(y) + ";" +
                        std::to_string(released) + ";" + std::to_string(timeMs));
        timeMs += i == 40 ? 0 : 11 + i % 5;
    }
    lines.insert(lines.begin() + 50, {"garbage", "120;80;0;NaN", "-30;999;0;700"});
    return lines;
}

TEST(OfflineRenderLength, FollowsTheTickOfTheStopPlusTheFadeOut) {
    struct Case {
        Lines lines;
        double playSpeed = 1.0;
        int32_t stopTick = 0;
        int64_t sampleCount = 0;
    };
    const std::vector<Case> cases{
        {{}, 1.0, 1, 44 + 4000},
        {{"120;45;0;100"}, 1.0, 102, 4498 + 4000},
        {{"120;45;0;100"}, 2.0, 52, 2293 + 4000},
        {{"1;1;0;7"}, 2.0, 6, 264 + 4000}, // 3.5 ms rounds to tick 4, plays on 5
        {{"1;1;0;5"}, 2.0, 4, 176 + 4000}, // 2.5 ms rounds to tick 2, plays on 3
        {{"1;1;0;0", "2;2;0;0", "3;3;1;0"}, 1.0, 4, 176 + 4000}, // one line per tick
        {{"1;1;0;999"}, 1.3, 770, 33957 + 4000},
        {{"1;1;0;0", "9;9;0;60000"}, 5.0, 12002, 529288 + 4000},
    };
    for (const Case& c : cases) {
        const std::optional<RenderPlan> plan = planRender(Recording(c.lines), c.playSpeed);
        ASSERT_TRUE(plan.has_value());
        EXPECT_EQ(plan->stopTick, c.stopTick) << c.lines.size() << " lines at " << c.playSpeed;
        EXPECT_EQ(plan->sampleCount, c.sampleCount) << c.lines.size() << " at " << c.playSpeed;
        RenderSettings settings;
        settings.playSpeed = c.playSpeed;
        const Rendered rendered = render(c.lines, settings);
        EXPECT_EQ(rendered.outcome, RenderOutcome::Finished);
        EXPECT_EQ(static_cast<int64_t>(rendered.samples.size()), c.sampleCount);
    }
}

TEST(OfflineRenderLength, LongWaitsArePlannedWithoutRenderingAndEndlessOnesAreRefused) {
    // Due on tick 1073741824 (a half rounded to even), playing on the next.
    const Lines late{"1;1;0;2147483647"};
    const std::optional<RenderPlan> plan = planRender(Recording(late), 2.0);
    ASSERT_TRUE(plan.has_value());
    EXPECT_EQ(plan->stopTick, 1073741826);
    EXPECT_EQ(plan->sampleCount, int64_t{47352014526} + 4000);

    // At speed 1 the line is due on the last tick the counter reaches: it never plays.
    EXPECT_FALSE(planRender(Recording(late), 1.0).has_value());

    // A plan that ends before playback does stops the playback there.
    const Lines longer{"1;1;0;0", "1;1;0;5000"};
    const std::optional<RenderPlan> shortPlan = planRender(Recording{"1;1;0;0"}, 1.0);
    ASSERT_TRUE(shortPlan.has_value());
    int64_t samples = 0;
    const RenderOutcome outcome =
        renderRecording(Recording(longer), {}, *shortPlan, [&](std::span<const float> block) {
            samples += static_cast<int64_t>(block.size());
            return true;
        });
    EXPECT_EQ(outcome, RenderOutcome::Endless);
    EXPECT_LE(samples, shortPlan->sampleCount);
}

TEST(OfflineRenderLength, BlocksAreFullButTheLastAndASinkCanStopTheRender) {
    const Lines lines = dragRecording();
    const Rendered rendered = render(lines);
    ASSERT_GT(rendered.blockSizes.size(), 2u);
    for (std::size_t i = 0; i + 1 < rendered.blockSizes.size(); ++i) {
        EXPECT_EQ(rendered.blockSizes[i], kRenderBlockFrames) << i;
    }
    EXPECT_GT(rendered.blockSizes.back(), 0u);
    EXPECT_LE(rendered.blockSizes.back(), kRenderBlockFrames);

    int32_t calls = 0;
    const Recording recording(lines);
    const RenderOutcome outcome =
        renderRecording(recording, {}, *planRender(recording, 1.0), [&](std::span<const float>) {
            ++calls;
            return false;
        });
    EXPECT_EQ(outcome, RenderOutcome::Aborted);
    EXPECT_EQ(calls, 1);
}

TEST(OfflineRenderSettings, OutsideTheControlsRangesRenderNothing) {
    std::vector<RenderSettings> invalid(9);
    invalid[0].playSpeed = 0.99;
    invalid[1].playSpeed = 5.01;
    invalid[2].playSpeed = std::numeric_limits<double>::quiet_NaN();
    invalid[3].rootIndex = -1;
    invalid[4].rootIndex = 12;
    invalid[5].voiceType = static_cast<VoiceType>(0);
    invalid[6].voiceType = static_cast<VoiceType>(3);
    invalid[7].scaleMode = static_cast<ScaleMode>(4);
    invalid[8].tuning = static_cast<Tuning>(2);
    const Recording recording{"1;1;0;0"};
    const RenderPlan plan = *planRender(recording, 1.0);
    for (const RenderSettings& settings : invalid) {
        int32_t calls = 0;
        EXPECT_EQ(playRecording(
                      recording, settings, plan, [&](const PlayedTick&) { ++calls; },
                      [&](std::span<const float>) {
                          ++calls;
                          return true;
                      }),
                  RenderOutcome::InvalidSettings);
        EXPECT_EQ(calls, 0);
    }
    RenderSettings edges;
    edges.playSpeed = 5.0;
    edges.voiceType = VoiceType::Type2;
    edges.rootIndex = 11;
    edges.scaleMode = ScaleMode::Pentatonic;
    edges.tuning = Tuning::Concert;
    EXPECT_EQ(render({"1;1;0;0"}, edges).outcome, RenderOutcome::Finished);
}

// The played ticks are the same whether the voice is rendered or not (the MIDI export plays
// without samples), each sounding line once in order with the pitch its samples sing.
TEST(OfflinePlayback, TicksAreTheSameWithAndWithoutSamplesAndEndOnThePlannedStop) {
    const Lines lines = dragRecording();
    const Recording recording(lines);
    const RenderSettings settings{2.5, VoiceType::Type2, ScaleMode::Minor, 9, Tuning::Concert};
    const RenderPlan plan = *planRender(recording, settings.playSpeed);
    std::vector<PlayedTick> withSamples;
    std::vector<PlayedTick> alone;
    int64_t sampleCount = 0;
    ASSERT_EQ(playRecording(
                  recording, settings, plan, [&](const PlayedTick& t) { withSamples.push_back(t); },
                  [&](std::span<const float> block) {
                      sampleCount += static_cast<int64_t>(block.size());
                      return true;
                  }),
              RenderOutcome::Finished);
    ASSERT_EQ(playRecording(recording, settings, plan,
                            [&](const PlayedTick& t) { alone.push_back(t); }, {}),
              RenderOutcome::Finished);
    EXPECT_EQ(sampleCount, plan.sampleCount);
    ASSERT_EQ(withSamples.size(), alone.size());
    ASSERT_EQ(alone.size(), lines.size() + 1); // every line, then the stop
    for (std::size_t i = 0; i < alone.size(); ++i) {
        EXPECT_EQ(alone[i].tick, withSamples[i].tick) << i;
        EXPECT_EQ(alone[i].step.action, withSamples[i].step.action) << i;
        EXPECT_EQ(alone[i].pitchHz, withSamples[i].pitchHz) << i;
        EXPECT_EQ(alone[i].sampleIndex, tickSampleIndex(alone[i].tick)) << i;
        if (i > 0) {
            EXPECT_GT(alone[i].tick, alone[i - 1].tick) << i;
        }
    }
    EXPECT_EQ(alone.back().step.action, PlaybackAction::Stop);
    EXPECT_EQ(alone.back().tick, plan.stopTick);
    // A held point's pitch is what the scale gives its X.
    const PlayedTick& first = alone.front();
    ASSERT_EQ(first.step.action, PlaybackAction::Sound);
    EXPECT_EQ(first.pitchHz,
              mapPitch(first.step.x, settings.scaleMode,
                       buildScale(settings.scaleMode, settings.rootIndex, Scale{}), settings.tuning)
                  .pitchHz);
}

TEST(OfflineRenderSamples, MatchATickByTickSampleBySampleReplayForEverySetting) {
    const Lines lines = dragRecording();
    std::vector<RenderSettings> settings(4);
    settings[1] = {2.5, VoiceType::Type2, ScaleMode::Minor, 9};
    settings[2] = {5.0, VoiceType::Type1, ScaleMode::Pentatonic, 6};
    settings[3] = {1.7, VoiceType::Type2, ScaleMode::Major, 3};
    for (const RenderSettings& s : settings) {
        const Rendered rendered = render(lines, s);
        const std::vector<float> expected = replayTickByTick(lines, s);
        ASSERT_EQ(rendered.samples.size(), expected.size()) << s.playSpeed;
        // Bytes, so that a -0.0 where 0.0 belongs counts as a difference too.
        EXPECT_EQ(
            std::memcmp(rendered.samples.data(), expected.data(), expected.size() * sizeof(float)),
            0)
            << s.playSpeed;
    }
    // The voice type reaches the formants, not only the replay above.
    RenderSettings type2;
    type2.voiceType = VoiceType::Type2;
    EXPECT_NE(render(lines).samples, render(lines, type2).samples);
}

TEST(OfflineRenderSamples, SilentUntilTheFirstLinesTickAndBetweenAFadedReleaseAndTheNextLine) {
    // Line 1 plays on tick 101 (sample 4454), the release on tick 301 (sample 13274), the next
    // line on tick 501 (sample 22094).
    const Rendered rendered = render({"50;60;0;100", "50;60;1;300", "90;60;0;500"});
    const std::vector<float>& s = rendered.samples;
    for (std::size_t n = 0; n < 4454; ++n) {
        ASSERT_EQ(s[n], 0.0f) << n;
    }
    // The oscillator has stood at phase 0 since start-up: the first sample after the tick is
    // the source's zero, the next one is not. A tick a sample early or late breaks this.
    EXPECT_EQ(s[4454], 0.0f);
    EXPECT_NE(s[4455], 0.0f);
    // The fade-out ends on its 4000th sample and silence holds until the next line.
    EXPECT_NE(s[13274 + 3998], 0.0f);
    for (std::size_t n = 13274 + 3999; n < 22094; ++n) {
        ASSERT_EQ(s[n], 0.0f) << n;
    }
    EXPECT_NE(s[22094], 0.0f); // the phase ran on through the silence
}

TEST(OfflineRenderSamples, TheTailFadesFromTheStopTickAndEndsOnExactZero) {
    // The last line sounds: the fade begins on the stop tick and reaches 0 on the last sample.
    const Rendered sounding = render({"100;100;0;0", "100;100;0;300"});
    const std::vector<float>& s = sounding.samples;
    ASSERT_EQ(s.size(), std::size_t{13318 + 4000});
    const std::size_t tailStart = 13318;
    double headLevel = 0.0;
    double endLevel = 0.0;
    for (std::size_t n = 0; n < 400; ++n) {
        headLevel += std::fabs(s[tailStart + n]);
        endLevel += std::fabs(s[s.size() - 400 + n]);
    }
    EXPECT_GT(headLevel, 10.0 * endLevel);
    EXPECT_NE(s[s.size() - 2], 0.0f);
    EXPECT_EQ(s.back(), 0.0f);

    // The last line releases one tick before the stop, which does not restart the fade: it
    // ended 4000 samples after the release, so the tail closes with the samples in between.
    const Rendered released = render({"100;100;0;0", "100;100;1;300"});
    const std::vector<float>& r = released.samples;
    const std::size_t releaseSample = 13274; // tick 301; the stop is tick 302
    ASSERT_EQ(r.size(), std::size_t{13318 + 4000});
    EXPECT_NE(r[releaseSample + 3998], 0.0f);
    for (std::size_t n = releaseSample + 3999; n < r.size(); ++n) {
        ASSERT_EQ(r[n], 0.0f) << n;
    }
}

TEST(OfflineRenderSamples, AHeldPointSingsThePitchOfItsX) {
    constexpr std::size_t kWindow = 8192;
    // Held from tick 1 to tick 601: past the fade-in, a steady stretch of over 20000 samples.
    auto held = [](int32_t x, const RenderSettings& settings) {
        const std::string point = std::to_string(x) + ";100;0;";
        return render({point + "0", point + "600"}, settings).samples;
    };
    for (const int32_t x : {30, 110, 230}) {
        const double expectedHz = (x + 10) * 2.5;
        EXPECT_NEAR(measurePitchHz(held(x, {}), kFadeInEnd, kWindow), expectedHz, 0.01 * expectedHz)
            << x;
    }
    // Scale settings: D major, voice type 2.
    const RenderSettings dMajor{1.0, VoiceType::Type2, ScaleMode::Major, 2};
    for (const int32_t x : {15, 75, 200}) {
        const double expectedHz =
            mapPitch(x, ScaleMode::Major, buildScale(ScaleMode::Major, 2, Scale{}), Tuning::Classic)
                .pitchHz;
        EXPECT_NEAR(measurePitchHz(held(x, dMajor), kFadeInEnd, kWindow), expectedHz,
                    0.01 * expectedHz)
            << x;
    }
}

} // namespace
} // namespace doodle

namespace doodle {
namespace {

// A chorus renders in stereo, the same bytes every time; in Harmony each sounding tick tells what
// the four parts sing: the voice on top, the others below it in the scale, never crossing.
TEST(OfflineRenderChorus, AChorusRendersStereoAndHarmonyTicksCarryFourOrderedParts) {
    Lines lines;
    for (int32_t step = 0; step < 60; ++step) {
        lines.push_back(formatGestureLine({100 + 2 * step, 40 + step, 0, 20 * step}));
    }
    lines.push_back(formatGestureLine({220, 100, 1, 1300}));
    RenderSettings settings;
    settings.scaleMode = ScaleMode::Major;
    settings.rootIndex = 2;
    settings.tuning = Tuning::Concert;
    const Rendered solo = render(lines, settings);

    settings.chorus = ChorusMode::Harmony;
    settings.singersPerPart = 2;
    EXPECT_EQ(renderChannels(settings), 2);
    const Rendered first = render(lines, settings);
    const Rendered second = render(lines, settings);
    EXPECT_EQ(first.outcome, RenderOutcome::Finished);
    EXPECT_EQ(first.samples.size(), 2 * solo.samples.size()) << "left and right per frame";
    EXPECT_EQ(first.samples, second.samples) << "the same bytes";
    EXPECT_NE(first.samples, std::vector<float>(first.samples.size(), 0.0f));

    const Recording recording(lines);
    const Scale scale = buildScale(ScaleMode::Major, settings.rootIndex, Scale{});
    std::size_t sounding = 0;
    std::size_t outOfOrder = 0;
    std::size_t offScale = 0;
    playRecording(recording, settings, *planRender(recording, 1.0),
                  [&](const PlayedTick& played) {
                      if (played.step.action != PlaybackAction::Sound) {
                          return;
                      }
                      ++sounding;
                      EXPECT_EQ(played.partPitchHz[0], played.pitchHz) << "the voice on top";
                      for (std::size_t part = 0; part < kChorusParts; ++part) {
                          const double hz = played.partPitchHz[part];
                          if (hz == 0.0) {
                              continue; // below a choir's range
                          }
                          const long note = std::lround(midiNoteOfPitch(hz));
                          const auto pitchClass = static_cast<int32_t>((note - 36 + 120) % 12);
                          offScale += std::find(scale.scaleNotes7.begin(), scale.scaleNotes7.end(),
                                                pitchClass) == scale.scaleNotes7.end();
                          if (part > 0 && played.partPitchHz[part - 1] != 0.0) {
                              outOfOrder += hz >= played.partPitchHz[part - 1] ? 1 : 0;
                          }
                      }
                  },
                  {});
    EXPECT_EQ(sounding, 60U);
    EXPECT_EQ(outOfOrder, 0U);
    EXPECT_EQ(offScale, 0U);

    settings.chorus = ChorusMode::Unison;
    const Rendered unison = render(lines, settings);
    EXPECT_EQ(unison.samples.size(), 2 * solo.samples.size());
    EXPECT_NE(unison.samples, first.samples);
}

} // namespace
} // namespace doodle
