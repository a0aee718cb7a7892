#include "mapping/MapPoint.h"
#include "voice/Synth.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
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
        renderer.process(out.data(), out.size());
        return out;
    }
};

// The vowels of the top and the bottom row of the drawing area, voice type 1.
constexpr FormantSet kTopVowel{{310, 2020, 2960}, {45, 200, 400}};
constexpr FormantSet kBottomVowel{{800, 1150, 2900}, {80, 90, 120}};

// A voice after some running at 220 Hz, with oscillator and resonators mid-cycle so the next
// sample is not zero: idle (stopped and faded out) or sounding at full level. Two voices
// prepared so are in step, whichever way: the envelope alone differs.
void prepare(Voice& voice, bool sounding) {
    stopVoice(voice.params);
    if (sounding) {
        startVoice(voice.params);
    }
    setFormants(voice.params, kTopVowel);
    setPitch(voice.params, 220.0);
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

// An independent direct-form model of the voice: half the source at the phase reached so far,
// three resonators y = a x + b y1 + c y2 from a zero state, mixed as (y1 - y2 + y3) / 3, times
// the envelope's gain. Each sample names its tuning, its gain and the frequency that moves the
// phase on for the next sample.
struct ModelVoice {
    struct Resonator {
        double y1 = 0.0;
        double y2 = 0.0;
        double step(const ResonatorCoefficients& k, double x) {
            const double y = k.a * x + k.b * y1 + k.c * y2;
            y2 = y1;
            y1 = y;
            return y;
        }
    };
    std::array<Resonator, kFormantCount> res{};

    float sample(const ResonatorTuning& tuning, double x, double gain) {
        const double y1 = res[0].step(tuning[0], x);
        const double y2 = res[1].step(tuning[1], x);
        const double y3 = res[2].step(tuning[2], x);
        return static_cast<float>((y1 - y2 + y3) / 3.0 * gain);
    }
    bool operator==(const ModelVoice& other) const {
        for (std::size_t k = 0; k < kFormantCount; ++k) {
            if (res[k].y1 != other.res[k].y1 || res[k].y2 != other.res[k].y2) {
                return false;
            }
        }
        return true;
    }
};

// The source the resonators get at `phase`, which then moves on at freqHz.
double nextSource(double& phase, double freqHz) {
    const double x = 0.5 * std::sin(VoiceParams::twoPi * sourceShape(phase));
    phase += freqHz / kSampleRate;
    if (phase > 1.0) {
        phase -= 1.0;
    }
    return x;
}

// Gain of sample n (0 = the first) of a fade-in.
double fadeInGain(std::size_t n) {
    return n < kFadeInSamples ? static_cast<double>(n + 1) / kFadeInSamples : 1.0;
}

// The model sounding one vowel from program start, fading in, at freqHz(n) for sample n.
std::vector<float> modelVoice(const FormantSet& vowel, std::size_t frames,
                              const std::function<double(std::size_t)>& freqHz,
                              const std::function<double(std::size_t)>& gain = fadeInGain) {
    const ResonatorTuning tuning = tuneResonators(vowel);
    ModelVoice model;
    double phase = 0.0;
    std::vector<float> out;
    for (std::size_t n = 0; n < frames; ++n) {
        out.push_back(model.sample(tuning, nextSource(phase, freqHz(n)), gain(n)));
    }
    return out;
}

// Hz on step 1..2000 of a glide: linear in Hz, exactly on the target at step 2000.
double glideHz(double fromHz, double toHz, std::size_t step) {
    return fromHz + (toHz - fromHz) * static_cast<double>(step) / kGlideSamples;
}

TEST(Voice, MatchesADirectFormModelThroughGlidesThatRetargetAndLandExactly) {
    Voice voice;
    setFormants(voice.params, kTopVowel);
    // All before the first sample: a stop, a start and a glide after them, which must run.
    stopVoice(voice.params);
    startVoice(voice.params);
    setPitch(voice.params, 220.0);
    setPitch(voice.params, 330.0);
    std::vector<float> out = voice.render(500);
    auto more = [&](double pitchHz, std::size_t frames) {
        setPitch(voice.params, pitchHz);
        const auto part = voice.render(frames);
        out.insert(out.end(), part.begin(), part.end());
    };
    more(440.0, 1600); // from the previous target, 330 Hz, going on from step 501
    more(550.0, 2100); // after the landing on 440 Hz at sample 1999: a fresh glide
    const auto model = modelVoice(kTopVowel, out.size(), [](std::size_t n) {
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
    // Both glide from 220 to 330 Hz; at sample 600 one is sent to 440 Hz before a stop, and
    // both are sent there after it. Both restart at once and must sing 440 Hz without a glide,
    // fading in anew.
    constexpr std::size_t kStopAt = 600;
    Voice glideThenStop;
    Voice stopThenPitch;
    for (Voice* voice : {&glideThenStop, &stopThenPitch}) {
        setFormants(voice->params, kTopVowel);
        setPitch(voice->params, 220.0);
        voice->render(300);
        setPitch(voice->params, 330.0);
        voice->render(kStopAt - 300);
    }
    setPitch(glideThenStop.params, 440.0); // a glide from 330 Hz, which the stop below ends
    for (Voice* voice : {&glideThenStop, &stopThenPitch}) {
        stopVoice(voice->params);
        startVoice(voice->params);
        setPitch(voice->params, 440.0); // the first pitch after a stop: no glide
    }
    // A setPitch with the pitch of a running glide leaves it untouched: both glide to 550 Hz
    // from sample 900, one told the target twice.
    constexpr std::size_t kGlideAt = 900;
    auto singOn = [](Voice& voice, bool targetTwice) {
        std::vector<float> sung = voice.render(kGlideAt - kStopAt);
        setPitch(voice.params, 550.0);
        std::vector<float> part = voice.render(100);
        sung.insert(sung.end(), part.begin(), part.end());
        if (targetTwice) {
            setPitch(voice.params, 550.0);
        }
        part = voice.render(kGlideSamples);
        sung.insert(sung.end(), part.begin(), part.end());
        return sung;
    };
    const std::array<std::vector<float>, 2> out{singOn(glideThenStop, true),
                                                singOn(stopThenPitch, false)};

    const std::size_t frames = kStopAt + out[0].size();
    const auto model = modelVoice(
        kTopVowel, frames,
        [](std::size_t n) {
            if (n < 300) {
                return 220.0;
            }
            if (n < kStopAt) {
                return glideHz(220.0, 330.0, n - 299);
            }
            if (n < kGlideAt) {
                return 440.0;
            }
            return n < kGlideAt + kGlideSamples ? glideHz(440.0, 550.0, n - kGlideAt + 1) : 550.0;
        },
        [](std::size_t n) { return n < kStopAt ? fadeInGain(n) : fadeInGain(n - kStopAt); });
    for (const std::vector<float>& sung : out) {
        for (std::size_t n = 0; n < sung.size(); ++n) {
            ASSERT_EQ(sung[n], model[kStopAt + n]) << n;
        }
    }
}

TEST(Voice, PhaseLandingExactlyOnOneWrapsOnTheNextSample) {
    Voice voice;
    // A bandwidth without bound damps everything at once: a = 1 and b = c = 0, so y = x and
    // each sample is the source over 3, times the envelope.
    constexpr double kUnbounded = std::numeric_limits<double>::infinity();
    setFormants(voice.params, {{700, 700, 700}, {kUnbounded, kUnbounded, kUnbounded}});
    setPitch(voice.params, kSampleRate / 2.0); // half a cycle per sample: 0, 0.5, 1.0, 0.5 ...
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
    voice.renderer.process(&sentinel, 0);
    EXPECT_EQ(sentinel, 7.0f);
    EXPECT_EQ(voice.render(1000), twin.render(1000));
}

TEST(Voice, ResetGivesTheStateOfANewRenderer) {
    Voice voice;
    prepare(voice, true);
    voice.renderer.reset();
    VoiceRenderer fresh(voice.params);
    std::vector<float> expected(1000);
    fresh.process(expected.data(), expected.size());
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
    setFormants(voice.params, {{700, 700, 700}, {400, 400, 400}});
    // The phase moves to a quarter cycle and stays: a constant source, on which the resonators
    // settle, so that every sample is the envelope times one level. The stop keeps the move to
    // 0 Hz from gliding.
    setPitch(voice.params, kSampleRate / 4.0);
    voice.render(1);
    stopVoice(voice.params);
    setPitch(voice.params, 0.0);
    startVoice(voice.params);
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
    // Two buffers at least: the second starts after the request, which it must take. The count
    // is read by a read-modify-write, which the renderer's next increment synchronizes with:
    // a plain load could be done before the request's stores left this core (a store may pass
    // a later load), while two short buffers ran without seeing them.
    auto waitBuffers = [&](int64_t count) {
        const int64_t until = buffersDone.fetch_add(0) + 2 + count;
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

// The main thread retunes the voice back and forth between two vowels while another thread
// renders it without pause. Every sample must be the model's under one whole vowel or the
// other (never resonators tuned to a mix of the two sets), and every retune that the renderer
// had two buffers' time to take must be heard.
TEST(Voice, ARetuneRacingTheRendererIsTakenWholeAndNeverLost) {
    // Two vowels with wide bands (poles well inside the unit circle): switching between two
    // resonators every few samples, as this race does, can pump narrow ones up to infinity, and
    // an infinite sample would fit every model.
    constexpr FormantSet kFirstVowel{{310, 2020, 2960}, {400, 400, 400}};
    constexpr FormantSet kSecondVowel{{800, 1150, 2900}, {400, 400, 400}};
    const std::array<ResonatorTuning, 2> tunings{tuneResonators(kFirstVowel),
                                                 tuneResonators(kSecondVowel)};
    constexpr double kPitchHz = 220.0;
    Voice voice;
    setFormants(voice.params, kFirstVowel);
    setPitch(voice.params, kPitchHz);

    // The model's way through the race so far: a path per vowel sequence that gave every
    // sample, told apart by their resonator states.
    struct Path {
        ModelVoice model;
        std::size_t vowel = 0; // index into tunings
        int switches = 0;
    };
    constexpr int32_t kBufferFrames = 4;
    constexpr std::size_t kMaxPaths = 8;
    std::atomic<bool> running{true};
    std::atomic<int64_t> buffersDone{0};
    std::atomic<int64_t> mixedAtSample{-1};
    std::vector<Path> paths{Path{}};
    std::thread callback([&] {
        std::array<float, kBufferFrames> buffer{};
        std::vector<Path> next;
        double phase = 0.0;
        int64_t sampleIndex = 0;
        while (running.load() && mixedAtSample.load() < 0) {
            voice.renderer.process(buffer.data(), buffer.size());
            for (float sample : buffer) {
                const double gain = fadeInGain(static_cast<std::size_t>(sampleIndex));
                const double x = nextSource(phase, kPitchHz);
                next.clear();
                for (const Path& path : paths) {
                    for (std::size_t vowel = 0; vowel < tunings.size(); ++vowel) {
                        Path candidate = path;
                        if (candidate.model.sample(tunings[vowel], x, gain) != sample) {
                            continue;
                        }
                        if (vowel != path.vowel) {
                            candidate.vowel = vowel;
                            ++candidate.switches;
                        }
                        if (std::none_of(next.begin(), next.end(), [&](const Path& other) {
                                return other.model == candidate.model;
                            })) {
                            next.push_back(candidate);
                        }
                    }
                }
                if (next.empty() || next.size() > kMaxPaths) {
                    mixedAtSample.store(sampleIndex);
                    break;
                }
                paths.swap(next);
                ++sampleIndex;
            }
            buffersDone.fetch_add(1);
        }
    });
    auto waitBuffers = [&](int64_t count) {
        const int64_t until = buffersDone.fetch_add(0) + count; // after the retune's stores
        while (buffersDone.load() < until && mixedAtSample.load() < 0) {
            std::this_thread::yield();
        }
    };
    // Most retunes come back to back, racing the renderer; two in every eight, to the two
    // vowels in turn, wait until the renderer has begun a buffer after them.
    constexpr int kRetunes = 20'000;
    constexpr int kHeardEvery = 8;
    int mustBeHeard = 0;
    waitBuffers(1); // the model sings the first vowel and the pitch from the first sample on
    for (int i = 1; i <= kRetunes; ++i) {
        setFormants(voice.params, i % 2 == 0 ? kFirstVowel : kSecondVowel);
        if (i % kHeardEvery <= 1) {
            waitBuffers(2);
            ++mustBeHeard;
        }
    }
    waitBuffers(2);
    running.store(false);
    callback.join();

    ASSERT_EQ(mixedAtSample.load(), -1) << "no whole vowel gives this sample";
    for (const Path& path : paths) {
        EXPECT_EQ(path.vowel, 0U) << "the last retune, to the first vowel, is lost";
        EXPECT_GE(path.switches, mustBeHeard);
    }
}

// The live output's knee: every sample within ±0.9 as it is; beyond, a bend that joins it
// without a corner and rises ever more slowly, never past full scale however loud the voice.
// A renderer with a second publisher (a callback's own requests) sings each request of either
// as a renderer with one publisher sings the same requests made in the same order, where each
// stroke is one publisher's (each glides from its own last pitch); the volume one of them set
// stays when the other, which sets none, takes the voice.
TEST(Voice, TwoPublishersSingAsOneMakingTheSameRequestsInTurn) {
    Voice single; // every request through one publisher
    VoiceParams mainThread;
    VoiceParams callback;
    VoiceRenderer both(mainThread, VoiceOutput::Live, &callback);
    VoiceRenderer singleLive(single.params, VoiceOutput::Live);
    constexpr std::size_t kFrames = 2000;
    std::vector<float> expected(kFrames);
    std::vector<float> got(kFrames);
    std::size_t differing = 0;
    const auto compare = [&] {
        singleLive.process(expected.data(), kFrames);
        both.process(got.data(), kFrames);
        differing += expected != got ? 1 : 0;
    };
    const auto sing = [](VoiceParams& voice, double pitchHz, const FormantSet& vowel) {
        startVoice(voice);
        setPitch(voice, pitchHz);
        setFormants(voice, vowel);
    };

    sing(single.params, 220.0, kTopVowel); // a drag
    sing(mainThread, 220.0, kTopVowel);
    compare();
    stopVoice(single.params); // the button goes up, and the fade-out is cut short by a key
    stopVoice(mainThread);
    compare();
    setVolume(single.params, 0.5); // the key, its volume controller down
    sing(single.params, 330.0, kBottomVowel);
    setVolume(callback, 0.5);
    sing(callback, 330.0, kBottomVowel);
    compare();
    stopVoice(single.params); // the key is let go
    stopVoice(callback);
    compare();
    sing(single.params, 247.0, kTopVowel); // a drag again: the volume stays at half
    sing(mainThread, 247.0, kTopVowel);
    compare();
    setPitch(single.params, 262.0); // and it glides on from where it was
    setPitch(mainThread, 262.0);
    compare();
    EXPECT_EQ(differing, 0U) << "blocks that differ";
    EXPECT_NE(got.back(), 0.0f);
}

TEST(VoiceGuard, TheKneeLeavesNineTenthsAloneAndBendsSmoothlyBelowFullScale) {
    constexpr GuardLimits limits = kLiveGuardLimits;
    for (const double v : {0.0, 0.25, -0.5, 0.9, -0.9, 0.899999}) {
        EXPECT_EQ(softKnee(v, limits), v) << v;
    }
    constexpr double kStep = 1e-7;
    const double slopeAbove = (softKnee(0.9 + kStep, limits) - softKnee(0.9, limits)) / kStep;
    EXPECT_NEAR(slopeAbove, 1.0, 1e-5);
    double previous = 0.9;
    for (double v = 0.9 + 1e-3; v < 1e6; v *= 1.01) {
        const double bent = softKnee(v, limits);
        ASSERT_GT(bent, previous) << v;
        ASSERT_LT(bent, 1.0) << v;
        ASSERT_LT(bent, v) << v;
        EXPECT_EQ(softKnee(-v, limits), -bent) << v;
        previous = bent;
    }
    EXPECT_LE(static_cast<float>(softKnee(1e300, limits)), 1.0f);
    EXPECT_LE(static_cast<float>(softKnee(std::numeric_limits<double>::infinity(), limits)), 1.0f);
}

// A runaway mutes the voice and asks for its resonators at rest; the voice stays silent while
// it keeps sounding (a drag repeats its start) and sings again once it sounds after a release.
TEST(VoiceGuard, ARunawayMutesTheVoiceUntilItSoundsAgainAfterARelease) {
    constexpr GuardLimits limits = kLiveGuardLimits;
    constexpr double kCalm = 1.0;
    constexpr bool kSounding = false;
    constexpr bool kReleased = true;
    VoiceGuard guard;
    EXPECT_EQ(guard.process(limits, 0.5, kCalm, kSounding).sample, 0.5f);
    for (const auto& [v, level] : {std::pair{0.5, 2 * limits.runawayLevel},
                                   std::pair{std::numeric_limits<double>::infinity(), kCalm},
                                   std::pair{0.5, std::nan("")}}) {
        guard.reset();
        const VoiceGuard::Output ranAway = guard.process(limits, v, level, kSounding);
        EXPECT_EQ(ranAway.sample, 0.0f) << v << " " << level;
        EXPECT_TRUE(ranAway.resetResonators) << v << " " << level;
        const VoiceGuard::Output stillSounding = guard.process(limits, 0.5, kCalm, kSounding);
        EXPECT_EQ(stillSounding.sample, 0.0f);
        EXPECT_FALSE(stillSounding.resetResonators);
        EXPECT_EQ(guard.process(limits, 0.5, kCalm, kReleased).sample, 0.0f);
        EXPECT_EQ(guard.process(limits, 0.5, kCalm, kSounding).sample, 0.5f);
    }
    // Muted while released: the next sounding sample is the next start.
    guard.reset();
    EXPECT_TRUE(guard.process(limits, 0.0, 2 * limits.runawayLevel, kReleased).resetResonators);
    EXPECT_EQ(guard.process(limits, 0.5, kCalm, kSounding).sample, 0.5f);
}

// The voice's samples are the same in live output up to 0.9 and bent only beyond, where the
// exact voice passes full scale (voice type 2's vowel high on the pitch scale).
TEST(VoiceGuard, LiveOutputIsTheExactVoiceBentOnlyBeyondNineTenths) {
    VoiceParams params;
    VoiceRenderer exact(params);
    VoiceRenderer live(params, VoiceOutput::Live);
    stopVoice(params);
    startVoice(params);
    VowelWorking vowel;
    mapPoint(params, 230, 100, {ScaleMode::Unrestricted, {}, VoiceType::Type2}, vowel);
    std::vector<float> exactOut(22050);
    std::vector<float> liveOut(exactOut.size());
    exact.process(exactOut.data(), exactOut.size());
    live.process(liveOut.data(), liveOut.size());
    std::size_t bent = 0;
    for (std::size_t i = 0; i < exactOut.size(); ++i) {
        if (std::fabs(exactOut[i]) <= 0.9f) {
            ASSERT_EQ(liveOut[i], exactOut[i]) << i;
            continue;
        }
        ++bent;
        ASSERT_LE(std::fabs(liveOut[i]), 1.0f) << i;
        ASSERT_NEAR(liveOut[i], softKnee(exactOut[i], kLiveGuardLimits), 1e-6) << i;
    }
    EXPECT_TRUE(std::ranges::any_of(exactOut, [](float v) { return std::fabs(v) > 1.0f; }))
        << "the vowel no longer passes full scale";
    EXPECT_GT(bent, 0U);
}

} // namespace
} // namespace doodle
