#include "recording/ControlSettings.h"

#include "recording/PlaySpeed.h"

#include <cmath>

namespace doodle {

ControlSettings controlSettingsOf(const RenderSettings& settings, bool grid) noexcept {
    return {static_cast<int32_t>(settings.scaleMode), settings.rootIndex,
            static_cast<int32_t>(settings.voiceType),
            static_cast<int32_t>(std::lround(settings.playSpeed * kTenthsPerPlaySpeed)), grid};
}

RenderSettings renderSettingsOf(const ControlSettings& settings) noexcept {
    return {playSpeedFromTenths(settings.speedTenths), static_cast<VoiceType>(settings.voiceType),
            static_cast<ScaleMode>(settings.scaleMode), settings.rootIndex};
}

} // namespace doodle
