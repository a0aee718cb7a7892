#include "voice/Synth.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace doodle {
namespace {

constexpr double kSourceWarpDepth = 0.35; // depth of the inner sine in sourceShape
constexpr double kSourceHalfLevel = 0.5;  // the resonators get half of the source
constexpr double kMixDivisor = 3.0;       // three formants mixed into one voice
constexpr int32_t kWarmupDone = 4;        // warmupCount holds here once the history is full
constexpr std::size_t kChunkFrames = 64;  // samples per source/filter pass, on the stack

// Output history of one resonator, held in registers for the length of a buffer: only the
// audio callback writes it, so it is loaded once per buffer and stored back at the end.
struct History {
    double out = 0.0;   // current output
    double prev1 = 0.0; // one sample back
    double prev2 = 0.0; // two samples back

    static History load(const Resonator& r) noexcept {
        return {r.out.load(), r.prev1.load(), r.prev2.load()};
    }
    void storeTo(Resonator& r) const noexcept {
        r.out.store(out);
        r.prev1.store(prev1);
        r.prev2.store(prev2);
    }
};

// One resonator for one sample; the coefficients are read afresh, since the main thread may
// retune at any time. The first two samples of the program's life fill the history from its
// zero state, which gives exactly the samples of the full recursion.
inline double stepResonator(const Resonator& r, History& h, double x,
                            int32_t warmupCount) noexcept {
    const double a = r.A.load();
    const double b = r.B.load();
    if (warmupCount == 1) {
        h.out = a * x; // y1 = y2 = 0
    } else if (warmupCount == 2) {
        h.prev2 = h.out;
        h.out = a * x + b * h.out; // y2 = 0
        h.prev1 = h.out;
    } else {
        h.out = a * x + b * h.prev1 + r.C.load() * h.prev2; // y = A x + B y1 + C y2
        h.prev2 = h.prev1;
        h.prev1 = h.out;
    }
    return h.out;
}

// Cycles per sample for this sample: advances a running glide by one step, else the pitch.
inline double nextPhaseInc(VoiceParams& voice) noexcept {
    if (voice.glideActive.load() != 1) {
        return voice.pitch.load() / VoiceParams::sampleRate;
    }
    const int32_t step = voice.glideStep.load() + 1;
    voice.glideStep.store(step);
    const double fromHz = voice.glideFrom.load();
    const double toHz = voice.glideTarget.load();
    // Linear in Hz; step 2000 lands exactly on the target.
    const double freqHz = fromHz + (toHz - fromHz) * step / kGlideSamples;
    if (step >= kGlideSamples) {
        voice.glideActive.store(0);
        voice.glideStep.store(0);
    }
    return freqHz / VoiceParams::sampleRate;
}

// Applies the fade-in or fade-out to one mixed sample.
inline double applyEnvelope(VoiceParams& voice, double v) noexcept {
    const int32_t released = voice.released.load();
    if (released == 1) {
        const int32_t fadeOut = voice.fadeOutCount.load();
        if (fadeOut >= kFadeOutSamples) {
            return 0.0;
        }
        const int32_t count = fadeOut + 1;
        voice.fadeOutCount.store(count);
        return v * (static_cast<double>(kFadeOutSamples - count) / kFadeOutSamples);
    }
    if (released == 0) {
        const int32_t fadeIn = voice.fadeInCount.load();
        if (fadeIn < kFadeInSamples) {
            const int32_t count = fadeIn + 1;
            voice.fadeInCount.store(count);
            return v * (static_cast<double>(count) / kFadeInSamples);
        }
    }
    return v;
}

} // namespace

double sourceShape(double p) noexcept {
    if (p < 0.5) {
        return kSourceWarpDepth * std::sin(p);
    }
    return 0.5 + kSourceWarpDepth * std::sin(1.0 - p);
}

void renderVoice(VoiceParams& voice, float* out, std::size_t frameCount) noexcept {
    if (frameCount == 0) {
        return;
    }
    // State that only this callback writes stays local for the buffer.
    double phase = voice.phase.load();
    double phaseInc = voice.phaseInc.load();
    int32_t warmup = voice.warmupCount.load();
    History h1 = History::load(voice.res1);
    History h2 = History::load(voice.res2);
    History h3 = History::load(voice.res3);

    // Samples are made in short chunks: first the source of each sample (the two libm sines,
    // which force every live double onto the stack), then the filters and the envelope over
    // the chunk in registers. Each sample still sees steps 1 to 8 in order.
    std::array<double, kChunkFrames> sourceIn{}; // x = half the source, per sample
    for (std::size_t chunkStart = 0; chunkStart < frameCount; chunkStart += kChunkFrames) {
        const std::size_t chunkFrames = std::min(kChunkFrames, frameCount - chunkStart);
        for (std::size_t i = 0; i < chunkFrames; ++i) {
            // 1. Frequency, settled before the source is evaluated.
            phaseInc = nextPhaseInc(voice);
            // 2. Source at the phase reached after the previous sample.
            sourceIn[i] = kSourceHalfLevel * std::sin(VoiceParams::twoPi * sourceShape(phase));
            // 8. Phase advance; exactly 1.0 is kept for one sample and wraps on the next.
            phase += phaseInc;
            if (phase > 1.0) {
                phase -= 1.0;
            }
        }
        for (std::size_t i = 0; i < chunkFrames; ++i) {
            const double x = sourceIn[i];
            // 3. Warm-up count, held at 4.
            if (warmup < kWarmupDone) {
                ++warmup;
            }
            // 4. Three parallel resonators on the same input.
            const double y1 = stepResonator(voice.res1, h1, x, warmup);
            const double y2 = stepResonator(voice.res2, h2, x, warmup);
            const double y3 = stepResonator(voice.res3, h3, x, warmup);
            // 5. Mix with alternating signs; 6. envelope; 7. output, unclipped.
            const double mixed = (y1 - y2 + y3) / kMixDivisor;
            out[chunkStart + i] = static_cast<float>(applyEnvelope(voice, mixed));
        }
    }

    voice.phase.store(phase);
    voice.phaseInc.store(phaseInc);
    voice.warmupCount.store(warmup);
    h1.storeTo(voice.res1);
    h2.storeTo(voice.res2);
    h3.storeTo(voice.res3);
}

} // namespace doodle
