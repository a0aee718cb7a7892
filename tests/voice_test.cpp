#include "voice/ResonatorTuning.h"
#include "voice/Synth.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace doodle {
namespace {

constexpr double kSampleRate = VoiceParams::sampleRate;

// The voice as the program runs it: the parameters the main thread writes and the renderer
// that the audio callback owns.
struct Voice {
    VoiceParams params;
    VoiceRenderer renderer{params};

    std::vector<float> render(std::size_t frames) {
        std::vector<float> out(frames, -99.0f);
        renderVoice(renderer, out.data(), out.size());
        return out;
    }
};

// The vowel of the top row of the drawing area, voice type 1.
void tuneTopVowel(VoiceParams& voice) {
    voice.res[0].setFormant(310, 45);
    voice.res[1].setFormant(2020, 200);
    voice.res[2].setFormant(2960, 400);
    tuneResonators(voice);
}

// A voice after some running at 220 Hz, with oscillator and resonators mid-cycle so the next
// sample is not zero: idle (stopped and faded out) or sounding at full level. Two voices
// prepared so are in step, whichever way: the envelope alone differs.
void prepare(Voice& voice, bool sounding) {
    stopVoice(voice.params);
    if (sounding) {
        startVoice(voice.params);
    }
    tuneTopVowel(voice.params);
    voice.params.pitch.store(220.0);
    setPitch(voice.params);
    voice.render(kFadeOutSamples + kFadeInSamples);
}

// `out` fades in from 1/1000 of `full` and is at full level from its 1000th sample on.
void expectFadeIn(const std::vector<float>& out, const std::vector<float>& full) {
    ASSERT_NE(full[0], 0.0f);
    EXPECT_FLOAT_EQ(out[0], full[0] / 1000.0f);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i + 1 < kFadeInSamples) {
            const double factor = static_cast<double>(i + 1) / kFadeInSamples;
            ASSERT_NEAR(out[i], full[i] * factor, 1e-6 * std::abs(full[i]) + 1e-12) << i;
        } else {
            ASSERT_EQ(out[i], full[i]) << i;
        }
    }
}

TEST(Voice, IsExactlySilentBeforeTheFirstStart) {
    Voice voice;
    const auto before = voice.render(500); // the stream's first samples, still "sounding"
    stopVoice(voice.params);               // the first ticker tick
    const auto after = voice.render(44100);
    for (float s : before) {
        ASSERT_EQ(s, 0.0f);
    }
    for (float s : after) {
        ASSERT_EQ(s, 0.0f);
    }
}

TEST(Voice, SourceShapeGivesTheTellingValues) {
    auto source = [](double p) { return std::sin(VoiceParams::twoPi * sourceShape(p)); };
    constexpr double kTol = 5e-6;
    EXPECT_EQ(source(0.0), 0.0);
    EXPECT_NEAR(source(0.1), 0.21779, kTol);
    EXPECT_NEAR(source(0.25), 0.51762, kTol);
    EXPECT_NEAR(source(0.4), 0.75547, kTol);
    EXPECT_NEAR(source(std::nextafter(0.5, 0.0)), 0.86956, kTol);
    EXPECT_NEAR(source(0.5), -0.86956, kTol); // 0.5 takes the second branch
    EXPECT_NEAR(source(0.75), -0.51762, kTol);
    EXPECT_LT(std::abs(source(1.0)), 1e-14);
    for (double p = 0.01; p < 0.5; p += 0.01) {
        EXPECT_NEAR(source(p), -source(1.0 - p), 1e-12) << p;
    }
}

TEST(Voice, FadeInRisesFromOneThousandthToFullAndIsNotRestartedByRepeatedStarts) {
    Voice voice;
    Voice reference;
    prepare(voice, false);
    prepare(reference, true);

    std::vector<float> out;
    std::vector<float> full;
    for (int block = 0; block < 3; ++block) {
        startVoice(voice.params); // every drag event repeats the start while the voice sounds
        startVoice(reference.params);
        const auto part = voice.render(500);
        const auto refPart = reference.render(500);
        out.insert(out.end(), part.begin(), part.end());
        full.insert(full.end(), refPart.begin(), refPart.end());
    }
    expectFadeIn(out, full);
}

