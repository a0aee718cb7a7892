#include "voice/ResonatorTuning.h"

#include <cmath>

namespace doodle {
namespace {

void tuneOne(Resonator& r) noexcept {
    const double freqHz = r.freq.load();
    const double bwHz = r.bw.load();
    constexpr double pi = VoiceParams::pi;
    constexpr double fs = VoiceParams::sampleRate;
    const double c = -std::exp(-2.0 * pi * bwHz / fs);                                   // -r^2
    const double b = 2.0 * std::exp(-pi * bwHz / fs) * std::cos(2.0 * pi * freqHz / fs); // 2r cos
    const double a = 1.0 - b - c; // unity gain at 0 Hz
    r.C.store(c);
    r.B.store(b);
    r.A.store(a);
}

} // namespace

void tuneResonators(VoiceParams& voice) noexcept {
    for (Resonator& r : voice.res) {
        tuneOne(r);
    }
}

} // namespace doodle
