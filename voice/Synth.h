#pragma once

#include "voice/VoiceParams.h"

#include <cstddef>

namespace doodle {

inline constexpr int32_t kGlideSamples = 2000;   // ~45.35 ms at 44100 Hz, linear in Hz
inline constexpr int32_t kFadeInSamples = 1000;  // ~22.68 ms, linear in amplitude
inline constexpr int32_t kFadeOutSamples = 4000; // ~90.70 ms, linear in amplitude

// Phase warp of the source: p in cycles (0..1) to the argument, in turns, of the outer sine.
// The inner sine takes p as radians on purpose; the result is a sawtooth-like wave with one
// downward jump at mid-period, odd about p = 0.5.
double sourceShape(double p) noexcept;

// Renders frameCount mono samples at 44100 Hz into out, advancing the oscillator, glide,
// resonator and envelope state in voice. Real-time safe: no allocation, lock, I/O or UI call.
void renderVoice(VoiceParams& voice, float* out, std::size_t frameCount) noexcept;

} // namespace doodle
