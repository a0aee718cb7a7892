#pragma once

#include <cstdint>
#include <span>

namespace doodle {

// The largest sample magnitude an integer sound format holds; past it a sound clips.
inline constexpr float kFullScale = 1.0f;
// The peak of a normalized sound, dB relative to full scale.
inline constexpr double kNormalizedPeakDbfs = -1.0;

// The loudest sample of a sound and how many of its samples pass full scale (|x| > 1).
struct Loudness {
    float peak = 0.0f;
    int64_t pastFullScale = 0;

    void add(std::span<const float> samples) noexcept;
};

// An amplitude relative to full scale in dB (0 dBFS at full scale).
double decibelsOf(double amplitude) noexcept;

// The gain that puts a sound peaking at `peak` at kNormalizedPeakDbfs; 1 for a silent sound,
// which stays silent.
double normalizingGain(float peak) noexcept;

// A sample of a normalized sound: the render's sample times normalizingGain's gain.
inline float scaledSample(float sample, double gain) noexcept {
    return static_cast<float>(sample * gain);
}

} // namespace doodle
