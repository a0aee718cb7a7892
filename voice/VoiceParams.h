#pragma once

#include "voice/RelaxedAtomic.h"

#include <cstdint>

namespace doodle {

// One two-pole formant resonator. The main thread writes the formant and, from it, the
// coefficients; the audio callback alone owns the output history.
struct Resonator {
    // Formant, written by the vowel map.
    RelaxedAtomic<double> freq; // Hz, centre frequency, 0 until the first mapped point
    RelaxedAtomic<double> bw;   // Hz, bandwidth, > 0 once mapped

    // Coefficients of y = A*x + B*y1 + C*y2, written by tuneResonators.
    RelaxedAtomic<double> A; // input gain, 1 - B - C (unity gain at 0 Hz)
    RelaxedAtomic<double> B; // 2 r cos(theta), r = pole radius, theta = pole angle
    RelaxedAtomic<double> C; // -r^2, in (-1, 0] for a positive bandwidth

    // State, written by the audio callback only.
    RelaxedAtomic<double> out;   // output of the current sample
    RelaxedAtomic<double> prev1; // output one sample back
    RelaxedAtomic<double> prev2; // output two samples back
};

// Everything the voice shares between the main thread and the audio callback. All fields
// are zero at construction, which is the program's start-up state; the constants are fixed.
struct VoiceParams {
    static constexpr double sampleRate = 44100.0;     // Hz, also the stream's rate
    static constexpr double twoPi = 6.28318530717958; // 15 digits on purpose: exact samples
    static constexpr double pi = 3.14159265358979;    // 15 digits on purpose: exact coefficients

    // Pitch and glide, written by the main thread (the callback ends a glide).
    RelaxedAtomic<double> pitch;        // Hz, where the voice settles; 0 before the first point
    RelaxedAtomic<double> lastPitch;    // Hz, previous mapped pitch; 0 = none (start, after stop)
    RelaxedAtomic<double> glideTarget;  // Hz, frequency a glide ends on
    RelaxedAtomic<double> glideFrom;    // Hz, frequency a glide starts from
    RelaxedAtomic<int32_t> glideActive; // 0 or 1
    RelaxedAtomic<int32_t> glideStep;   // 0..2000 samples of the running glide done

    // Oscillator, written by the audio callback only.
    RelaxedAtomic<double> phase;    // cycles, 0.0..1.0
    RelaxedAtomic<double> phaseInc; // cycles per sample, current frequency / sampleRate

    Resonator res1; // first formant
    Resonator res2; // second formant (mixed in with a negative sign)
    Resonator res3; // third formant

    // Envelope and start-up.
    RelaxedAtomic<int32_t> warmupCount;  // 0..4 samples rendered since start, held at 4
    RelaxedAtomic<int32_t> released;     // 0 = sounding (fade-in), 1 = released (fade-out)
    RelaxedAtomic<int32_t> fadeOutCount; // 0..4000 samples of fade-out since the release
    RelaxedAtomic<int32_t> fadeInCount;  // 0..1000 samples of fade-in since the start
};

// The only ways the rest of the program starts, stops and re-pitches the voice. Each is a
// fixed sequence of single-field writes that the callback may observe half-done.
void startVoice(VoiceParams& voice) noexcept;
void stopVoice(VoiceParams& voice) noexcept;
// Call after writing `pitch`: glides from the previous pitch when there is one and it differs.
void setPitch(VoiceParams& voice) noexcept;

} // namespace doodle
