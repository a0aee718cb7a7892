#include "PitchMeasure.h"
#include "mapping/ChoirPart.h"
#include "mapping/PartVowels.h"
#include "mapping/VowelMap.h"
#include "voice/Choir.h"
#include "voice/Synth.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace doodle {
namespace {

constexpr double kSampleRate = VoiceParams::sampleRate;
constexpr FormantSet kOpenVowel{{620, 1660, 2430}, {70, 150, 320}};
constexpr FormantSet kDarkVowel{{550, 750, 2500}, {100, 100, 70}};

double mean(const std::vector<double>& values) {
    double sum = 0.0;
    for (double v : values) {
        sum += v;
    }
    return sum / static_cast<double>(values.size());
}

double standardDeviation(const std::vector<double>& values) {
    const double m = mean(values);
    double sum = 0.0;
    for (double v : values) {
        sum += (v - m) * (v - m);
    }
    return std::sqrt(sum / static_cast<double>(values.size() - 1));
}

// A chorus as the program runs it: the voice's records, the parts' record and the renderer.
struct Chorus {
    VoiceParams params;
    ChoirShared parts;
    ChoirRenderer renderer;
    std::vector<float> left;
    std::vector<float> right;
    std::vector<std::vector<float>> singers; // each singer's own samples, appended

    Chorus(ChorusMode mode, int32_t singersPerPart, VoiceOutput output = VoiceOutput::Exact)
        : renderer(params, parts, mode, singersPerPart, output), singers(renderer.singerCount()) {}

