#pragma once

#include "recording/OfflineRender.h"

#include <cstdint>

namespace doodle {

// The choices a person makes on the controls beside the drawing area, as every host hands them
// on: what a kept drawing and a link carry, what an export renders with, what a restore sets.
// In the controls' ranges: scale mode 0..3 (ScaleMode), root 0..11 into noteNames, voice type
// 1..2 (VoiceType), speed in tenths kMinPlaySpeedTenths..kMaxPlaySpeedTenths, Grid ticked,
// tuning 0..1 (Tuning: Classic, Concert).
struct ControlSettings {
    int32_t scaleMode = 0;
    int32_t rootIndex = 0;
    int32_t voiceType = 1;
    int32_t speedTenths = 0;
    bool grid = false;
    int32_t tuning = 0;
};

// The playback's part of the settings (a speed off the slider's tenths is rounded to one).
ControlSettings controlSettingsOf(const RenderSettings& settings, bool grid) noexcept;
RenderSettings renderSettingsOf(const ControlSettings& settings) noexcept;

} // namespace doodle
