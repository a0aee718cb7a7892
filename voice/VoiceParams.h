#pragma once

#include "voice/FormantSet.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace doodle {

// Everything the main thread has asked of the voice, as one whole: what the audio callback
// takes before a sample. Each counter counts its kind of request modulo 2^32; the callback
// compares it with the settings it applied last, so that no start, stop or glide is lost however
// many arrive between two of its samples.
struct VoiceSettings {
    uint32_t starts = 0;         // startVoice calls
    uint32_t stops = 0;          // stopVoice calls
    uint32_t glides = 0;         // setPitch calls that started a glide
    bool released = false;       // the latest of startVoice and stopVoice was stopVoice
    bool glideAfterStop = false; // the latest glide came after the latest stopVoice
    double pitchHz = 0.0;        // where the voice settles; 0 before the first point
    double glideFromHz = 0.0;    // where the latest glide starts
    FormantSet formants{};       // the vowel the resonators are tuned to
    double volume = 1.0;         // live output level, 0 (silent) .. 1 (the voice's own level)
};

// The record the main thread shares with the audio callback: the latest VoiceSettings, published
// whole under a sequence number. Neither side ever waits: a publication that the callback finds
// half-written, or overwritten while it copied it, it leaves for a later sample and keeps the
// settings it has, so it never renders with a mix of two publications.
class VoiceShared {
public:
    // Main thread only.
    void publish(const VoiceSettings& settings) noexcept;

    // Audio thread. The number of the latest publication: 0 before the first, odd while one is
    // being written.
    uint64_t sequence() const noexcept { return m_sequence.load(std::memory_order_acquire); }
    // Copies publication `sequence` (an even number that sequence() gave) into settings; false,
    // leaving settings as they were, when another publication has begun since.
    bool read(uint64_t sequence, VoiceSettings& settings) const noexcept;

private:
    // Each field is published with release and read with acquire: a reader that takes a field's
    // new value also sees the odd number written before it, and so drops its copy.
    static_assert(std::atomic<double>::is_always_lock_free &&
                      std::atomic<uint32_t>::is_always_lock_free &&
                      std::atomic<bool>::is_always_lock_free,
                  "the callback must never wait on a lock");

    std::atomic<uint64_t> m_sequence{0};
    std::atomic<uint32_t> m_starts{0};
    std::atomic<uint32_t> m_stops{0};
    std::atomic<uint32_t> m_glides{0};
    std::atomic<bool> m_released{false};
    std::atomic<bool> m_glideAfterStop{false};
    std::atomic<double> m_pitchHz{0.0};
    std::atomic<double> m_glideFromHz{0.0};
    std::atomic<double> m_volume{1.0};
    std::array<std::atomic<double>, kFormantCount> m_freqHz{};
    std::array<std::atomic<double>, kFormantCount> m_bwHz{};
};

// The voice as the main thread holds it: the record it shares with the audio callback, which
// reads nothing else, and the main thread's own bookkeeping. All zero at construction, the
// program's start-up state; the constants are fixed.
class VoiceParams {
public:
    static constexpr double sampleRate = 44100.0;     // Hz, also the stream's rate
    static constexpr double twoPi = 6.28318530717958; // 15 digits on purpose: exact samples
    static constexpr double pi = 3.14159265358979;    // 15 digits on purpose: exact coefficients
    static constexpr std::size_t kResonatorCount = kFormantCount; // one resonator per formant

    const VoiceShared& shared() const noexcept { return m_shared; }

    // What the main thread asked for last.
    bool released() const noexcept { return m_settings.released; }
    double pitchHz() const noexcept { return m_settings.pitchHz; }
    const FormantSet& formants() const noexcept { return m_settings.formants; }

private:
    friend void startVoice(VoiceParams& voice) noexcept;
    friend void stopVoice(VoiceParams& voice) noexcept;
    friend void setPitch(VoiceParams& voice, double pitchHz) noexcept;
    friend void setFormants(VoiceParams& voice, const FormantSet& formants) noexcept;
    // The live output's level, 0..1 (clamped; NaN counts as 1), reached within kVolumeLagSamples.
    // Renders and exports keep the voice's own level.
    void setVolume(VoiceParams& voice, double volume) noexcept;
    friend void setVolume(VoiceParams& voice, double volume) noexcept;

    VoiceShared m_shared;
    VoiceSettings m_settings{}; // as published last
    double m_lastPitchHz = 0.0; // previous pitch; 0 = none (start-up, after a stop)
};

// The only ways the rest of the program starts, stops, re-pitches and retunes the voice; main
// thread only. Each publishes the settings whole: the callback applies them before a sample.
// A start ends a running fade-out at once; a running fade-in goes on.
void startVoice(VoiceParams& voice) noexcept;
// Fades the voice out and ends a running glide; the next start fades in from 1/1000, and the
// next pitch is reached without a glide.
void stopVoice(VoiceParams& voice) noexcept;
// The pitch the voice settles on: it glides there from the previous pitch when there is one
// since the last stop and it differs. A glide that starts during another continues its step
// count.
void setPitch(VoiceParams& voice, double pitchHz) noexcept;
// Retunes the three resonators to `formants` (Hz); the callback takes the set whole.
void setFormants(VoiceParams& voice, const FormantSet& formants) noexcept;
// The live output's level, 0..1 (clamped; NaN counts as 1), reached within kVolumeLagSamples.
// Renders and exports keep the voice's own level.
void setVolume(VoiceParams& voice, double volume) noexcept;

} // namespace doodle
