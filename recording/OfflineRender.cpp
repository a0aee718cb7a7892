#include "recording/OfflineRender.h"

#include "mapping/MapPoint.h"
#include "recording/PlaybackStep.h"
#include "recording/Ticker.h"
#include "voice/Synth.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace doodle {
namespace {

static_assert(static_cast<double>(kRenderSampleRate) == VoiceParams::sampleRate,
              "a render runs at the voice's rate");
static_assert(kRenderTailSamples == kFadeOutSamples, "the tail holds the whole fade-out");

constexpr int64_t kTicksPerSecond = kNsPerSecond / kTickPeriodNs;
constexpr int32_t kLastTick = std::numeric_limits<int32_t>::max(); // the counter wraps after it

// Whether playbackStep would act (take a line or stop) on `tickCount` with the list at
// playIndex. It tells only: the caller's playIndex stays as it is.
bool stepActs(std::span<const std::string> recording, int32_t playIndex, int32_t tickCount,
              double playSpeed) noexcept {
    return playbackStep(recording, playIndex, tickCount, playSpeed, false).action !=
           PlaybackAction::None;
}

// The first tick after `afterTick` on which playback acts. Ticks on which it does not act
// change nothing, so they need not be visited: a line becomes due once the count passes its
// time and stays due, which lets a doubling search and then a bisection find the tick in a
// few line reads however long the wait. Nothing if no tick up to kLastTick acts.
std::optional<int32_t> nextActingTick(std::span<const std::string> recording, int32_t playIndex,
                                      int32_t afterTick, double playSpeed) noexcept {
    int64_t quietTick = afterTick; // every tick after afterTick up to this one does nothing
    int64_t strideTicks = 1;
    int64_t actingTick = 0;
    while (true) {
        if (quietTick >= kLastTick) {
            return std::nullopt;
        }
        actingTick = std::min<int64_t>(quietTick + strideTicks, kLastTick);
        if (stepActs(recording, playIndex, static_cast<int32_t>(actingTick), playSpeed)) {
            break;
        }
        quietTick = actingTick;
        strideTicks *= 2;
    }
    while (actingTick - quietTick > 1) {
        const int64_t middleTick = quietTick + (actingTick - quietTick) / 2;
        if (stepActs(recording, playIndex, static_cast<int32_t>(middleTick), playSpeed)) {
            actingTick = middleTick;
        } else {
            quietTick = middleTick;
        }
    }
    return static_cast<int32_t>(actingTick);
}

// Renders the voice into blocks of kRenderBlockFrames and hands each full block to the sink.
class BlockRenderer {
public:
    BlockRenderer(VoiceRenderer& voice, const SampleSink& sink) : m_voice(voice), m_sink(sink) {}

    // Renders up to, not including, the sample endSampleIndex. False if the sink stopped.
    bool renderUntil(int64_t endSampleIndex) {
        while (m_sampleIndex < endSampleIndex) {
            const std::size_t frames = static_cast<std::size_t>(
                std::min<int64_t>(endSampleIndex - m_sampleIndex,
                                  static_cast<int64_t>(m_block.size() - m_filledFrames)));
            renderVoice(m_voice, m_block.data() + m_filledFrames, frames);
            m_filledFrames += frames;
            m_sampleIndex += static_cast<int64_t>(frames);
            if (m_filledFrames == m_block.size() && !flush()) {
                return false;
            }
        }
        return true;
    }

    // Hands over what is left of the last block. False if the sink stopped.
    bool flush() {
        if (m_filledFrames == 0) {
            return true;
        }
        const std::span<const float> samples(m_block.data(), m_filledFrames);
        m_filledFrames = 0;
        return m_sink(samples);
    }

private:
    VoiceRenderer& m_voice;
    const SampleSink& m_sink;
    std::vector<float> m_block = std::vector<float>(kRenderBlockFrames);
    std::size_t m_filledFrames = 0; // of m_block, not yet handed over
    int64_t m_sampleIndex = 0;      // samples rendered since the start of playback
};

} // namespace

