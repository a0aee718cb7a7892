#include "voice/Synth.h"

#include <algorithm>
#include <cmath>

namespace doodle {
namespace {

constexpr double kSourceWarpDepth = 0.35; // depth of the inner sine in sourceShape
constexpr double kSourceHalfLevel = 0.5;  // the resonators get half of the source
constexpr double kMixDivisor = 3.0;       // three formants mixed into one voice
constexpr std::size_t kChunkFrames = 64;  // samples per source/filter pass, on the stack

} // namespace

double sourceShape(double p) noexcept {
    if (p < 0.5) {
        return kSourceWarpDepth * std::sin(p);
    }
    return 0.5 + kSourceWarpDepth * std::sin(1.0 - p);
}

// Every request since the word applied last, in an order that gives what applying them one by
// one gives: the resets of a stop and of a start touch different fields, so they commute, and
// a glide survives only if it came after the latest stop. The glide's step count goes on.
inline void VoiceRenderer::applyRequests(State& state, uint64_t word) noexcept {
    const VoiceRequests now = VoiceRequests::unpack(word);
    const VoiceRequests before = VoiceRequests::unpack(state.appliedRequests);
    if (now.stops != before.stops) {
        state.fadeInCount = 0; // the next start fades in from 1/1000
        state.glideActive = false;
        state.glideStep = 0;
    }
    if (now.starts != before.starts) {
        state.fadeOutCount = 0; // ends a running fade-out at once
    }
    if (now.glides != before.glides && now.glideAfterStop) {
        state.glideActive = true;
    }
    state.released = now.released;
    state.appliedRequests = word;
}

// Cycles per sample for this sample: advances a running glide by one step, else the pitch.
inline double VoiceRenderer::nextPhaseInc(const VoiceParams& params, State& state) noexcept {
    if (!state.glideActive) {
        return params.pitch.load() / VoiceParams::sampleRate;
    }
    const int32_t step = state.glideStep + 1;
    state.glideStep = step;
    const double fromHz = params.glideFrom.load();
    const double toHz = params.glideTarget.load();
    // Linear in Hz; step 2000 lands exactly on the target.
    const double freqHz = fromHz + (toHz - fromHz) * step / kGlideSamples;
    if (step >= kGlideSamples) {
        state.glideActive = false;
        state.glideStep = 0;
    }
    return freqHz / VoiceParams::sampleRate;
}

// The fade-in or fade-out of one mixed sample, advancing its count.
inline double VoiceRenderer::applyEnvelope(State& state, double v) noexcept {
    if (state.released) {
        if (state.fadeOutCount >= kFadeOutSamples) {
            return 0.0;
        }
        const int32_t count = state.fadeOutCount + 1;
        state.fadeOutCount = count;
        return v * (static_cast<double>(kFadeOutSamples - count) / kFadeOutSamples);
    }
    if (state.fadeInCount < kFadeInSamples) {
        const int32_t count = state.fadeInCount + 1;
        state.fadeInCount = count;
        return v * (static_cast<double>(count) / kFadeInSamples);
    }
    return v;
}

void VoiceRenderer::process(float* out, std::size_t frameCount) noexcept {
    // State and parameters stay in locals for the buffer, so that they live in registers.
    State state = m_state;
    const VoiceParams& params = m_params;
    const std::array<Resonator, VoiceParams::kResonatorCount>& coeffs = params.res;

    // Samples are made in short chunks: first the source of each sample (the two libm sines,
    // which force every live double onto the stack), then the filters and the envelope over
    // the chunk in registers. Each sample still sees, in order: the requests published before
    // it, its frequency, the source, the phase advance, the resonators, the mix, the envelope.
    std::array<double, kChunkFrames> sourceIn{}; // x = half the source, per sample
    std::size_t chunkStart = 0;
    while (chunkStart < frameCount) {
        std::size_t chunkFrames = std::min(kChunkFrames, frameCount - chunkStart);
        for (std::size_t i = 0; i < chunkFrames; ++i) {
            const uint64_t word = params.requestWord.load(std::memory_order_acquire);
            if (word != state.appliedRequests) {
                if (i > 0) {
                    // The envelope of the samples before it must not see the request: end the
                    // chunk here and apply it at the start of the next.
                    chunkFrames = i;
                    break;
                }
                applyRequests(state, word);
            }
            // Frequency, settled before the source is evaluated.
            state.phaseInc = nextPhaseInc(params, state);
            // Source at the phase reached after the previous sample.
            sourceIn[i] =
                kSourceHalfLevel * std::sin(VoiceParams::twoPi * sourceShape(state.phase));
            // Phase advance; exactly 1.0 is kept for one sample and wraps on the next.
            state.phase += state.phaseInc;
            if (state.phase > 1.0) {
                state.phase -= 1.0;
            }
        }
        for (std::size_t i = 0; i < chunkFrames; ++i) {
            const double x = sourceIn[i];
            if (state.warmupCount < kWarmupDone) {
                ++state.warmupCount;
            }
            // Three parallel resonators on the same input, mixed with alternating signs.
            const double y1 = state.res[0].step(coeffs[0], x, state.warmupCount);
            const double y2 = state.res[1].step(coeffs[1], x, state.warmupCount);
            const double y3 = state.res[2].step(coeffs[2], x, state.warmupCount);
            const double mixed = (y1 - y2 + y3) / kMixDivisor;
            // The envelope, then the output, unclipped.
            out[chunkStart + i] = static_cast<float>(applyEnvelope(state, mixed));
        }
        chunkStart += chunkFrames;
    }
    m_state = state;
}

void renderVoice(VoiceRenderer& renderer, float* out, std::size_t frameCount) noexcept {
    renderer.process(out, frameCount);
}

} // namespace doodle
