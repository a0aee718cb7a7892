#include "mapping/MapPoint.h"

#include "voice/ResonatorTuning.h"

namespace doodle {

std::optional<int32_t> mapPoint(VoiceParams& voice, int32_t x, int32_t y,
                                const MapControls& controls, VowelWorking& working) noexcept {
    const PitchResult pitch = mapPitch(x, controls.scaleMode, controls.scale);
    voice.pitch.store(pitch.pitchHz);
    setPitch(voice);

    const FormantSet formants = mapVowel(y, controls.voiceType, working);
    static_assert(kFormantCount == VoiceParams::kResonatorCount, "one resonator per formant");
    for (std::size_t k = 0; k < kFormantCount; ++k) {
        voice.res[k].setFormant(formants.freqHz[k], formants.bwHz[k]);
    }
    tuneResonators(voice);

    return pitch.noteIndex;
}

} // namespace doodle
