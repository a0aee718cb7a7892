#pragma once

#include "voice/FadeEnvelope.h"
#include "voice/Glide.h"
#include "voice/Lag.h"
#include "voice/ResonatorTuning.h"
#include "voice/VoiceGuard.h"
#include "voice/VoiceParams.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace doodle {

inline constexpr int32_t kGlideSamples = 2000; // ~45.35 ms at 44100 Hz, linear in Hz
// A change of the live volume is spread over this many samples (10 ms): no click.
inline constexpr int32_t kVolumeLagSamples = 441;

// Phase warp of the source: p in cycles (0..1) to the argument, in turns, of the outer sine.
// The inner sine takes p as radians on purpose; the result is a sawtooth-like wave with one
// downward jump at mid-period, odd about p = 0.5.
double sourceShape(double p) noexcept;

// The state of one two-pole resonator, y = a*x + b*y1 + c*y2; its coefficients are kept apart.
class Resonator {
public:
    double process(const ResonatorCoefficients& k, double x) noexcept {
        const double y = k.a * x + k.b * m_y1 + k.c * m_y2;
        m_y2 = m_y1;
        m_y1 = y;
        return y;
    }
    void reset() noexcept { *this = Resonator{}; }
    // The magnitude of its latest output.
    double level() const noexcept { return std::fabs(m_y1); }

private:
    double m_y1 = 0.0; // output one sample back
    double m_y2 = 0.0; // output two samples back
};

// The three formant resonators of one voice; formants 1..3 at indices 0..2.
using Resonators = std::array<Resonator, kFormantCount>;

// Half the source at phase p (cycles, 0..1): what the resonators are fed.
double sourceSample(double p) noexcept;
// One sample x through the three parallel resonators, mixed with alternating signs (the second
// formant negative) and divided by three.
inline double mixFormants(Resonators& resonators, const ResonatorTuning& tuning,
                          double x) noexcept {
    constexpr double kMixDivisor = 3.0; // three formants mixed into one voice
    const double y1 = resonators[0].process(tuning[0], x);
    const double y2 = resonators[1].process(tuning[1], x);
    const double y3 = resonators[2].process(tuning[2], x);
    return (y1 - y2 + y3) / kMixDivisor;
}
// The largest magnitude of the resonators' latest outputs; NaN when one of them is NaN.
double largestLevel(const Resonators& resonators) noexcept;

// What a renderer hands out.
enum class VoiceOutput {
    Exact, // the voice's own numbers, past full scale and runaways included: renders, exports
    Live,  // through a VoiceGuard with kLiveGuardLimits: a sound card, a page's audio
};

// The voice as the audio callback runs it: oscillator, glide, resonators and envelope, fed by the
// settings the main thread publishes. Owned by the audio callback, or by an offline render.
//
// A host whose callback also makes requests of its own (MIDI input applied at its frame) gives
// it a second VoiceParams, written by the callback itself. Each publication of either is a whole
// request, as with one: its pitch, release and vowel are applied, the latest publisher's winning,
// and its starts, stops and glides are counted against that publisher's previous publication.
// The volume is applied only when its publisher changed it, so that a request of the other
// publisher, which never sets a volume, does not undo it.
class VoiceRenderer {
public:
    // Reads only the records that `params` (and `callbackParams`, when given) share with it.
    explicit VoiceRenderer(const VoiceParams& params, VoiceOutput output = VoiceOutput::Exact,
                           const VoiceParams* callbackParams = nullptr) noexcept
        : m_shared(params.shared()),
          m_callbackShared(callbackParams != nullptr ? &callbackParams->shared() : nullptr),
          m_output(output) {}

    // Renders frameCount mono samples at 44100 Hz into out. Before each sample it applies the
    // settings published since the previous one. Real-time safe: no allocation, lock, I/O or
    // UI call. Live output also goes through the guard, which on a runaway mutes the voice and
    // sets its resonators to rest; the voice's arithmetic is the same in both.
    void process(float* out, std::size_t frameCount) noexcept;
    // The start-up state: silence, zero phase and history, no settings applied yet (so the next
    // sample applies every request published so far, as one), the guard open.
    void reset() noexcept { m_state = State{}; }

private:
    struct State {
        double phase = 0.0;         // cycles, 0.0..1.0 (exactly 1.0 is kept for one sample)
        double phaseInc = 0.0;      // cycles per sample, current frequency / sampleRate
        Glide glide{kGlideSamples}; // Hz, to the pitch
        // Formants 1..3 at indices 0..2; the second is mixed in with a negative sign.
        Resonators res{};
        ResonatorTuning tuning{};             // of tunedFormants; all zero until the first vowel
        FormantSet tunedFormants{};           // the vowel applied last, from either publisher
        FadeEnvelope envelope{};              // the fades of the starts and stops applied
        VoiceSettings applied{};              // the main thread's settings applied last
        uint64_t appliedSequence = 0;         // their publication's number
        VoiceSettings callbackApplied{};      // the callback's own, applied last
        uint64_t callbackAppliedSequence = 0; // their publication's number
        VoiceGuard guard{};                   // live output only
        Lag volume{1.0, 1.0 / kVolumeLagSamples}; // live output only: level 0..1
    };

    template <VoiceOutput kOutput>
    void render(float* out, std::size_t frameCount) noexcept;
    // Applies the publication `sequence` of `shared` when it is new and whole, counting its
    // requests against `before`, and returns true; false when there was nothing to apply.
    static bool take(State& state, const VoiceShared& shared, uint64_t& appliedSequence,
                     VoiceSettings& before) noexcept;
    static void apply(State& state, VoiceSettings& before, const VoiceSettings& settings) noexcept;

    const VoiceShared& m_shared;
    const VoiceShared* m_callbackShared = nullptr; // the callback's own requests, if any
    VoiceOutput m_output = VoiceOutput::Exact;
    State m_state{};
};

} // namespace doodle
