#include "voice/ResonatorTuning.h"

#include "voice/VoiceParams.h"

#include <cmath>

namespace doodle {

ResonatorTuning tuneResonators(const FormantSet& formants) noexcept {
    constexpr double pi = VoiceParams::pi;
    constexpr double fs = VoiceParams::sampleRate;
    ResonatorTuning tuning;
    for (std::size_t k = 0; k < kFormantCount; ++k) {
        const double freqHz = formants.freqHz[k];
        const double bwHz = formants.bwHz[k];
        ResonatorCoefficients& r = tuning[k];
        r.c = -std::exp(-2.0 * pi * bwHz / fs);                                   // -r^2
        r.b = 2.0 * std::exp(-pi * bwHz / fs) * std::cos(2.0 * pi * freqHz / fs); // 2r cos
        r.a = 1.0 - r.b - r.c; // unity gain at 0 Hz
    }
    return tuning;
}

} // namespace doodle
