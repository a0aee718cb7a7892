#pragma once

#include "voice/FormantSet.h"

#include <array>

namespace doodle {

// The coefficients of one two-pole resonator, y = a*x + b*y1 + c*y2. All zero (silent) until a
// formant has been tuned.
struct ResonatorCoefficients {
    double a = 0.0; // input gain, 1 - b - c (unity gain at 0 Hz)
    double b = 0.0; // 2 r cos(theta), r = pole radius, theta = pole angle
    double c = 0.0; // -r^2, in (-1, 0) for a positive bandwidth
};

using ResonatorTuning = std::array<ResonatorCoefficients, kFormantCount>;

// Klatt's digital formant resonator at 44100 Hz: formant k of `formants` gives the coefficients
// of resonator k. Inputs are not checked: a positive bandwidth gives a stable resonator.
ResonatorTuning tuneResonators(const FormantSet& formants) noexcept;

} // namespace doodle