bool validRenderSettings(const RenderSettings& settings) noexcept {
    // Written so that NaN fails as well.
    const bool speedInRange =
        settings.playSpeed >= kMinPlaySpeed && settings.playSpeed <= kMaxPlaySpeed;
    const bool oneTypeChecked = settings.voiceType.type1Checked != settings.voiceType.type2Checked;
    const bool modeKnown =
        settings.scaleMode == ScaleMode::Unrestricted || settings.scaleMode == ScaleMode::Major ||
        settings.scaleMode == ScaleMode::Minor || settings.scaleMode == ScaleMode::Pentatonic;
    const bool rootKnown = settings.rootIndex >= 0 && settings.rootIndex < kSemitonesPerOctave;
    return speedInRange && oneTypeChecked && modeKnown && rootKnown;
}

int64_t tickSampleIndex(int64_t tickCount) noexcept {
    return tickCount * kRenderSampleRate / kTicksPerSecond;
}

std::optional<RenderPlan> planRender(std::span<const std::string> recording,
                                     double playSpeed) noexcept {
    int32_t playIndex = 0;
    int32_t tick = 0;
    while (true) {
        const std::optional<int32_t> nextTick =
            nextActingTick(recording, playIndex, tick, playSpeed);
        if (!nextTick) {
            return std::nullopt;
        }
        tick = *nextTick;
        if (playbackStep(recording, playIndex, tick, playSpeed, false).action ==
            PlaybackAction::Stop) {
            return RenderPlan{tick, tickSampleIndex(tick) + kRenderTailSamples};
        }
    }
}

RenderOutcome renderRecording(std::span<const std::string> recording,
                              const RenderSettings& settings, const SampleSink& sink) {
    if (!validRenderSettings(settings)) {
        return RenderOutcome::InvalidSettings;
    }
    // Checked first, so that a render that cannot end hands nothing over.
    if (!planRender(recording, settings.playSpeed)) {
        return RenderOutcome::Endless;
    }

    // The program's state at start-up: everything zero, the vowel map's working values too.
    VoiceParams voice;
    VoiceRenderer voiceRenderer(voice);
    VowelWorking vowel;
    // The first tick after start-up finds nothing to play and ends playback.
    stopVoice(voice);
    // The play toggle goes down: the voice is stopped, tickCount and playIndex start at 0.
    stopVoice(voice);
    int32_t playIndex = 0;
    int32_t tick = 0;

    MapControls controls;
    controls.scaleMode = settings.scaleMode;
    controls.scale = buildScale(settings.scaleMode, settings.rootIndex, Scale{});
    controls.voiceType = settings.voiceType;

    BlockRenderer renderer(voiceRenderer, sink);
    while (true) {
        const std::optional<int32_t> nextTick =
            nextActingTick(recording, playIndex, tick, settings.playSpeed);
        if (!nextTick) {
            return RenderOutcome::Endless; // planRender said otherwise: not reached
        }
        tick = *nextTick;
        if (!renderer.renderUntil(tickSampleIndex(tick))) {
            return RenderOutcome::Aborted;
        }
        const PlaybackStep step =
            playbackStep(recording, playIndex, tick, settings.playSpeed, false);
        switch (step.action) {
        case PlaybackAction::None:
            break;
        case PlaybackAction::Stop:
            stopVoice(voice);
            if (!renderer.renderUntil(tickSampleIndex(tick) + kRenderTailSamples) ||
                !renderer.flush()) {
                return RenderOutcome::Aborted;
            }
            return RenderOutcome::Finished;
        case PlaybackAction::Release:
            stopVoice(voice);
            break;
        case PlaybackAction::Sound:
            startVoice(voice);
            static_cast<void>(mapPoint(voice, step.x, step.y, controls, vowel)); // no label
            break;
        }
    }
}

} // namespace doodle
