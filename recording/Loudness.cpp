#include "recording/Loudness.h"

#include <algorithm>
#include <cmath>

namespace doodle {
namespace {

constexpr double kDecibelsPerDecade = 20.0; // dB of amplitude per factor of kAmplitudeDecade
constexpr double kAmplitudeDecade = 10.0;

} // namespace

void Loudness::add(std::span<const float> samples) noexcept {
    for (const float sample : samples) {
        const float magnitude = std::fabs(sample);
        peak = std::max(peak, magnitude);
        pastFullScale += magnitude > kFullScale ? 1 : 0;
    }
}

double decibelsOf(double amplitude) noexcept {
    return kDecibelsPerDecade * std::log10(amplitude);
}

double normalizingGain(float peak) noexcept {
    if (peak <= 0.0f) {
        return 1.0;
    }
    return std::pow(kAmplitudeDecade, kNormalizedPeakDbfs / kDecibelsPerDecade) / peak;
}

} // namespace doodle
