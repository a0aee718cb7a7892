#include "voice/Synth.h"

#include <algorithm>
#include <cmath>

namespace doodle {
namespace {

constexpr double kSourceWarpDepth = 0.35; // depth of the inner sine in sourceShape
constexpr double kSourceHalfLevel = 0.5;  // the resonators get half of the source
constexpr std::size_t kChunkFrames = 64;  // samples per source/filter pass, on the stack

// A publication being written has an odd number; the callback waits for the even one after it.
bool complete(uint64_t sequence) noexcept {
    return sequence % 2 == 0;
}

} // namespace

double sourceShape(double p) noexcept {
    if (p < 0.5) {
        return kSourceWarpDepth * std::sin(p);
    }
    return 0.5 + kSourceWarpDepth * std::sin(1.0 - p);
}

double sourceSample(double p) noexcept {
    return kSourceHalfLevel * std::sin(VoiceParams::twoPi * sourceShape(p));
}

double largestLevel(const Resonators& resonators) noexcept {
    double largest = 0.0;
    for (const Resonator& resonator : resonators) {
        const double level = resonator.level();
        if (level > largest || std::isnan(level)) {
            largest = level;
        }
    }
    return largest;
}

// Every request since `before`, the same publisher's settings applied last, in an order that
// gives what applying them one by one gives: the resets of a stop and of a start touch different
// fields, so they commute, and a glide survives only if it came after the latest stop. The
// glide's step count goes on.
inline void VoiceRenderer::apply(State& state, VoiceSettings& before,
                                 const VoiceSettings& settings) noexcept {
    if (settings.stops != before.stops) {
        state.envelope.restartFadeIn(); // the next start fades in from 1/1000
        state.glide.cancel();
    }
    if (settings.starts != before.starts) {
        state.envelope.endFadeOut(); // ends a running fade-out at once
    }
    state.glide.setTarget(settings.pitchHz);
    if (settings.glides != before.glides && settings.glideAfterStop) {
        state.glide.glideFrom(settings.glideFromHz);
    }
    state.envelope.setReleased(settings.released);
    if (settings.volume != before.volume) {
        state.volume.setTarget(settings.volume);
    }
    if (settings.formants != state.tunedFormants) {
        state.tuning = tuneResonators(settings.formants);
        state.tunedFormants = settings.formants;
    }
    before = settings;
}

inline bool VoiceRenderer::take(State& state, const VoiceShared& shared, uint64_t& appliedSequence,
                                VoiceSettings& before) noexcept {
    const uint64_t sequence = shared.sequence();
    if (sequence == appliedSequence || !complete(sequence)) {
        return false;
    }
    // A copy spoiled by a newer publication is left for the next sample.
    VoiceSettings settings;
    if (!shared.read(sequence, settings)) {
        return false;
    }
    apply(state, before, settings);
    appliedSequence = sequence;
    return true;
}

void VoiceRenderer::process(float* out, std::size_t frameCount) noexcept {
    if (m_output == VoiceOutput::Live) {
        render<VoiceOutput::Live>(out, frameCount);
    } else {
        render<VoiceOutput::Exact>(out, frameCount);
    }
}

template <VoiceOutput kOutput>
void VoiceRenderer::render(float* out, std::size_t frameCount) noexcept {
    // State stays in locals for the buffer, so that it lives in registers.
    State state = m_state;
    const VoiceShared& shared = m_shared;
    const VoiceShared* const callbackShared = m_callbackShared;

    // Samples are made in short chunks: first the source of each sample (the two libm sines,
    // which force every live double onto the stack), then the filters and the envelope over
    // the chunk in registers. Each sample still sees, in order: the settings published before
    // it, its frequency, the source, the phase advance, the resonators, the mix, the envelope.
    std::array<double, kChunkFrames> sourceIn{}; // x = half the source, per sample
    std::size_t chunkStart = 0;
    while (chunkStart < frameCount) {
        std::size_t chunkFrames = std::min(kChunkFrames, frameCount - chunkStart);
        for (std::size_t i = 0; i < chunkFrames; ++i) {
            const uint64_t sequence = shared.sequence();
            const bool published = sequence != state.appliedSequence && complete(sequence);
            const bool callbackPublished =
                callbackShared != nullptr &&
                callbackShared->sequence() != state.callbackAppliedSequence;
            if (published || callbackPublished) {
                if (i > 0) {
                    // The filters and the envelope of the samples before it must not see the
                    // new settings: end the chunk here and apply them at the start of the next.
                    chunkFrames = i;
                    break;
                }
                if (published) {
                    take(state, shared, state.appliedSequence, state.applied);
                }
                if (callbackPublished) {
                    take(state, *callbackShared, state.callbackAppliedSequence,
                         state.callbackApplied);
                }
            }
            // Frequency, settled before the source is evaluated.
            state.phaseInc = state.glide.step() / VoiceParams::sampleRate;
            // Source at the phase reached after the previous sample.
            sourceIn[i] = sourceSample(state.phase);
            // Phase advance; exactly 1.0 is kept for one sample and wraps on the next.
            state.phase += state.phaseInc;
            if (state.phase > 1.0) {
                state.phase -= 1.0;
            }
        }
        // The settings hold for the whole chunk.
        const ResonatorTuning tuning = state.tuning;
        for (std::size_t i = 0; i < chunkFrames; ++i) {
            const double mixed = mixFormants(state.res, tuning, sourceIn[i]);
            // The envelope, then the output: unclipped, or through the guard.
            const double v = state.envelope.apply(mixed);
            if constexpr (kOutput == VoiceOutput::Exact) {
                out[chunkStart + i] = static_cast<float>(v);
            } else {
                const VoiceGuard::Output guarded = state.guard.process(
                    kLiveGuardLimits, v, largestLevel(state.res), state.envelope.released());
                out[chunkStart + i] = static_cast<float>(guarded.sample * state.volume.step());
                if (guarded.resetResonators) {
                    for (Resonator& resonator : state.res) {
                        resonator.reset();
                    }
                }
            }
        }
        chunkStart += chunkFrames;
    }
    m_state = state;
}

} // namespace doodle