    void render(std::size_t frames, std::size_t blockFrames = 512) {
        for (std::size_t done = 0; done < frames; done += blockFrames) {
            const std::size_t n = std::min(blockFrames, frames - done);
            const std::size_t at = left.size();
            left.resize(at + n);
            right.resize(at + n);
            std::vector<float*> views;
            for (auto& singer : singers) {
                singer.resize(at + n);
                views.push_back(singer.data() + at);
            }
            renderer.process(left.data() + at, right.data() + at, n, views);
        }
    }
};

// Every part at `pitches` (Hz; 0 = silent) on the given vowel.
ChoirSettings partsAt(const std::array<double, kChorusParts>& pitches, const FormantSet& vowel) {
    ChoirSettings settings;
    for (std::size_t p = 0; p < kChorusParts; ++p) {
        settings.parts[p] = {pitches[p], vowel};
    }
    return settings;
}

void sing(VoiceParams& params, double pitchHz, const FormantSet& vowel) {
    startVoice(params);
    setFormants(params, vowel);
    setPitch(params, pitchHz);
}

TEST(Choir, TheVoiceItselfSingsExactlyAsSoloInEveryModeAndOutput) {
    for (const ChorusMode mode : {ChorusMode::Unison, ChorusMode::Harmony}) {
        for (const VoiceOutput output : {VoiceOutput::Exact, VoiceOutput::Live}) {
            Chorus chorus(mode, 2, output);
            VoiceRenderer solo(chorus.params, output); // reads the same records
            std::vector<float> soloOut;
            auto step = [&](std::size_t frames) {
                const std::size_t at = soloOut.size();
                soloOut.resize(at + frames);
                solo.process(soloOut.data() + at, frames);
                chorus.render(frames, 300);
            };
            stopVoice(chorus.params);
            chorus.parts.publish(partsAt({0, 330, 262, 131}, kOpenVowel));
            sing(chorus.params, 440, kOpenVowel);
            step(5000);
            setPitch(chorus.params, 523); // a glide
            setVolume(chorus.params, 0.5);
            step(3000);
            setFormants(chorus.params, kDarkVowel);
            stopVoice(chorus.params);
            step(2000);
            sing(chorus.params, 300, kDarkVowel);
            step(6000);
            ASSERT_EQ(soloOut.size(), chorus.singers[0].size());
            EXPECT_EQ(0, std::memcmp(soloOut.data(), chorus.singers[0].data(),
                                     soloOut.size() * sizeof(float)));
            EXPECT_GT(*std::max_element(soloOut.begin(), soloOut.end()), 0.05f);
        }
    }
}

// Requests the callback makes itself (MIDI input) reach the voice as Solo's and the other
// singers too: a start and a pitch from the callback alone make the whole chorus sing.
TEST(Choir, TheCallbacksOwnRequestsReachTheVoiceAsSoloAndEverySinger) {
    VoiceParams params;
    VoiceParams callbackParams;
    ChoirShared parts;
    ChoirRenderer choir(params, parts, ChorusMode::Unison, 2, VoiceOutput::Exact, &callbackParams);
    VoiceRenderer solo(params, VoiceOutput::Exact, &callbackParams);
    stopVoice(params);
    sing(callbackParams, 262, kOpenVowel);
    constexpr std::size_t kFrames = 8000;
    std::vector<float> soloOut(kFrames);
    std::vector<float> left(kFrames);
    std::vector<float> right(kFrames);
    std::vector<std::vector<float>> singers(choir.singerCount(), std::vector<float>(kFrames));
    std::vector<float*> views;
    for (auto& singer : singers) {
        views.push_back(singer.data());
    }
    solo.process(soloOut.data(), kFrames);
    choir.process(left.data(), right.data(), kFrames, views);
    EXPECT_EQ(soloOut, singers[0]);
    for (std::size_t k = 1; k < singers.size(); ++k) {
        const float peak =
            std::abs(*std::max_element(singers[k].begin(), singers[k].end(),
                                       [](float a, float b) { return std::abs(a) < std::abs(b); }));
        EXPECT_GT(peak, 0.05f) << k;
    }
}

// The main thread publishes the parts back to back while another thread reads them: every copy
// read is one whole publication, never older than the one before, and the last is taken.
TEST(Choir, ThePartsRecordIsReadWholeWhilePublished) {
    ChoirShared shared;
    constexpr int kPublications = 50'000;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        double latest = 0.0;
        bool finished = false;
        while (!finished) {
            finished = done.load();
            const uint64_t sequence = shared.sequence();
            ChoirSettings copy;
            if (sequence % 2 != 0 || !shared.read(sequence, copy)) {
                continue;
            }
            const double n = copy.parts[0].pitchHz;
            for (const PartRequest& part : copy.parts) {
                ASSERT_EQ(part.pitchHz, n);
                for (std::size_t k = 0; k < kFormantCount; ++k) {
                    ASSERT_EQ(part.formants.freqHz[k], n);
                    ASSERT_EQ(part.formants.bwHz[k], n);
                }
            }
            ASSERT_GE(n, latest);
            latest = n;
        }
        EXPECT_EQ(latest, kPublications);
    });
    for (int n = 1; n <= kPublications; ++n) {
        const auto value = static_cast<double>(n);
        ChoirSettings settings;
        for (PartRequest& part : settings.parts) {
            part.pitchHz = value;
            part.formants.freqHz.fill(value);
            part.formants.bwHz.fill(value);
        }
        shared.publish(settings);
    }
    done.store(true);
    reader.join();
}

// The same requests, rendered in different buffer sizes, give the same bytes.
TEST(Choir, TwoRendersOfTheSameRequestsAreTheSameBytes) {
    Chorus first(ChorusMode::Harmony, 4);
    Chorus second(ChorusMode::Harmony, 4);
    for (Chorus* chorus : {&first, &second}) {
        const std::size_t block = chorus == &first ? 2000 : 500;
        stopVoice(chorus->params);
        chorus->parts.publish(partsAt({0, 330, 262, 131}, kOpenVowel));
        sing(chorus->params, 440, kOpenVowel);
        chorus->render(30000, block);
        chorus->parts.publish(partsAt({0, 349, 294, 147}, kDarkVowel));
        setPitch(chorus->params, 466);
        chorus->render(20000, block);
        stopVoice(chorus->params);
        chorus->render(8000, block);
    }
    ASSERT_EQ(first.left.size(), second.left.size());
    EXPECT_EQ(
        0, std::memcmp(first.left.data(), second.left.data(), first.left.size() * sizeof(float)));
    EXPECT_EQ(0, std::memcmp(first.right.data(), second.right.data(),
                             first.right.size() * sizeof(float)));
    // The singers are not copies of each other.
    EXPECT_NE(first.left, first.right);
    EXPECT_NE(0, std::memcmp(first.singers[1].data(), first.singers[2].data(),
                             first.singers[1].size() * sizeof(float)));
}

