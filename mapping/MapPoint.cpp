#include "mapping/MapPoint.h"

namespace doodle {

std::optional<int32_t> mapPoint(VoiceParams& voice, int32_t x, int32_t y,
                                const MapControls& controls, VowelWorking& working) noexcept {
    const PitchResult pitch = mapPitch(x, controls.scaleMode, controls.scale, controls.tuning);
    setPitch(voice, pitch.pitchHz);
    setFormants(voice, mapVowel(y, controls.voiceType, working));
    return pitch.noteIndex;
}

} // namespace doodle
