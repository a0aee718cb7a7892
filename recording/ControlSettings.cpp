#include "recording/ControlSettings.h"

#include "recording/PlaySpeed.h"

#include <cmath>

namespace doodle {

ControlSettings controlSettingsOf(const RenderSettings& settings, bool grid) noexcept {
    return {static_cast<int32_t>(settings.scaleMode),
            settings.rootIndex,
            static_cast<int32_t>(settings.voiceType),
            static_cast<int32_t>(std::lround(settings.playSpeed * kTenthsPerPlaySpeed)),
            grid,
            static_cast<int32_t>(settings.tuning)};
}

RenderSettings renderSettingsOf(const ControlSettings& settings) noexcept {
    return {playSpeedFromTenths(settings.speedTenths), static_cast<VoiceType>(settings.voiceType),
            static_cast<ScaleMode>(settings.scaleMode), settings.rootIndex,
            static_cast<Tuning>(settings.tuning)};
}

} // namespace doodle
