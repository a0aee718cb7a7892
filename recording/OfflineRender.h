#pragma once

#include "mapping/MapPoint.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "recording/PlaySpeed.h"
#include "recording/Player.h"
#include "recording/Recording.h"
#include "voice/Choir.h"
#include "voice/Synth.h"
#include "voice/VoiceParams.h"

#include <array>
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
    Tuning tuning = Tuning::Classic;               // as the Tuning menu's check mark
    ChorusMode chorus = ChorusMode::Solo;          // the voice alone, or more singers of it
    int32_t singersPerPart = 1;                    // Unison and Harmony: 1, 2 or 4
};

// Whether the program's controls can show these settings.
bool validRenderSettings(const RenderSettings& settings) noexcept;

// What the maps read for these settings: the scale built once from the mode and the root, and
// the tuning.
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

// Receives the samples of a render in order at kRenderSampleRate, in blocks of
// kRenderBlockFrames frames (the last one may be shorter): mono, or for a chorus left and right
// interleaved (renderChannels). Returning false stops the render.
using SampleSink = std::function<bool(std::span<const float> samples)>;

// The channels of a render: 1 for the voice alone, 2 (left and right interleaved in each block
// a SampleSink receives) for a chorus.
int32_t renderChannels(const RenderSettings& settings) noexcept;

enum class RenderOutcome {
    Finished,        // every sample of planRender's length went to the sink
    Aborted,         // the sink returned false; no block followed
    Endless,         // playback did not end where its plan said; nothing more was rendered
    InvalidSettings, // validRenderSettings failed; nothing was rendered
};

// One tick on which playback acted, as the offline playback yields it.
struct PlayedTick {
    int32_t tick = 0;        // ticks (ms of played time) since the start of playback, 1 or more
    int64_t sampleIndex = 0; // tickSampleIndex(tick): the step acts just before this sample
    PlayedStep step{};       // Sound, Release or Stop; Stop is the last one
    double pitchHz = 0.0;    // Sound: the pitch the mapping chain gave the voice, Hz
    // Sound in Harmony: what each part sings, soprano (the voice) first, Hz; 0 = silent.
    std::array<double, kChorusParts> partPitchHz{};
};

// Receives the acting ticks of a playback in order.
using PlayedTickSink = std::function<void(const PlayedTick& played)>;

// The program's playback when its play toggle goes down right after start-up, with the ticker
// replaced by the sample clock: a fresh voice, released by the first tick's end of playback and
// by the start of playback (the Player's stop() and start()); the Player stepped only on the
// ticks where it acts, each of them handed to onTick (when given); after the Stop the voice is
// released again. With onSamples, the voice is rendered too: tick k acts just before sample
// tickSampleIndex(k), and after the Stop kRenderTailSamples more samples follow, plan.sampleCount
// in all. `plan` is planRender's for this recording and speed. The Scale is built once from the
// settings; the same recording and settings always give the same ticks and samples; memory does
// not grow with the length. Returns Finished, Aborted (onSamples returned false),
// InvalidSettings (nothing played) or Endless (playback went past plan.stopTick: another
// recording's or speed's plan).
RenderOutcome playRecording(const Recording& recording, const RenderSettings& settings,
                            const RenderPlan& plan, const PlayedTickSink& onTick,
                            const SampleSink& onSamples);

// The samples alone: playRecording without a tick sink.
RenderOutcome renderRecording(const Recording& recording, const RenderSettings& settings,
                              const RenderPlan& plan, const SampleSink& sink);

} // namespace doodle
