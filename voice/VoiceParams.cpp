#include "voice/VoiceParams.h"

namespace doodle {

void startVoice(VoiceParams& voice) noexcept {
    voice.released.store(0);
    voice.fadeOutCount.store(0); // ends a running fade-out at once; the fade-in is left alone
}

void stopVoice(VoiceParams& voice) noexcept {
    voice.released.store(1);
    voice.fadeInCount.store(0); // the next start fades in from 1/1000
    voice.glideActive.store(0);
    voice.lastPitch.store(0.0); // the first pitch after a stop never glides
    voice.glideStep.store(0);
}

void setPitch(VoiceParams& voice) noexcept {
    const double pitchHz = voice.pitch.load();
    voice.glideTarget.store(pitchHz);
    const double lastPitchHz = voice.lastPitch.load();
    if (lastPitchHz != 0.0 && pitchHz != lastPitchHz) {
        // glideStep is left as it is: a glide that starts during another continues its count.
        voice.glideActive.store(1);
        voice.glideFrom.store(lastPitchHz);
    }
    voice.lastPitch.store(pitchHz);
}

} // namespace doodle
