#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace doodle::test {

// Fundamental in Hz of a window of a periodic signal at sampleRate (Hz): the first autocorrelation
// peak that comes close to the highest, refined by a parabola through it and its neighbours.
inline double measurePitchHz(const std::vector<float>& samples, std::size_t start,
                             std::size_t frames, double sampleRate = 44100.0) {
    constexpr std::size_t kMinLag = 20;   // 2205 Hz at 44.1 kHz
    constexpr std::size_t kMaxLag = 2000; // 22 Hz at 44.1 kHz
    constexpr double kNearHighest = 0.9;
    std::vector<double> r(kMaxLag + 2, 0.0);
    for (std::size_t lag = kMinLag - 1; lag <= kMaxLag + 1; ++lag) {
        double cross = 0.0;
        double energyA = 0.0;
        double energyB = 0.0;
        for (std::size_t n = start; n < start + frames; ++n) {
            cross += double{samples[n]} * samples[n + lag];
            energyA += double{samples[n]} * samples[n];
            energyB += double{samples[n + lag]} * samples[n + lag];
        }
        r[lag] = cross / std::sqrt(energyA * energyB);
    }
    double highest = 0.0;
    for (std::size_t lag = kMinLag; lag <= kMaxLag; ++lag) {
        highest = std::max(highest, r[lag]);
    }
    for (std::size_t lag = kMinLag; lag <= kMaxLag; ++lag) {
        if (r[lag] >= kNearHighest * highest && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            const double curve = r[lag - 1] - 2.0 * r[lag] + r[lag + 1];
            const double offset = curve == 0.0 ? 0.0 : 0.5 * (r[lag - 1] - r[lag + 1]) / curve;
            return sampleRate / (static_cast<double>(lag) + offset);
        }
    }
    return 0.0;
}

} // namespace doodle::test