// A held note, measured before vibrato starts (0.3 s after each singer's onset).
TEST(Choir, EachSingerIsDetunedWithinTheSpreadAndTheSpreadIsFifteenCentsOrSo) {
    Chorus chorus(ChorusMode::Unison, 4);
    ASSERT_EQ(chorus.renderer.singerCount(), kMaxChoirSingers);
    stopVoice(chorus.params);
    sing(chorus.params, 220, kOpenVowel);
    chorus.render(20000);
    constexpr std::size_t kWindowStart = 4410; // 0.1 s: every singer has begun
    constexpr std::size_t kWindowFrames = 8000;
    const double leadHz = test::measurePitchHz(chorus.singers[0], kWindowStart, kWindowFrames);
    EXPECT_NEAR(leadHz, 220.0, 0.05);
    std::vector<double> detunesCents;
    for (std::size_t k = 1; k < chorus.singers.size(); ++k) {
        const double hz = test::measurePitchHz(chorus.singers[k], kWindowStart, kWindowFrames);
        const double cents = 1200.0 * std::log2(hz / 220.0);
        EXPECT_LE(std::abs(cents), 2.5 * 15.0 + 2.0) << k; // the cut, and a little jitter
        detunesCents.push_back(cents);
    }
    const double spread = standardDeviation(detunesCents);
    EXPECT_GE(spread, 10.0);
    EXPECT_LE(spread, 20.0);
}

// A held note's pitch in cents about its mean, every 20 ms over [from, to) samples.
std::vector<double> pitchTrackCents(const std::vector<float>& samples, std::size_t from,
                                    std::size_t to) {
    constexpr std::size_t kHop = 882;
    constexpr std::size_t kWindow = 882;
    std::vector<double> cents;
    for (std::size_t at = from; at + kWindow <= to; at += kHop) {
        cents.push_back(1200.0 * std::log2(test::measurePitchHz(samples, at, kWindow)));
    }
    const double m = mean(cents);
    for (double& c : cents) {
        c -= m;
    }
    return cents;
}

// Vibrato waits for the note to settle, then swings at 5.0..6.2 Hz over 50..100 cents.
TEST(Choir, VibratoStartsOnceTheNoteHasSettledWithinTheSingersRange) {
    Chorus chorus(ChorusMode::Unison, 1);
    stopVoice(chorus.params);
    sing(chorus.params, 220, kOpenVowel);
    constexpr std::size_t kSecond = 44100;
    chorus.render(4 * kSecond + 4000);
    for (std::size_t k = 1; k < chorus.singers.size(); ++k) {
        const auto settling = pitchTrackCents(chorus.singers[k], kSecond / 10, kSecond / 4);
        const auto held = pitchTrackCents(chorus.singers[k], kSecond, 4 * kSecond);
        const auto [settlingLow, settlingHigh] =
            std::minmax_element(settling.begin(), settling.end());
        EXPECT_LT(*settlingHigh - *settlingLow, 15.0) << k; // jitter alone
        const auto [low, high] = std::minmax_element(held.begin(), held.end());
        EXPECT_GE(*high - *low, 45.0) << k;
        EXPECT_LE(*high - *low, 110.0) << k;
        int rises = 0;
        for (std::size_t i = 1; i < held.size(); ++i) {
            rises += held[i - 1] < 0.0 && held[i] >= 0.0 ? 1 : 0;
        }
        const double rateHz = rises / 3.0;
        EXPECT_GE(rateHz, 4.5) << k;
        EXPECT_LE(rateHz, 6.7) << k;
    }
}

// The first sample past a small level, and the last, in each singer's own samples.
std::size_t firstAudible(const std::vector<float>& samples, std::size_t from) {
    for (std::size_t i = from; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > 1e-5f) {
            return i;
        }
    }
    return samples.size();
}
std::size_t lastAudible(const std::vector<float>& samples) {
    for (std::size_t i = samples.size(); i > 0; --i) {
        if (std::abs(samples[i - 1]) > 1e-5f) {
            return i - 1;
        }
    }
    return 0;
}

