#pragma once

#include "voice/VoiceParams.h"

namespace doodle {

// Klatt's digital formant resonator: turns each resonator's formant frequency and bandwidth
// (Hz) into A, B, C, writing C, B, A of res[0], then res[1], then res[2]. Inputs are not checked:
// a positive bandwidth gives a stable resonator.
void tuneResonators(VoiceParams& voice) noexcept;

} // namespace doodle
