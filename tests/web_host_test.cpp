// The web edition's host of the program, natively: the play clock on the sample clock. The
// WebAssembly module runs these same sources.
#include "RunawayRecording.h"
#include "files/RecordingFiles.h"
#include "program/ProgramLogic.h"
#include "recording/OfflineRender.h"
#include "recording/RecordingFile.h"
#include "voice/Synth.h"
#include "web/SampleTicks.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace doodle {
namespace {

// A view that answers the open dialog with a given recording and keeps the sample clock's
// frame of each end of playback.
class RecordingView final : public ProgramView {
public:
    explicit RecordingView(SampleTicks& ticks) : m_ticks(ticks) {}

    std::vector<int64_t> playStops; // frames where the play toggle went up
    std::optional<Recording> openAnswer;

    void paintCanvas(const CanvasPaint&) override {}
    void showNote(std::string_view) override {}
    void setRecording(bool) override {}
    void setPlaying(bool down) override {
        if (!down) {
            playStops.push_back(m_ticks.frame());
        }
    }
    void setPlayEnabled(bool) override {}
    void setGrid(bool, bool) override {}
    void setRootEnabled(bool) override {}
    void markVoiceType(VoiceType) override {}
    void markTuning(Tuning) override {}
    void showMessage(std::string_view, std::string_view) override {}
    std::optional<std::string> chooseSaveFile(FileKind, std::string_view) override {
        return std::nullopt;
    }
    StoreResult storeFile(const std::string&, const StoredFile&) override { return {}; }
    std::optional<ChosenRecording> chooseOpenFile() override {
        return ChosenRecording{openAnswer, false};
    }
    void showHelp() override {}
    SaveChoice askSaveChanges() override { return SaveChoice::Discard; }
    void showDocument(std::string_view, bool) override {}
    void setUndoAvailable(bool) override {}
    void resumeTicks() override { m_ticks.resume(); }
    void pauseTicks() override { m_ticks.pause(); }
    void quit() override {}
    void sendMidi(std::span<const MidiMessage>) override {}
    std::string midiStatus() const override { return {}; }

private:
    SampleTicks& m_ticks;
};

struct Host {
    SampleTicks ticks;
    RecordingView view{ticks};
    ProgramLogic logic{view};
    VoiceRenderer renderer;

