#pragma once

#include "mapping/MapPoint.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "recording/PlaySpeed.h"
#include "recording/Player.h"
#include "recording/Recording.h"
#include "voice/Synth.h"
#include "voice/VoiceParams.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace doodle {

// Samples per second of every render: the voice's own rate, Hz.
inline constexpr int64_t kRenderSampleRate = static_cast<int64_t>(VoiceParams::sampleRate);
// Samples rendered after the tick that ends playback: the voice's whole fade-out.
inline constexpr int64_t kRenderTailSamples = kFadeOutSamples;
// Samples handed to the sink at a time; only the last block of a render may be shorter.
inline constexpr std::size_t kRenderBlockFrames = 4096;

// The controls a playback reads, as the program's window would show them.
struct RenderSettings {
    double playSpeed = 1.0;                        // kMinPlaySpeed..kMaxPlaySpeed
    VoiceType voiceType = VoiceType::Type1;        // as the Voice menu's check mark
    ScaleMode scaleMode = ScaleMode::Unrestricted; // as the four scale options
    int32_t rootIndex = 0;                         // 0..11 into noteNames, C by default
};

// Whether the program's controls can show these settings.
bool validRenderSettings(const RenderSettings& settings) noexcept;

// What the maps read for these settings: the scale built once from the mode and the root.
MapControls mapControlsFor(const RenderSettings& settings);

// The index of the sample before which tick `tickCount` (1, 2, 3, ...) is handled:
// floor(tickCount * 44100 / 1000). Tick 0 is the start of playback, at sample 0.
int64_t tickSampleIndex(int64_t tickCount) noexcept;

// How long a render of a recording is.
struct RenderPlan {
    int32_t stopTick = 0;    // the tick that ends playback, 1 for an empty recording
    int64_t sampleCount = 0; // tickSampleIndex(stopTick) + kRenderTailSamples
};

// The length of a render, or nothing when playback would not end by tick INT32_MAX, where the
// program's tick counter wraps (a line due on that tick never plays). One look at each line.
std::optional<RenderPlan> planRender(const Recording& recording, double playSpeed) noexcept;

// Receives the samples of a render in order, mono at kRenderSampleRate, in blocks of
// kRenderBlockFrames (the last one may be shorter). Returning false stops the render.
using SampleSink = std::function<bool(std::span<const float> samples)>;

enum class RenderOutcome {
    Finished,        // every sample of planRender's length went to the sink
    Aborted,         // the sink returned false; no block followed
    Endless,         // playback would not end (planRender gives nothing); nothing was rendered
    InvalidSettings, // validRenderSettings failed; nothing was rendered
};

// Whether a recording can be played with these settings: Finished when it can, else
// InvalidSettings or Endless (playback would not end by the tick where the count wraps).
RenderOutcome checkPlayable(const Recording& recording, const RenderSettings& settings) noexcept;

// The program's playback when its play toggle goes down right after start-up, with the ticker
// replaced by a clock of the caller's: a fresh voice, stopped as the first tick and the start
// of playback stop it, and the Player stepped only on the ticks where it acts. Renders and
// exports play through it.
class OfflinePlayback {
public:
    OfflinePlayback(const Recording& recording, const RenderSettings& settings);
    OfflinePlayback(const OfflinePlayback&) = delete;
    OfflinePlayback& operator=(const OfflinePlayback&) = delete;

    // The next tick on which the player acts; nothing when no tick up to INT32_MAX does.
    std::optional<int32_t> nextTick() const noexcept;
    // Steps the player on that tick; a Stop also releases the voice, as ending playback does.
    PlayedStep step(int32_t tick) noexcept;

    VoiceParams& voice() noexcept { return m_voice; }

private:
    double m_playSpeed = kMinPlaySpeed;
    MapControls m_controls{};
    VoiceParams m_voice{};
    VowelWorking m_vowel{}; // the vowel map's values, kept between points
    Player m_player;
    int32_t m_tick = 0; // the last tick stepped; 0 at the start of playback
};

// Plays a recording as the program does when its play toggle goes down right after start-up,
// with the ticker replaced by the sample clock: a fresh voice, stopped as the first tick and
// the start of playback stop it; tick k handled just before sample tickSampleIndex(k) through
// the program's Player, mapping chain and voice; after the tick that ends playback,
// kRenderTailSamples more samples. The Scale is built once from the settings. The same
// recording and settings always give the same samples; memory does not grow with the length.
RenderOutcome renderRecording(const Recording& recording, const RenderSettings& settings,
                              const SampleSink& sink);

} // namespace doodle