TEST(Voice, FadeOutReachesExactSilenceOnThe4000thSampleWhileTheVoiceRunsOn) {
    Voice voice;
    Voice reference;
    prepare(voice, true);
    prepare(reference, true);

    stopVoice(voice.params);
    const auto out = voice.render(10000);
    const auto full = reference.render(10000);
    EXPECT_FLOAT_EQ(out[0], full[0] * 3999.0f / 4000.0f);
    EXPECT_NE(out[3998], 0.0f);
    for (std::size_t i = 0; i < 3999; ++i) {
        const double factor = static_cast<double>(kFadeOutSamples - (i + 1)) / kFadeOutSamples;
        ASSERT_NEAR(out[i], full[i] * factor, 1e-6 * std::abs(full[i]) + 1e-12) << i;
    }
    for (std::size_t i = 3999; i < out.size(); ++i) {
        ASSERT_EQ(out[i], 0.0f) << i;
    }
    // Oscillator and resonators kept running: the next start fades in the reference's samples.
    startVoice(voice.params);
    expectFadeIn(voice.render(2000), reference.render(2000));
}

TEST(Voice, StartDuringFadeOutEndsItAndFadesInFromOneThousandth) {
    Voice voice;
    Voice reference;
    prepare(voice, true);
    prepare(reference, true);
    stopVoice(voice.params);
    voice.render(2000);
    reference.render(2000);

    startVoice(voice.params);
    expectFadeIn(voice.render(1000), reference.render(1000));
    // The start ended the fade-out: the next stop begins a whole one.
    stopVoice(voice.params);
    EXPECT_FLOAT_EQ(voice.render(1)[0], reference.render(1)[0] * 3999.0f / 4000.0f);
}

// An independent direct-form model of a voice sounding from program start: half the source at
// the phase reached so far, three resonators y = A x + B y1 + C y2 from a zero state, mixed as
// (y1 - y2 + y3) / 3, faded in over 1000 samples. freqHz(n) is the frequency of sample n, which
// moves the phase on for sample n + 1.
std::vector<float> modelVoice(const VoiceParams& voice, std::size_t frames,
                              const std::function<double(std::size_t)>& freqHz) {
    struct Model {
        double a, b, c, y1 = 0.0, y2 = 0.0;
        double step(double x) {
            const double y = a * x + b * y1 + c * y2;
            y2 = y1;
            y1 = y;
            return y;
        }
    };
    auto model = [](const Resonator& r) { return Model{r.A.load(), r.B.load(), r.C.load()}; };
    std::array<Model, 3> res{model(voice.res[0]), model(voice.res[1]), model(voice.res[2])};
    std::vector<float> out;
    double phase = 0.0;
    for (std::size_t n = 0; n < frames; ++n) {
        const double x = 0.5 * std::sin(VoiceParams::twoPi * sourceShape(phase));
        const double y1 = res[0].step(x);
        const double y2 = res[1].step(x);
        const double y3 = res[2].step(x);
        const double mixed = (y1 - y2 + y3) / 3.0;
        out.push_back(static_cast<float>(
            n < kFadeInSamples ? mixed * (static_cast<double>(n + 1) / kFadeInSamples) : mixed));
        phase += freqHz(n) / kSampleRate;
        if (phase > 1.0) {
            phase -= 1.0;
        }
    }
    return out;
}

// Hz on step 1..2000 of a glide: linear in Hz, exactly on the target at step 2000.
double glideHz(double fromHz, double toHz, std::size_t step) {
    return fromHz + (toHz - fromHz) * static_cast<double>(step) / kGlideSamples;
}

