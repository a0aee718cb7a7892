#pragma once

#include "voice/RelaxedAtomic.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace doodle {

// The coefficients of one two-pole formant resonator, y = A*x + B*y1 + C*y2. The main thread
// writes the formant and, from it, the coefficients; the audio callback reads the coefficients
// afresh on every sample. Its output history lives in the renderer (ResonatorHistory).
struct Resonator {
    RelaxedAtomic<double> freq; // Hz, centre frequency, 0 until the first mapped point
    RelaxedAtomic<double> bw;   // Hz, bandwidth, > 0 once mapped

    // Written by tuneResonators, in the order C, B, A.
    RelaxedAtomic<double> A; // input gain, 1 - B - C (unity gain at 0 Hz)
    RelaxedAtomic<double> B; // 2 r cos(theta), r = pole radius, theta = pole angle
    RelaxedAtomic<double> C; // -r^2, in (-1, 0] for a positive bandwidth

    // Sets the formant; tuneResonators then turns it into A, B, C.
    void setFormant(double freqHz, double bwHz) noexcept {
        freq.store(freqHz);
        bw.store(bwHz);
    }
};

// Every start, stop and glide request made so far, as the audio callback receives them: packed
// into one word, so that the callback takes them whole before a sample and no reset is lost.
// Each counter counts its kind modulo 2^16; the callback compares it with the word it applied
// last, so it would miss a kind only after 65536 requests of that kind between two samples.
struct VoiceRequests {
    uint16_t starts = 0;         // startVoice calls, modulo 2^16
    uint16_t stops = 0;          // stopVoice calls, modulo 2^16
    uint16_t glides = 0;         // setPitch calls that started a glide, modulo 2^16
    bool released = false;       // the latest of startVoice and stopVoice was stopVoice
    bool glideAfterStop = false; // the latest glide came after the latest stopVoice

    uint64_t pack() const noexcept;
    static VoiceRequests unpack(uint64_t word) noexcept;
};

// Everything the voice shares between the main thread and the audio callback. The main thread
// writes every field; the callback only reads. All of it is zero at construction, which is the
// program's start-up state; the constants are fixed.
struct VoiceParams {
    static constexpr double sampleRate = 44100.0;     // Hz, also the stream's rate
    static constexpr double twoPi = 6.28318530717958; // 15 digits on purpose: exact samples
    static constexpr double pi = 3.14159265358979;    // 15 digits on purpose: exact coefficients
    static constexpr std::size_t kResonatorCount = 3; // one resonator per formant

    RelaxedAtomic<double> pitch; // Hz, where the voice settles; 0 before the first point

    // The latest glide, read by the callback on every sample of a running glide.
    RelaxedAtomic<double> glideFrom;   // Hz, frequency the glide starts from
    RelaxedAtomic<double> glideTarget; // Hz, frequency the glide ends on

    // Formants 1..3 at indices 0..2; the second is mixed in with a negative sign.
    std::array<Resonator, kResonatorCount> res;

    // VoiceRequests::pack() of every request so far: the main thread stores it with release
    // after writing the glide fields above, the callback loads it with acquire.
    std::atomic<uint64_t> requestWord{0};

    // Main-thread bookkeeping, never read by the callback.
    double lastPitch = 0.0; // Hz, previous mapped pitch; 0 = none (start-up, after a stop)

    // The main thread's view: the latest of startVoice and stopVoice was stopVoice.
    bool released() const noexcept;
};

// The only ways the rest of the program starts, stops and re-pitches the voice; main thread
// only. Each publishes its request whole: the callback applies it before its next sample.
void startVoice(VoiceParams& voice) noexcept;
void stopVoice(VoiceParams& voice) noexcept;
// Call after writing `pitch`: glides from the previous pitch when there is one and it differs.
void setPitch(VoiceParams& voice) noexcept;

} // namespace doodle
