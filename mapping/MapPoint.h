#pragma once

#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "voice/VoiceParams.h"

#include <cstdint>
#include <optional>

namespace doodle {

// The controls the maps read, as they stand when the point is handled.
struct MapControls {
    ScaleMode scaleMode = ScaleMode::Unrestricted;
    Scale scale{};
    VoiceType voiceType = VoiceType::Type1;
    Tuning tuning = Tuning::Classic;
    int32_t rootIndex = 0; // the scale's root, 0..11 into noteNames (the choir's key)
};

// The one chain from a point to the voice, shared by live drawing and playback: pitch map,
// setPitch (glides only when the pitch changed), vowel map, setFormants. x must lie in
// 0..kMaxPointX and y in 0..kMaxPointY: callers clamp. Does not start the voice (callers run
// startVoice first) and draws nothing. Returns the semitone index of the note to
// show in the note label, or nothing in Unrestricted, where the label is left as it is.
std::optional<int32_t> mapPoint(VoiceParams& voice, int32_t x, int32_t y,
                                const MapControls& controls, VowelWorking& working) noexcept;

} // namespace doodle
