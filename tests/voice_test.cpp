#include "voice/ResonatorTuning.h"
#include "voice/Synth.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace doodle {
namespace {

constexpr double kSampleRate = VoiceParams::sampleRate;

std::vector<float> render(VoiceParams& voice, std::size_t frames) {
    std::vector<float> out(frames, -99.0f);
    renderVoice(voice, out.data(), out.size());
    return out;
}

// The vowel of the top row of the drawing area, voice type 1.
void tuneTopVowel(VoiceParams& voice) {
    voice.res1.freq.store(310);
    voice.res1.bw.store(45);
    voice.res2.freq.store(2020);
    voice.res2.bw.store(200);
    voice.res3.freq.store(2960);
    voice.res3.bw.store(400);
    tuneResonators(voice);
}

// A voice as the program leaves it after some silent running: idle (stopped, faded out),
// tuned, at 220 Hz, with oscillator and resonators mid-cycle so the next sample is not zero.
void prepareIdleVoice(VoiceParams& voice) {
    stopVoice(voice);
    voice.fadeOutCount.store(kFadeOutSamples);
    tuneTopVowel(voice);
    voice.pitch.store(220.0);
    setPitch(voice);
    render(voice, 3001);
}

// Starts `voice` as a press does, and `reference` the same way but already at full level, so
// that reference's samples are the mix before the envelope.
void startBoth(VoiceParams& voice, VoiceParams& reference) {
    startVoice(voice);
    startVoice(reference);
    reference.fadeInCount.store(kFadeInSamples);
}

TEST(Voice, IsExactlySilentBeforeTheFirstStart) {
    VoiceParams voice;
    const auto before = render(voice, 500); // the stream's first samples, still "sounding"
    stopVoice(voice);                       // the first ticker tick
    const auto after = render(voice, 44100);
    for (float s : before) {
        ASSERT_EQ(s, 0.0f);
    }
    for (float s : after) {
        ASSERT_EQ(s, 0.0f);
    }
    EXPECT_EQ(voice.phase.load(), 0.0);
    EXPECT_EQ(voice.warmupCount.load(), 4);
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
    VoiceParams voice;
    VoiceParams reference;
    prepareIdleVoice(voice);
    prepareIdleVoice(reference);
    startBoth(voice, reference);

    std::vector<float> out;
    std::vector<float> full;
    for (int block = 0; block < 3; ++block) {
        startVoice(voice); // every drag event repeats the start while the voice sounds
        startVoice(reference);
        const auto part = render(voice, 500);
        const auto refPart = render(reference, 500);
        out.insert(out.end(), part.begin(), part.end());
        full.insert(full.end(), refPart.begin(), refPart.end());
    }
    ASSERT_NE(full[0], 0.0f);
    EXPECT_FLOAT_EQ(out[0], full[0] / 1000.0f);
    for (std::size_t i = 0; i < 999; ++i) {
        const double factor = static_cast<double>(i + 1) / kFadeInSamples;
        ASSERT_NEAR(out[i], full[i] * factor, 1e-6 * std::abs(full[i]) + 1e-12) << i;
    }
    for (std::size_t i = 999; i < out.size(); ++i) {
        ASSERT_EQ(out[i], full[i]) << i; // the 1000th sample is at full level
    }
}

TEST(Voice, FadeOutReachesExactSilenceOnThe4000thSampleWhileTheVoiceRunsOn) {
    VoiceParams voice;
    VoiceParams reference;
    prepareIdleVoice(voice);
    prepareIdleVoice(reference);
    startBoth(voice, reference);
    render(voice, 2000);
    render(reference, 2000);

    stopVoice(voice);
    const auto out = render(voice, 10000);
    const auto full = render(reference, 10000);
    EXPECT_FLOAT_EQ(out[0], full[0] * 3999.0f / 4000.0f);
    EXPECT_NE(out[3998], 0.0f);
    for (std::size_t i = 0; i < 3999; ++i) {
        const double factor = static_cast<double>(kFadeOutSamples - (i + 1)) / kFadeOutSamples;
        ASSERT_NEAR(out[i], full[i] * factor, 1e-6 * std::abs(full[i]) + 1e-12) << i;
    }
    for (std::size_t i = 3999; i < out.size(); ++i) {
        ASSERT_EQ(out[i], 0.0f) << i;
    }
    // Oscillator and resonators kept running: the silent voice is in step with the reference.
    EXPECT_EQ(voice.phase.load(), reference.phase.load());
    EXPECT_EQ(voice.res2.prev1.load(), reference.res2.prev1.load());
}

TEST(Voice, StartDuringFadeOutEndsItAndFadesInFromOneThousandth) {
    VoiceParams voice;
    VoiceParams reference;
    prepareIdleVoice(voice);
    prepareIdleVoice(reference);
    startBoth(voice, reference);
    render(voice, 3000);
    render(reference, 3000);
    stopVoice(voice);
    stopVoice(reference);
    setPitch(reference); // keep both on the same pitch state after the stop
    setPitch(voice);
    render(voice, 2000);
    render(reference, 2000);

    startVoice(voice);
    startVoice(reference);
    reference.fadeInCount.store(kFadeInSamples);
    const auto out = render(voice, 1000);
    const auto full = render(reference, 1000);
    EXPECT_EQ(voice.fadeOutCount.load(), 0);
    EXPECT_FLOAT_EQ(out[0], full[0] / 1000.0f);
    EXPECT_EQ(out[999], full[999]);
}

std::vector<double> phaseIncrements(VoiceParams& voice, int samples) {
    std::vector<double> incs;
    for (int i = 0; i < samples; ++i) {
        float sample = 0.0f;
        renderVoice(voice, &sample, 1);
        incs.push_back(voice.phaseInc.load());
    }
    return incs;
}

TEST(Voice, GlideIsLinearInHertzAndLandsExactlyOnTheTargetAtStep2000) {
    VoiceParams voice;
    prepareIdleVoice(voice); // 220 Hz
    startVoice(voice);
    voice.pitch.store(330.0);
    setPitch(voice);
    EXPECT_EQ(voice.glideActive.load(), 1);
    EXPECT_EQ(voice.glideFrom.load(), 220.0);

    const auto incs = phaseIncrements(voice, 2001);
    for (int k = 1; k <= 2000; ++k) {
        const double expectedHz = 220.0 + 110.0 * k / 2000.0;
        ASSERT_DOUBLE_EQ(incs[static_cast<std::size_t>(k - 1)] * kSampleRate, expectedHz) << k;
    }
    EXPECT_EQ(incs[1999], 330.0 / kSampleRate);
    EXPECT_EQ(incs[2000], 330.0 / kSampleRate);
    EXPECT_EQ(voice.glideActive.load(), 0);
    EXPECT_EQ(voice.glideStep.load(), 0);
}

TEST(Voice, NoGlideForTheFirstPitchAfterAStopNorForARepeatedPitch) {
    VoiceParams voice;
    prepareIdleVoice(voice);
    stopVoice(voice);
    startVoice(voice);
    voice.pitch.store(440.0);
    setPitch(voice);
    EXPECT_EQ(voice.glideActive.load(), 0);
    EXPECT_EQ(phaseIncrements(voice, 1)[0], 440.0 / kSampleRate);

    voice.pitch.store(550.0);
    setPitch(voice);
    phaseIncrements(voice, 300);
    voice.pitch.store(550.0); // same strip again: the running glide goes on untouched
    setPitch(voice);
    EXPECT_EQ(voice.glideActive.load(), 1);
    EXPECT_EQ(voice.glideFrom.load(), 440.0);
    EXPECT_EQ(voice.glideStep.load(), 300);
}

TEST(Voice, PitchChangeDuringAGlideStartsFromThePreviousTargetAndKeepsTheStepCount) {
    VoiceParams voice;
    prepareIdleVoice(voice); // 220 Hz
    startVoice(voice);
    voice.pitch.store(330.0);
    setPitch(voice);
    constexpr int kStepsDone = 500;
    phaseIncrements(voice, kStepsDone);

    voice.pitch.store(440.0);
    setPitch(voice);
    EXPECT_EQ(voice.glideFrom.load(), 330.0);
    const auto incs = phaseIncrements(voice, 2000 - kStepsDone + 1);
    EXPECT_DOUBLE_EQ(incs[0] * kSampleRate, 330.0 + 110.0 * (kStepsDone + 1) / 2000.0);
    EXPECT_EQ(incs[2000 - kStepsDone - 1], 440.0 / kSampleRate);
    EXPECT_EQ(voice.glideActive.load(), 0);
}

TEST(Voice, PhaseLandingExactlyOnOneWrapsOnTheNextSample) {
    VoiceParams voice;
    voice.pitch.store(kSampleRate / 2.0); // half a cycle per sample
    std::array<double, 4> phases{};
    for (double& p : phases) {
        float sample = 0.0f;
        renderVoice(voice, &sample, 1);
        p = voice.phase.load();
    }
    EXPECT_EQ(phases[0], 0.5);
    EXPECT_EQ(phases[1], 1.0); // not wrapped while equal to 1.0
    EXPECT_EQ(phases[2], 0.5);
    EXPECT_EQ(phases[3], 1.0);
}

TEST(Voice, ZeroFramesWriteNothingAndChangeNothing) {
    VoiceParams voice;
    prepareIdleVoice(voice);
    startVoice(voice);
    const double phase = voice.phase.load();
    float sentinel = 7.0f;
    renderVoice(voice, &sentinel, 0);
    EXPECT_EQ(sentinel, 7.0f);
    EXPECT_EQ(voice.phase.load(), phase);
    EXPECT_EQ(voice.fadeInCount.load(), 0);
}

// An independent direct-form model from a zero state: three resonators on half the source,
// mixed as (y1 - y2 + y3) / 3. The engine's warm-up must give exactly the same samples.
TEST(Voice, MatchesADirectFormModelFromProgramStart) {
    VoiceParams voice;
    tuneTopVowel(voice);
    voice.pitch.store(187.5);
    voice.fadeInCount.store(kFadeInSamples); // isolate the filters from the envelope
    constexpr std::size_t kFrames = 4096;
    const auto out = render(voice, kFrames);

    struct Model {
        double a, b, c, y1 = 0.0, y2 = 0.0;
        double step(double x) {
            const double y = a * x + b * y1 + c * y2;
            y2 = y1;
            y1 = y;
            return y;
        }
    };
    auto model = [&](const Resonator& r) { return Model{r.A.load(), r.B.load(), r.C.load()}; };
    std::array<Model, 3> res{model(voice.res1), model(voice.res2), model(voice.res3)};
    double phase = 0.0;
    for (std::size_t n = 0; n < kFrames; ++n) {
        const double x = 0.5 * std::sin(VoiceParams::twoPi * sourceShape(phase));
        const double y1 = res[0].step(x);
        const double y2 = res[1].step(x);
        const double y3 = res[2].step(x);
        ASSERT_EQ(out[n], static_cast<float>((y1 - y2 + y3) / 3.0)) << n;
        phase += 187.5 / kSampleRate;
        if (phase > 1.0) {
            phase -= 1.0;
        }
    }
}

TEST(Voice, IdenticalResonatorsMixToOneThird) {
    VoiceParams voice;
    for (Resonator* r : {&voice.res1, &voice.res2, &voice.res3}) {
        r->freq.store(700);
        r->bw.store(80);
    }
    tuneResonators(voice);
    voice.pitch.store(150.0);
    voice.fadeInCount.store(kFadeInSamples);
    float sample = 0.0f;
    for (int i = 0; i < 1000; ++i) {
        renderVoice(voice, &sample, 1);
        ASSERT_EQ(sample, static_cast<float>(voice.res3.out.load() / 3.0)) << i;
    }
}

} // namespace
} // namespace doodle
