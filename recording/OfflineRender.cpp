#include "recording/OfflineRender.h"

#include "mapping/MapPoint.h"
#include "recording/Player.h"
#include "voice/Choir.h"
#include "voice/Synth.h"

#include <algorithm>
#include <vector>

namespace doodle {
namespace {

// Renders the voice, or the choir around it, into blocks of kRenderBlockFrames frames and hands
// each full block to the sink: mono samples, or left and right interleaved.
class BlockRenderer {
public:
    BlockRenderer(VoiceRenderer& voice, ChoirRenderer* choir, const SampleSink& sink)
        : m_voice(voice), m_choir(choir), m_sink(sink) {}

    // Renders up to, not including, the sample endSampleIndex. False if the sink stopped.
    // Without a sink nothing is rendered.
    bool renderUntil(int64_t endSampleIndex) {
        while (m_sink && m_sampleIndex < endSampleIndex) {
            const std::size_t frames = static_cast<std::size_t>(
                std::min<int64_t>(endSampleIndex - m_sampleIndex,
                                  static_cast<int64_t>(kRenderBlockFrames - m_filledFrames)));
            if (m_choir == nullptr) {
                m_voice.process(m_block.data() + m_filledFrames, frames);
            } else {
                m_choir->process(m_left.data(), m_right.data(), frames);
                for (std::size_t i = 0; i < frames; ++i) {
                    m_block[2 * (m_filledFrames + i)] = m_left[i];
                    m_block[2 * (m_filledFrames + i) + 1] = m_right[i];
                }
            }
            m_filledFrames += frames;
            m_sampleIndex += static_cast<int64_t>(frames);
            if (m_filledFrames == kRenderBlockFrames && !flush()) {
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
        const std::span<const float> samples(m_block.data(), m_filledFrames * channels());
        m_filledFrames = 0;
        return m_sink(samples);
    }

private:
    std::size_t channels() const noexcept { return m_choir == nullptr ? 1 : 2; }

    VoiceRenderer& m_voice;
    ChoirRenderer* m_choir = nullptr; // a chorus: stereo
    const SampleSink& m_sink;
    std::vector<float> m_block = std::vector<float>(kRenderBlockFrames * channels());
    std::vector<float> m_left = std::vector<float>(m_choir == nullptr ? 0 : kRenderBlockFrames);
    std::vector<float> m_right = std::vector<float>(m_choir == nullptr ? 0 : kRenderBlockFrames);
    std::size_t m_filledFrames = 0; // of m_block, not yet handed over
    int64_t m_sampleIndex = 0;      // samples rendered since the start of playback
};

} // namespace

bool validRenderSettings(const RenderSettings& settings) noexcept {
    // Written so that NaN fails as well.
    const bool speedInRange =
        settings.playSpeed >= kMinPlaySpeed && settings.playSpeed <= kMaxPlaySpeed;
    const bool typeKnown =
        settings.voiceType == VoiceType::Type1 || settings.voiceType == VoiceType::Type2;
    const bool modeKnown =
        settings.scaleMode == ScaleMode::Unrestricted || settings.scaleMode == ScaleMode::Major ||
        settings.scaleMode == ScaleMode::Minor || settings.scaleMode == ScaleMode::Pentatonic;
    const bool rootKnown = settings.rootIndex >= 0 && settings.rootIndex < kSemitonesPerOctave;
    const bool tuningKnown =
        settings.tuning == Tuning::Classic || settings.tuning == Tuning::Concert;
    const bool chorusKnown = settings.chorus == ChorusMode::Solo ||
                             settings.chorus == ChorusMode::Unison ||
                             settings.chorus == ChorusMode::Harmony;
    const bool singersKnown = settings.singersPerPart == 1 || settings.singersPerPart == 2 ||
                              settings.singersPerPart == kMaxSingersPerPart;
    return speedInRange && typeKnown && modeKnown && rootKnown && tuningKnown && chorusKnown &&
           singersKnown;
}

int32_t renderChannels(const RenderSettings& settings) noexcept {
    return settings.chorus == ChorusMode::Solo ? 1 : 2;
}

MapControls mapControlsFor(const RenderSettings& settings) {
    MapControls controls;
    controls.scaleMode = settings.scaleMode;
    controls.scale = buildScale(settings.scaleMode, settings.rootIndex, Scale{});
    controls.tuning = settings.tuning;
    controls.voiceType = settings.voiceType;
    controls.rootIndex = settings.rootIndex;
    return controls;
}

int64_t tickSampleIndex(int64_t tickCount) noexcept {
    return tickCount * kRenderSampleRate / kTicksPerSecond;
}

std::optional<RenderPlan> planRender(const Recording& recording, double playSpeed) noexcept {
    std::size_t playIndex = 0;
    int32_t tick = 0;
    while (true) {
        const std::optional<int32_t> nextTick =
            nextActingTick(recording, playIndex, tick, playSpeed);
        if (!nextTick) {
            return std::nullopt;
        }
        tick = *nextTick;
        if (playedToEnd(recording, playIndex)) {
            return RenderPlan{tick, tickSampleIndex(tick) + kRenderTailSamples};
        }
        ++playIndex;
    }
}

RenderOutcome playRecording(const Recording& recording, const RenderSettings& settings,
                            const RenderPlan& plan, const PlayedTickSink& onTick,
                            const SampleSink& onSamples) {
    if (!validRenderSettings(settings)) {
        return RenderOutcome::InvalidSettings;
    }
    const MapControls controls = mapControlsFor(settings);
    VoiceParams voice;
    VowelWorking vowel; // the vowel map's values, kept between points
    ChoirParts choir(settings.chorus);
    const bool harmony = settings.chorus == ChorusMode::Harmony;
    Player player(recording, voice, vowel, harmony ? &choir : nullptr);
    // The first tick after start-up finds nothing to play and ends playback; then the play
    // toggle goes down and playback starts.
    player.stop();
    player.start();
    VoiceRenderer voiceRenderer(voice);
    std::optional<ChoirRenderer> choirRenderer;
    if (settings.chorus != ChorusMode::Solo && onSamples) {
        choirRenderer.emplace(voice, choir.shared, settings.chorus, settings.singersPerPart);
    }
    BlockRenderer samples(voiceRenderer, choirRenderer ? &*choirRenderer : nullptr, onSamples);
    int32_t tick = 0;
    while (const std::optional<int32_t> next = player.nextActingTick(tick, settings.playSpeed)) {
        tick = *next;
        if (tick > plan.stopTick) {
            break;
        }
        const int64_t sampleIndex = tickSampleIndex(tick);
        if (!samples.renderUntil(sampleIndex)) {
            return RenderOutcome::Aborted;
        }
        // Labels and dots are the window's; the voice has had what the step does.
        const PlayedStep step = player.step(tick, settings.playSpeed, controls);
        if (onTick) {
            PlayedTick played{tick, sampleIndex, step, voice.pitchHz()};
            if (harmony && step.action == PlaybackAction::Sound) {
                for (std::size_t part = 0; part < kChorusParts; ++part) {
                    played.partPitchHz[part] = choir.last.parts[part].pitchHz;
                }
            }
            onTick(played);
        }
        if (step.action == PlaybackAction::Stop) {
            player.stop();
            const bool rendered =
                samples.renderUntil(sampleIndex + kRenderTailSamples) && samples.flush();
            return rendered ? RenderOutcome::Finished : RenderOutcome::Aborted;
        }
    }
    return RenderOutcome::Endless;
}

RenderOutcome renderRecording(const Recording& recording, const RenderSettings& settings,
                              const RenderPlan& plan, const SampleSink& sink) {
    return playRecording(recording, settings, plan, {}, sink);
}

} // namespace doodle