TEST(Choir, SingersStartAndStopLaterThanTheVoiceBySpreadDelays) {
    Chorus chorus(ChorusMode::Unison, 4);
    stopVoice(chorus.params);
    sing(chorus.params, 220, kOpenVowel);
    chorus.render(20000);
    stopVoice(chorus.params);
    chorus.render(10000);
    const std::size_t leadStart = firstAudible(chorus.singers[0], 0);
    const std::size_t leadStop = lastAudible(chorus.singers[0]);
    std::vector<double> onsetsMs;
    for (std::size_t k = 1; k < chorus.singers.size(); ++k) {
        const std::size_t start = firstAudible(chorus.singers[k], 0);
        const std::size_t stop = lastAudible(chorus.singers[k]);
        ASSERT_GE(start, leadStart) << k;
        ASSERT_GE(stop, leadStop) << k;
        const double onsetMs = static_cast<double>(start - leadStart) * 1000.0 / kSampleRate;
        const double stopMs = static_cast<double>(stop - leadStop) * 1000.0 / kSampleRate;
        EXPECT_NEAR(stopMs, onsetMs, 1.0) << k; // the stop reaches it as late as the start
        onsetsMs.push_back(onsetMs);
    }
    const double spread = standardDeviation(onsetsMs);
    EXPECT_LE(spread, 30.0);
    EXPECT_GE(spread, 2.0); // they do not all come in together
}

struct Energy {
    double left = 0.0;
    double right = 0.0;
};

TEST(Choir, SopranoAndTenorSingLeftOfCentreAltoAndBassRight) {
    const std::array<double, kChorusParts> pitches{0, 330, 262, 131};
    // Renders with every part, then with part p silent: the difference is part p alone. The
    // soprano cannot be silenced (the voice is its first singer); it is measured with the
    // other parts silent.
    auto render = [&](std::size_t silentPart, bool othersSilent) {
        auto chorus = std::make_unique<Chorus>(ChorusMode::Harmony, 2);
        std::array<double, kChorusParts> sung = pitches;
        for (std::size_t p = 1; p < kChorusParts; ++p) {
            if (p == silentPart || othersSilent) {
                sung[p] = 0.0;
            }
        }
        stopVoice(chorus->params);
        chorus->parts.publish(partsAt(sung, kOpenVowel));
        sing(chorus->params, 440, kOpenVowel);
        chorus->render(22050);
        return chorus;
    };
    auto energyOf = [](const Chorus& all, const Chorus* without) {
        Energy energy;
        for (std::size_t i = 0; i < all.left.size(); ++i) {
            const double l = all.left[i] - (without != nullptr ? without->left[i] : 0.0f);
            const double r = all.right[i] - (without != nullptr ? without->right[i] : 0.0f);
            energy.left += l * l;
            energy.right += r * r;
        }
        return energy;
    };
    const auto all = render(kChorusParts, false);
    std::array<Energy, kChorusParts> energy{};
    energy[0] = energyOf(*render(kChorusParts, true), nullptr);
    for (std::size_t p = 1; p < kChorusParts; ++p) {
        energy[p] = energyOf(*all, render(p, false).get());
    }
    auto share = [&](std::size_t p) { return energy[p].left / (energy[p].left + energy[p].right); };
    const std::size_t soprano = partIndex(ChoirPart::Soprano);
    const std::size_t alto = partIndex(ChoirPart::Alto);
    const std::size_t tenor = partIndex(ChoirPart::Tenor);
    const std::size_t bass = partIndex(ChoirPart::Bass);
    EXPECT_GT(share(soprano), 0.6);
    EXPECT_GT(share(tenor), 0.6);
    EXPECT_LT(share(alto), 0.4);
    EXPECT_LT(share(bass), 0.4);
    // The outer parts further out than the inner ones.
    EXPECT_GT(share(soprano), share(tenor));
    EXPECT_LT(share(alto), share(bass));
}

