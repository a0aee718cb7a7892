#pragma once

#include "voice/VoiceParams.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace doodle {

inline constexpr int32_t kGlideSamples = 2000;   // ~45.35 ms at 44100 Hz, linear in Hz
inline constexpr int32_t kFadeInSamples = 1000;  // ~22.68 ms, linear in amplitude
inline constexpr int32_t kFadeOutSamples = 4000; // ~90.70 ms, linear in amplitude
inline constexpr int32_t kWarmupDone = 4;        // the warm-up count holds here

// Phase warp of the source: p in cycles (0..1) to the argument, in turns, of the outer sine.
// The inner sine takes p as radians on purpose; the result is a sawtooth-like wave with one
// downward jump at mid-period, odd about p = 0.5.
double sourceShape(double p) noexcept;

// The output history of one resonator, y = A*x + B*y1 + C*y2 with the coefficients of a
// Resonator. The audio callback alone owns it.
struct ResonatorHistory {
    double out = 0.0;   // output of the current sample
    double prev1 = 0.0; // output one sample back
    double prev2 = 0.0; // output two samples back

    // One sample of input x through `coeffs`, read afresh since the main thread may retune at
    // any time. warmupCount (1..4) counts the samples since start-up: the first two fill the
    // history from its zero state, which gives exactly the samples of the full recursion.
    double step(const Resonator& coeffs, double x, int32_t warmupCount) noexcept {
        const double a = coeffs.A.load();
        const double b = coeffs.B.load();
        if (warmupCount == 1) {
            out = a * x; // y1 = y2 = 0
        } else if (warmupCount == 2) {
            prev2 = out;
            out = a * x + b * out; // y2 = 0
            prev1 = out;
        } else {
            out = a * x + b * prev1 + coeffs.C.load() * prev2; // y = A x + B y1 + C y2
            prev2 = prev1;
            prev1 = out;
        }
        return out;
    }
    // Back to the zero state of start-up.
    void reset() noexcept { *this = ResonatorHistory{}; }
};

// The voice as the audio callback runs it: the oscillator, glide, resonator and envelope state
// that only the callback writes, fed by the main thread's VoiceParams. Owned by the audio
// callback, or by an offline render.
class VoiceRenderer {
public:
    explicit VoiceRenderer(const VoiceParams& params) noexcept : m_params(params) {}

    // Renders frameCount mono samples at 44100 Hz into out. Before each sample it applies the
    // requests published since the previous one. Real-time safe: no allocation, lock, I/O or
    // UI call.
    void process(float* out, std::size_t frameCount) noexcept;
    // The start-up state: silence, zero phase and history, no request applied yet (so the
    // next sample applies every request the parameters hold, as one).
    void reset() noexcept { m_state = State{}; }

private:
    struct State {
        double phase = 0.0;      // cycles, 0.0..1.0 (exactly 1.0 is kept for one sample)
        double phaseInc = 0.0;   // cycles per sample, current frequency / sampleRate
        int32_t warmupCount = 0; // 0..kWarmupDone samples rendered since start-up
        // Output histories of formants 1..3 at indices 0..2, as in params.res.
        std::array<ResonatorHistory, VoiceParams::kResonatorCount> res{};
        bool glideActive = false;     // a glide is running
        int32_t glideStep = 0;        // 0..kGlideSamples samples of the running glide done
        bool released = false;        // false = sounding (fade-in), true = released (fade-out)
        int32_t fadeInCount = 0;      // 0..kFadeInSamples samples of fade-in since the start
        int32_t fadeOutCount = 0;     // 0..kFadeOutSamples samples of fade-out since the stop
        uint64_t appliedRequests = 0; // the request word applied last
    };

    static void applyRequests(State& state, uint64_t word) noexcept;
    static double nextPhaseInc(const VoiceParams& params, State& state) noexcept;
    static double applyEnvelope(State& state, double v) noexcept;

    const VoiceParams& m_params;
    State m_state{};
};

// Renders through `renderer`; the name the rest of the program calls.
void renderVoice(VoiceRenderer& renderer, float* out, std::size_t frameCount) noexcept;

} // namespace doodle