TEST(Voice, MatchesADirectFormModelThroughGlidesThatRetargetAndLandExactly) {
    Voice voice;
    tuneTopVowel(voice.params);
    // All before the first sample: a stop, a start and a glide after them, which must run.
    stopVoice(voice.params);
    startVoice(voice.params);
    for (double pitchHz : {220.0, 330.0}) {
        voice.params.pitch.store(pitchHz);
        setPitch(voice.params);
    }
    std::vector<float> out = voice.render(500);
    auto more = [&](double pitchHz, std::size_t frames) {
        voice.params.pitch.store(pitchHz);
        setPitch(voice.params);
        const auto part = voice.render(frames);
        out.insert(out.end(), part.begin(), part.end());
    };
    more(440.0, 1600); // from the previous target, 330 Hz, going on from step 501
    more(550.0, 2100); // after the landing on 440 Hz at sample 1999: a fresh glide
    const auto model = modelVoice(voice.params, out.size(), [](std::size_t n) {
        if (n < 500) {
            return glideHz(220.0, 330.0, n + 1);
        }
        if (n < 2000) {
            return glideHz(330.0, 440.0, n + 1);
        }
        if (n < 2100) {
            return 440.0;
        }
        return n < 4100 ? glideHz(440.0, 550.0, n - 2099) : 550.0;
    });
    for (std::size_t n = 0; n < out.size(); ++n) {
        ASSERT_EQ(out[n], model[n]) << n;
    }
}

TEST(Voice, AStopEndsTheGlideAndTheFirstPitchAfterItNeverGlides) {
    // Three voices in step, gliding from 220 to 330 Hz, then each sent to 440 Hz.
    std::array<Voice, 3> voices;
    for (Voice& voice : voices) {
        prepare(voice, true);
        voice.params.pitch.store(330.0);
        setPitch(voice.params);
        voice.render(300);
    }
    Voice& glideThenStop = voices[0];
    Voice& stopThenPitch = voices[1];
    Voice& reference = voices[2];
    glideThenStop.params.pitch.store(440.0);
    setPitch(glideThenStop.params); // a glide from 330 Hz, but the stop below ends it
    for (Voice& voice : voices) {
        stopVoice(voice.params);
        startVoice(voice.params);
    }
    stopThenPitch.params.pitch.store(440.0);
    setPitch(stopThenPitch.params);      // no glide: the first pitch after a stop
    reference.params.pitch.store(440.0); // no setPitch, so it cannot glide
    const auto expected = reference.render(3000);
    EXPECT_EQ(glideThenStop.render(3000), expected);
    EXPECT_EQ(stopThenPitch.render(3000), expected);

    // A setPitch with the pitch of the running glide leaves it untouched.
    setPitch(glideThenStop.params); // 440 Hz after the stop, as stopThenPitch had
    for (Voice* voice : {&glideThenStop, &stopThenPitch}) {
        voice->params.pitch.store(550.0);
        setPitch(voice->params);
        voice->render(300);
    }
    setPitch(stopThenPitch.params);
    EXPECT_EQ(stopThenPitch.render(2000), glideThenStop.render(2000));
}

TEST(Voice, PhaseLandingExactlyOnOneWrapsOnTheNextSample) {
    Voice voice;
    for (Resonator& r : voice.params.res) {
        r.A.store(1.0); // y = x: each sample is the source over 3, times the envelope
    }
    voice.params.pitch.store(kSampleRate / 2.0); // half a cycle per sample: 0, 0.5, 1.0, 0.5 ...
    const auto out = voice.render(kFadeInSamples + 2);
    auto sourceOver3 = [](double p) {
        return static_cast<float>(0.5 * std::sin(VoiceParams::twoPi * sourceShape(p)) / 3.0);
    };
    EXPECT_EQ(out[0], 0.0f);
    const float atOne = sourceOver3(1.0); // about 5e-16, where phase 0 would give 0
    ASSERT_NE(atOne, 0.0f);
    EXPECT_EQ(out[kFadeInSamples], atOne);
    EXPECT_EQ(out[kFadeInSamples + 1], sourceOver3(0.5));
}

