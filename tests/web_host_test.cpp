// The web edition's host of the program, natively: the play clock on the sample clock. The
// WebAssembly module runs these same sources.
#include "files/RecordingFiles.h"
#include "program/ProgramLogic.h"
#include "recording/OfflineRender.h"
#include "recording/RecordingFile.h"
#include "voice/Synth.h"
#include "web/SampleTicks.h"

#include <algorithm>
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
    void showMessage(std::string_view, std::string_view) override {}
    std::optional<std::string> chooseSaveFile(FileKind, std::string_view) override {
        return std::nullopt;
    }
    bool storeFile(const std::string&, const StoredFile&) override { return false; }
    std::optional<ChosenRecording> chooseOpenFile() override {
        return ChosenRecording{openAnswer, false};
    }
    void showHelp() override {}
    void resumeTicks() override { m_ticks.resume(); }
    void pauseTicks() override { m_ticks.pause(); }
    void quit() override {}

private:
    SampleTicks& m_ticks;
};

struct Host {
    SampleTicks ticks;
    RecordingView view{ticks};
    ProgramLogic logic{view};
    VoiceRenderer renderer{logic.voice()};

    Host() { logic.start(); }
    // Renders `frames` samples in pieces of `piece` frames, as an audio output would ask.
    std::vector<float> render(std::size_t frames, std::size_t piece) {
        std::vector<float> out(frames);
        for (std::size_t done = 0; done < frames; done += piece) {
            ticks.render(logic, renderer, out.data() + done, std::min(piece, frames - done));
        }
        return out;
    }
};

TEST(WebHost, PlaybackOnTheSampleClockRendersTheOfflineRenderExactly) {
    const std::string example = std::string(DC_EXAMPLES_DIR) + "/tune.sav";
    const std::optional<Recording> recording = openRecordingFile(example);
    ASSERT_TRUE(recording && !recording->empty());
    for (const int32_t speedTenths : {10, 25, 50}) {
        for (const std::size_t piece : {std::size_t{128}, std::size_t{97}, std::size_t{4096}}) {
            Host host;
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

} // namespace
} // namespace doodle
