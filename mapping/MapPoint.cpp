#include "mapping/MapPoint.h"

#include "voice/ResonatorTuning.h"

namespace doodle {

std::optional<int32_t> mapPoint(VoiceParams& voice, int32_t x, int32_t y,
                                const MapControls& controls, VowelWorking& working) noexcept {
    const PitchResult pitch = mapPitch(x, controls.scaleMode, controls.scale);
    voice.pitch.store(pitch.pitchHz);
    setPitch(voice);

    const FormantSet formants = mapVowel(y, controls.voiceType, working);
    voice.res1.freq.store(formants.freqHz[0]);
    voice.res2.freq.store(formants.freqHz[1]);
    voice.res3.freq.store(formants.freqHz[2]);
    voice.res1.bw.store(formants.bwHz[0]);
    voice.res2.bw.store(formants.bwHz[1]);
    voice.res3.bw.store(formants.bwHz[2]);
    tuneResonators(voice);

    return pitch.noteIndex;
}

} // namespace doodle