    // The worklet's program renders live output; the exact voice shows the play clock's timing
    // sample for sample against the offline render.
    explicit Host(VoiceOutput output = VoiceOutput::Live) : renderer(logic.voice(), output) {
        logic.start();
    }
    // Renders `frames` samples in pieces of `piece` frames, as an audio output would ask.
    std::vector<float> render(std::size_t frames, std::size_t piece) {
        std::vector<float> out(frames);
        for (std::size_t done = 0; done < frames; done += piece) {
            ticks.render(logic, renderer, out.data() + done, std::min(piece, frames - done));
        }
        return out;
    }
    void press(int32_t x, int32_t y) {
        logic.dispatch(
            Event::pointerEvent(PointerAction::LeftPress, x, y, kLeftButtonBit, ticks.nowMs()));
    }
    void release(int32_t x, int32_t y) {
        logic.dispatch(Event::pointerEvent(PointerAction::LeftRelease, x, y, 0, ticks.nowMs()));
    }
};

constexpr std::size_t kWorkletFrames = 128; // the Web Audio render quantum
constexpr std::size_t kHalfSecond = 22050;

// The largest magnitude of the samples; NaN when one is not finite.
float peakOf(const std::vector<float>& samples) {
    float peak = 0.0f;
    for (const float sample : samples) {
        if (!std::isfinite(sample)) {
            return std::nanf("");
        }
        peak = std::max(peak, std::fabs(sample));
    }
    return peak;
}

TEST(WebHost, PlaybackOnTheSampleClockRendersTheOfflineRenderExactly) {
    const std::string example = std::string(DC_EXAMPLES_DIR) + "/tune.sav";
    const std::optional<Recording> recording = openRecordingFile(example);
    ASSERT_TRUE(recording && !recording->empty());
    for (const int32_t speedTenths : {10, 25, 50}) {
        for (const std::size_t piece : {std::size_t{128}, std::size_t{97}, std::size_t{4096}}) {
            Host host(VoiceOutput::Exact);
            host.render(1000, piece); // the first tick ends playback and pauses the clock
            host.view.openAnswer = recording;
            host.logic.dispatch(Event::menu(kMenuOpen));
            host.logic.dispatch(Event::speedSlider(speedTenths));
            const int64_t playFrame = host.ticks.frame();
            host.logic.dispatch(Event::playToggle(true));

            const RenderSettings settings{playSpeedFromTenths(speedTenths)};
            const std::optional<RenderPlan> plan = planRender(*recording, settings.playSpeed);
            ASSERT_TRUE(plan);
            std::vector<float> offline;
            ASSERT_EQ(renderRecording(*recording, settings, *plan,
                                      [&](std::span<const float> samples) {
                                          offline.insert(offline.end(), samples.begin(),
                                                         samples.end());
                                          return true;
                                      }),
                      RenderOutcome::Finished);
            const std::vector<float> live = host.render(offline.size(), piece);
            ASSERT_EQ(live.size(), offline.size());
            EXPECT_EQ(live, offline) << "speed " << speedTenths << ", pieces of " << piece;

            // Playback ended on the plan's tick, at its sample.
            ASSERT_FALSE(host.view.playStops.empty());
            EXPECT_EQ(host.view.playStops.back(), playFrame + tickSampleIndex(plan->stopTick));
            EXPECT_FALSE(host.ticks.running());
        }
    }
}

// The page's voice, where the exact voice passes full scale: a press held high on the pitch
// scale, on the vowels where each voice type peaks past 1.0.
TEST(WebHostVoice, APressHighOnThePitchScaleStaysWithinFullScale) {
    struct Press {
        int32_t menuId;
        int32_t x;
        int32_t y;
    };
    for (const Press press : {Press{kMenuType1, 230, 80}, Press{kMenuType1, 228, 60},
                              Press{kMenuType2, 230, 100}, Press{kMenuType2, 232, 200}}) {
        Host host;
        host.render(1000, kWorkletFrames);
        host.logic.dispatch(Event::menu(press.menuId));
        host.press(press.x, press.y);
        const std::vector<float> held = host.render(kHalfSecond, kWorkletFrames);
        EXPECT_LE(peakOf(held), 1.0f) << press.x << ", " << press.y;
        EXPECT_GT(peakOf(held), 0.9f) << "the knee is not reached";
        host.release(press.x, press.y);
    }
}

// A recording that makes the voice run away, played on the page: what the page plays stays
// finite and within full scale, and the voice sings again at the next press after the release
// that ends playback.
TEST(WebHostRunaway, PlaysWithinFullScaleAndTheVoiceSingsAgainAtTheNextPress) {
    const Recording recording(test::runawayLines());
    const std::optional<RenderPlan> plan = planRender(recording, 1.0);
    ASSERT_TRUE(plan);
    bool exactFinite = true;
    renderRecording(recording, {}, *plan, [&](std::span<const float> samples) {
        exactFinite = exactFinite && std::ranges::all_of(samples, [](float sample) {
                          return std::isfinite(sample);
                      });
        return true;
    });
    ASSERT_FALSE(exactFinite) << "the recording no longer runs the exact voice away";

    Host host;
    host.render(1000, kWorkletFrames);
    host.view.openAnswer = recording;
    host.logic.dispatch(Event::menu(kMenuOpen));
    host.logic.dispatch(Event::playToggle(true));
    const std::vector<float> played =
        host.render(static_cast<std::size_t>(plan->sampleCount), kWorkletFrames);
    ASSERT_FALSE(host.ticks.running()) << "playback has not ended";
    EXPECT_LE(peakOf(played), 1.0f);

    host.press(100, 100);
    const std::vector<float> again = host.render(kHalfSecond, kWorkletFrames);
    EXPECT_LE(peakOf(again), 1.0f);
    EXPECT_GT(peakOf(std::vector<float>(again.end() - kWorkletFrames, again.end())), 0.1f)
        << "the voice is still silent";
}

} // namespace
} // namespace doodle