TEST(Choir, HarmonyPartsSingTheirOwnPitches) {
    Chorus chorus(ChorusMode::Harmony, 1);
    stopVoice(chorus.params);
    chorus.parts.publish(partsAt({0, 330, 262, 131}, kOpenVowel));
    sing(chorus.params, 440, kOpenVowel);
    chorus.render(20000);
    const std::array<double, kChorusParts> expectedHz{440, 330, 262, 131};
    for (std::size_t p = 0; p < kChorusParts; ++p) {
        const double hz = test::measurePitchHz(chorus.singers[p], 4410, 8000);
        EXPECT_LE(std::abs(1200.0 * std::log2(hz / expectedHz[p])), 40.0) << p;
    }
}

// Sixteen singers sweeping the whole range in step, vowels switching: the exact mix passes full
// scale, the live one never does.
TEST(Choir, LiveOutputOfSixteenSingersNeverPassesFullScale) {
    Chorus exact(ChorusMode::Unison, 4, VoiceOutput::Exact);
    Chorus live(ChorusMode::Unison, 4, VoiceOutput::Live);
    for (Chorus* chorus : {&exact, &live}) {
        stopVoice(chorus->params);
        sing(chorus->params, 80, kDarkVowel);
        for (int step = 0; step < 200; ++step) {
            setPitch(chorus->params, 80.0 + 5.0 * step);
            setFormants(chorus->params, step % 2 == 0 ? kOpenVowel : kDarkVowel);
            chorus->render(441);
        }
    }
    float exactPeak = 0.0f;
    float livePeak = 0.0f;
    for (std::size_t i = 0; i < exact.left.size(); ++i) {
        exactPeak = std::max({exactPeak, std::abs(exact.left[i]), std::abs(exact.right[i])});
        livePeak = std::max({livePeak, std::abs(live.left[i]), std::abs(live.right[i])});
    }
    EXPECT_GT(exactPeak, 1.0f);
    EXPECT_LE(livePeak, 1.0f);
    EXPECT_GT(livePeak, 0.5f);
}

TEST(PartVowels, FollowTheVoicesBandsWithEachPartsSungVowels) {
    VowelWorking working;
    // Type 1 ends on /a/: the soprano's is the voice's own, the bass's lower.
    EXPECT_EQ(mapPartVowel(ChoirPart::Soprano, kMaxPointY, VoiceType::Type1),
              mapVowel(kMaxPointY, VoiceType::Type1, working));
    const FormantSet bassA = mapPartVowel(ChoirPart::Bass, kMaxPointY, VoiceType::Type1);
    EXPECT_EQ(bassA, (FormantSet{{600, 1040, 2250}, {60, 70, 110}}));
    EXPECT_EQ(mapPartVowel(ChoirPart::Tenor, kMaxPointY, VoiceType::Type1).freqHz,
              (std::array<double, kFormantCount>{650, 1080, 2650}));
    EXPECT_EQ(mapPartVowel(ChoirPart::Alto, kMaxPointY, VoiceType::Type1).freqHz,
              (std::array<double, kFormantCount>{800, 1150, 2800}));
    // The top row is /i/, the end of the first band /e/, the middle of the band between.
    const FormantSet bassI = mapPartVowel(ChoirPart::Bass, 0, VoiceType::Type1);
    const FormantSet bassE = mapPartVowel(ChoirPart::Bass, 50, VoiceType::Type1);
    EXPECT_EQ(bassI.freqHz, (std::array<double, kFormantCount>{250, 1750, 2600}));
    EXPECT_EQ(bassE.freqHz, (std::array<double, kFormantCount>{400, 1620, 2400}));
    EXPECT_DOUBLE_EQ(mapPartVowel(ChoirPart::Bass, 25, VoiceType::Type1).freqHz[0], 325.0);
    // Type 2 runs /e i e o a/: its second band ends on /e/.
    EXPECT_EQ(mapPartVowel(ChoirPart::Tenor, 100, VoiceType::Type2).freqHz,
              (std::array<double, kFormantCount>{400, 1700, 2600}));
    // Where the sung table differs from the voice's, so do the parts: everywhere for the bass.
    for (int32_t y = 0; y <= kMaxPointY; ++y) {
        for (const VoiceType type : {VoiceType::Type1, VoiceType::Type2}) {
            EXPECT_NE(mapPartVowel(ChoirPart::Bass, y, type), mapVowel(y, type, working)) << y;
        }
    }
}

} // namespace
} // namespace doodle