TEST(Voice, ZeroFramesWriteNothingAndChangeNothing) {
    Voice voice;
    Voice twin;
    prepare(voice, false);
    prepare(twin, false);
    startVoice(voice.params);
    startVoice(twin.params);
    float sentinel = 7.0f;
    renderVoice(voice.renderer, &sentinel, 0);
    EXPECT_EQ(sentinel, 7.0f);
    EXPECT_EQ(voice.render(1000), twin.render(1000));
}

TEST(Voice, ResetGivesTheStateOfANewRenderer) {
    Voice voice;
    prepare(voice, true);
    voice.renderer.reset();
    VoiceRenderer fresh(voice.params);
    std::vector<float> expected(1000);
    renderVoice(fresh, expected.data(), expected.size());
    EXPECT_EQ(voice.render(expected.size()), expected);
}

// Levels in 1/4000 of full: a fade-in climbs 4 a sample up to 4000, a fade-out falls 1 a sample
// down to 0, a stop begins its fade-out at 3999 and a start after a stop its fade-in at 4.
bool levelMayFollow(int32_t from, int32_t to) {
    constexpr int32_t kFull = kFadeOutSamples;
    constexpr int32_t kFadeInStep = kFadeOutSamples / kFadeInSamples;
    return to == std::min(from + kFadeInStep, kFull) || to == std::max(from - 1, 0) ||
           to == kFull - 1 || to == kFadeInStep;
}

// The main thread stops and restarts the voice while another thread renders it without pause,
// as the audio callback does. However the requests fall between its samples, each stop must
// begin a whole fade-out and each start after it fade in from 1/1000: a reset that the renderer
// overwrote shows as a jump to another level.
TEST(Voice, NoStartOrStopIsLostAgainstARunningRenderer) {
    Voice voice;
    for (Resonator& r : voice.params.res) {
        r.setFormant(700, 400);
    }
    tuneResonators(voice.params);
    // The phase moves to a quarter cycle and stays: a constant source, on which the resonators
    // settle, so that every sample is the envelope times one level.
    voice.params.pitch.store(kSampleRate / 4.0);
    voice.render(1);
    voice.params.pitch.store(0.0);
    const double fullLevel = voice.render(kFadeOutSamples).back();
    ASSERT_GT(fullLevel, 0.0);

    constexpr int kRestarts = 40'000;
    constexpr int32_t kBufferFrames = 4;
    std::atomic<bool> running{true};
    std::atomic<int64_t> buffersDone{0};
    int stopsHeard = 0; // samples at 3999/4000 of full: the first of a fade-out
    int jumps = 0;      // samples at a level no request and no fade leads to
    std::thread callback([&] {
        std::array<float, kBufferFrames> buffer{};
        int32_t level = kFadeOutSamples;
        while (running.load()) {
            voice.renderer.process(buffer.data(), buffer.size());
            for (float sample : buffer) {
                const auto next =
                    static_cast<int32_t>(std::lround(sample / fullLevel * kFadeOutSamples));
                stopsHeard += next == kFadeOutSamples - 1 ? 1 : 0;
                jumps += levelMayFollow(level, next) ? 0 : 1;
                level = next;
            }
            buffersDone.fetch_add(1);
        }
    });
    // Two buffers at least: the second starts after the request, which it must take.
    auto waitBuffers = [&](int64_t count) {
        const int64_t until = buffersDone.load() + 2 + count;
        while (buffersDone.load() < until) {
            std::this_thread::yield();
        }
    };
    constexpr int kFullEvery = 64; // now and then a start runs its fade-in to full level
    for (int i = 0; i < kRestarts; ++i) {
        stopVoice(voice.params);
        waitBuffers(i % 4);
        startVoice(voice.params);
        waitBuffers(i % 3 + (i % kFullEvery == 0 ? kFadeInSamples / kBufferFrames : 0));
    }
    running.store(false);
    callback.join();
    EXPECT_EQ(jumps, 0);
    EXPECT_EQ(stopsHeard, kRestarts);
}

} // namespace
} // namespace doodle
