#include "RunawayRecording.h"
#include "program/Exports.h"
#include "program/ProgramLogic.h"
#include "recording/RecordingFile.h"
#include "recording/WavFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace doodle {
namespace {

// Shows nothing: remembers what the program showed and asked, in order, and answers dialogs
// with prepared answers (cancel when none is left). Files it stores are kept in memory.
class FakeView final : public ProgramView {
public:
    void paintCanvas(const CanvasPaint& paint) override {
        const bool whole = !paint.empty() && paint.front().kind == CanvasStep::Kind::Fill;
        std::string grid;
        for (const CanvasStep& step : paint) {
            if (step.kind == CanvasStep::Kind::Columns && step.colour == kGridLineColour) {
                grid = gridName(step.columnsX);
            }
            if (step.kind == CanvasStep::Kind::Dots && !whole && grid.empty()) {
                log.push_back("dot");
                dots.insert(dots.end(), step.dots.begin(), step.dots.end());
                return;
            }
            if (step.kind == CanvasStep::Kind::Dots) {
                canvasInk.assign(step.dots.begin(), step.dots.end());
            }
        }
        if (whole) {
            log.push_back(grid.empty() ? "repaint" : "repaint grid " + grid);
        } else {
            log.push_back("grid over " + grid);
        }
    }
    void showNote(std::string_view name) override { note = name; }
    void setRecording(bool down) override { recording = down; }
    void setPlaying(bool down) override {
        log.push_back(down ? "playing" : "play");
        playing = down;
    }
    void setPlayEnabled(bool enabled) override { playEnabled = enabled; }
    void setGrid(bool checked, bool enabled) override {
        gridChecked = checked;
        gridEnabled = enabled;
    }
    void setRootEnabled(bool enabled) override { rootEnabled = enabled; }
    void markVoiceType(VoiceType type) override { voiceMarks.push_back(type); }
    void markTuning(Tuning tuning) override { tuningMarks.push_back(tuning); }
    void showMessage(std::string_view title, std::string_view text) override {
        log.push_back("message " + std::string(title) + ": " + std::string(text));
        whileAsked();
    }
    std::optional<std::string> chooseSaveFile(FileKind kind,
                                              std::string_view proposedName) override {
        log.push_back("save dialog " + std::string(captionOf(kind).dialogTitle));
        proposedNames.emplace_back(proposedName);
        whileAsked();
        if (saveAnswers.empty()) {
            return std::nullopt;
        }
        std::optional<std::string> answer = saveAnswers.front();
        saveAnswers.erase(saveAnswers.begin());
        return answer;
    }
    StoreResult storeFile(const std::string& destination, const StoredFile& file) override {
        const std::optional<std::vector<uint8_t>> bytes = bytesOf(file);
        if (!bytes || !storing) {
            return {StoreStatus::Failed, storeFailure, {}};
        }
        stored[destination] = *bytes;
        return {StoreStatus::Stored, {}, storeNotice};
    }
    std::optional<ChosenRecording> chooseOpenFile() override {
        log.push_back("open dialog " + std::string(kOpenTitle));
        whileAsked();
        if (openAnswers.empty()) {
            return std::nullopt;
        }
        std::optional<ChosenRecording> answer = openAnswers.front();
        openAnswers.erase(openAnswers.begin());
        return answer;
    }
    void showHelp() override {
        log.push_back("help");
        whileAsked();
    }
    SaveChoice askSaveChanges() override {
        log.push_back("save changes?");
        whileAsked();
        if (saveChoices.empty()) {
            return SaveChoice::Discard;
        }
        const SaveChoice choice = saveChoices.front();
        saveChoices.erase(saveChoices.begin());
        return choice;
    }
    void showDocument(std::string_view name, bool unsaved) override {
        document = name;
        documentUnsaved = unsaved;
    }
    void setUndoAvailable(bool available) override { undoAvailable = available; }
    void resumeTicks() override { log.push_back("resume ticks"); }
    void pauseTicks() override { log.push_back("pause ticks"); }
    void quit() override { log.push_back("quit"); }
    void sendMidi(std::span<const MidiMessage>) override {}
    std::string midiStatus() const override { return {}; }

    std::vector<std::string> log;
    std::vector<InkPoint> dots;
    std::vector<InkPoint> canvasInk;
    std::string note;
    bool recording = false;
    bool playing = false;
    bool playEnabled = true;
    bool gridChecked = false;
    bool gridEnabled = true;
    bool rootEnabled = false;
    std::vector<VoiceType> voiceMarks;
    std::vector<Tuning> tuningMarks;
    std::vector<std::string> proposedNames;
    std::vector<std::optional<std::string>> saveAnswers;
    std::vector<std::optional<ChosenRecording>> openAnswers;
    std::map<std::string, std::vector<uint8_t>> stored;
    bool storing = true;                 // false: every store fails, as on a full disk
    std::string storeFailure;            // why, when it fails
    std::string storeNotice;             // what a store says all the same
    std::vector<SaveChoice> saveChoices; // "Save changes?" answers; Discard once used up
    std::string document;
    bool documentUnsaved = false;
    bool undoAvailable = false;
    std::function<void()> whileAsked = [] {}; // runs while a dialog or Help is open

private:
    // The scale the grid's light lines belong to: strips of 14 px are pentatonic.
    static std::string gridName(const std::vector<int32_t>& lightX) {
        constexpr int32_t kPentatonicStrip = 14;
        return lightX.size() > 1 && lightX[1] - lightX[0] == kPentatonicStrip ? "pentatonic"
                                                                              : "heptatonic";
    }
};

bool contains(const std::vector<std::string>& log, const std::string& entry) {
    return std::find(log.begin(), log.end(), entry) != log.end();
}

// The log entries from `entry` on (empty when it never came).
std::vector<std::string> from(const std::vector<std::string>& log, const std::string& entry) {
    const auto at = std::find(log.begin(), log.end(), entry);
    return {at, log.end()};
}

// A started program past its first tick, as the desktop is a millisecond after start-up.
class ProgramLogicTest : public ::testing::Test {
protected:
    void SetUp() override {
        logic.start();
        logic.dispatch(Event::tick(1));
        view.log.clear();
    }

    void press(int32_t x, int32_t y, int32_t nowMs) {
        logic.dispatch(Event::pointerEvent(PointerAction::LeftPress, x, y, kLeftButtonBit, nowMs));
    }
    void drag(int32_t x, int32_t y, std::optional<int32_t> nowMs) {
        logic.dispatch(Event::pointerEvent(PointerAction::Move, x, y, kLeftButtonBit, nowMs));
    }
    void release(int32_t x, int32_t y, int32_t nowMs) {
        logic.dispatch(Event::pointerEvent(PointerAction::LeftRelease, x, y, 0, nowMs));
    }
    // Ticks from 1 until playback ends; the tick on which each dot appeared.
    std::vector<int32_t> playToEnd() {
        std::vector<int32_t> dotTicks;
        for (int32_t tick = 1; view.playing && tick <= kTickLimit; ++tick) {
            const std::size_t dotsBefore = view.dots.size();
            logic.dispatch(Event::tick(tick));
            if (view.dots.size() > dotsBefore) {
                dotTicks.push_back(tick);
            }
        }
        return dotTicks;
    }
    // A recording of two points 50 ms apart and a release, made as a hand makes it.
    void recordStroke() {
        logic.dispatch(Event::recordToggle(true, kStartMs));
        press(10, 20, kStartMs);
        drag(300, 40, kStartMs + 50); // beyond the right edge: recorded clamped
        release(300, 40, kStartMs + 80);
        logic.dispatch(Event::recordToggle(false, kStartMs + 90));
    }

    static constexpr int32_t kTickLimit = 100'000;
    static constexpr int32_t kStartMs = 2'000'000'000; // near the clock's wrap

    FakeView view;
    ProgramLogic logic{view};
};

TEST_F(ProgramLogicTest, TheFirstTickEndsTheIdlePlaybackAndLaterTicksDoNothing) {
    FakeView fresh;
    ProgramLogic started(fresh);
    started.start();
    EXPECT_EQ(fresh.log, std::vector<std::string>{"resume ticks"});
    EXPECT_TRUE(started.ticksRunning());
    started.dispatch(Event::tick(1));
    EXPECT_EQ(fresh.log, (std::vector<std::string>{"resume ticks", "play", "pause ticks"}));
    EXPECT_TRUE(started.voice().released());
    EXPECT_FALSE(started.ticksRunning());
    EXPECT_TRUE(fresh.gridEnabled);
    started.dispatch(Event::tick(2)); // already on its way when the ticks paused
    EXPECT_EQ(fresh.log.size(), 3U);
}

TEST_F(ProgramLogicTest, RecordThenPlayReplaysThePointsOnTheTicksAtTheSliderSpeed) {
    recordStroke();
    EXPECT_EQ(logic.recording().lineTexts(),
              (std::vector<std::string>{"10;20;0;0", "240;40;0;50", "240;40;1;80"}));
    EXPECT_EQ(view.dots, (std::vector<InkPoint>{{10, 20}, {240, 40}}));
    EXPECT_TRUE(view.playEnabled);

    view.dots.clear();
    view.log.clear();
    logic.dispatch(Event::playToggle(true));
    EXPECT_EQ(from(view.log, "playing"),
              (std::vector<std::string>{"playing", "repaint", "resume ticks"}));
    EXPECT_TRUE(view.canvasInk.empty()) << "playback starts on a white area";
    EXPECT_FALSE(view.gridEnabled);
    std::vector<int32_t> dotTicks = playToEnd();
    EXPECT_EQ(view.dots, (std::vector<InkPoint>{{10, 20}, {240, 40}}));
    ASSERT_EQ(dotTicks.size(), 2U);
    EXPECT_EQ(dotTicks[1] - dotTicks[0], 50) << "the recorded 50 ms apart, at speed 1";
    EXPECT_FALSE(logic.ticksRunning());
    EXPECT_TRUE(view.gridEnabled);
    EXPECT_TRUE(logic.voice().released()) << "the release line and the end release the voice";

    // Twice as fast: the slider's speed holds for the next playback.
    logic.dispatch(Event::speedSlider(20));
    view.dots.clear();
    logic.dispatch(Event::playToggle(true));
    dotTicks = playToEnd();
    ASSERT_EQ(dotTicks.size(), 2U);
    EXPECT_EQ(dotTicks[1] - dotTicks[0], 25);
    // A speed beyond the slider's range is held to it.
    logic.dispatch(Event::speedSlider(1000));
    EXPECT_EQ(logic.controls().settings.playSpeed, kMaxPlaySpeed);
}

TEST_F(ProgramLogicTest, AClockThatCannotBeReadRepeatsTheLastReadingInTheRecording) {
    logic.dispatch(Event::recordToggle(true, 500));
    press(1, 2, 530);
    drag(3, 4, std::nullopt);
    release(3, 4, 600);
    EXPECT_EQ(logic.recording().lineTexts(),
              (std::vector<std::string>{"1;2;0;30", "3;4;0;30", "3;4;1;100"}));
}

TEST_F(ProgramLogicTest, ADragWhilePlayingDoesNothingButAReleaseSilences) {
    recordStroke();
    logic.dispatch(Event::control(kMajorOption));
    logic.dispatch(Event::playToggle(true));
    logic.dispatch(Event::tick(1)); // the first point sounds and shows its note
    ASSERT_FALSE(view.note.empty());
    const std::vector<std::string> recorded = logic.recording().lineTexts();
    const std::size_t dotsBefore = view.dots.size();
    const std::size_t inkBefore = logic.drawing().ink.size();

    press(100, 100, kStartMs + 1000);
    drag(120, 110, kStartMs + 1010);
    EXPECT_EQ(view.dots.size(), dotsBefore);
    EXPECT_EQ(logic.drawing().ink.size(), inkBefore);
    EXPECT_FALSE(logic.voice().released()) << "the played point sounds on";
    release(120, 110, kStartMs + 1020);
    EXPECT_TRUE(logic.voice().released());
    EXPECT_TRUE(view.note.empty());
    EXPECT_EQ(logic.recording().lineTexts(), recorded);
}

TEST_F(ProgramLogicTest, GridIsRefusedInUnrestrictedAndDrawnOverTheInkInAScale) {
    press(50, 60, 0);
    release(50, 60, 0);
    view.log.clear();
    logic.dispatch(Event::gridBox(true));
    EXPECT_FALSE(view.gridChecked);
    EXPECT_FALSE(view.gridEnabled);
    EXPECT_EQ(view.log, std::vector<std::string>{"repaint"}) << "white with the ink, no grid";
    EXPECT_EQ(view.canvasInk, (std::vector<InkPoint>{{50, 60}}));

    logic.dispatch(Event::control(kPentatonicOption));
    EXPECT_TRUE(view.gridEnabled);
    EXPECT_TRUE(view.rootEnabled);
    view.log.clear();
    logic.dispatch(Event::gridBox(true)); // the box shows its own tick
    EXPECT_TRUE(logic.controls().gridChecked);
    EXPECT_EQ(view.log, std::vector<std::string>{"grid over pentatonic"});
    EXPECT_EQ(view.canvasInk, (std::vector<InkPoint>{{50, 60}}));
    // Another scale repaints its own grid; Unrestricted unticks it and takes it away.
    view.log.clear();
    logic.dispatch(Event::control(kMinorOption));
    EXPECT_EQ(view.log, std::vector<std::string>{"repaint grid heptatonic"});
    view.log.clear();
    logic.dispatch(Event::control(kUnrestrictedOption));
    EXPECT_FALSE(view.gridChecked);
    EXPECT_FALSE(view.gridEnabled);
    EXPECT_FALSE(view.rootEnabled);
    EXPECT_EQ(view.log, std::vector<std::string>{"repaint"});
}

TEST_F(ProgramLogicTest, RestoredInkIsRepaintedAndKeptLikeDrawnInkButNotRecorded) {
    recordStroke();
    const std::vector<std::string> recorded = logic.recording().lineTexts();
    logic.dispatch(Event::control(kMajorOption));
    logic.dispatch(Event::gridBox(true));
    view.log.clear();
    const std::vector<InkPoint> kept{{5, 6}, {240, 200}, {-3, 999}};
    logic.restoreInk(kept);
    EXPECT_EQ(view.log, std::vector<std::string>{"repaint grid heptatonic"})
        << "one repaint, no dot";
    EXPECT_EQ(view.canvasInk, kept);
    EXPECT_EQ(logic.drawing().ink, kept);
    EXPECT_EQ(logic.recording().lineTexts(), recorded);
    // Later redraws bring it back, as they bring back drawn ink; clear removes it.
    view.log.clear();
    logic.dispatch(Event::gridBox(false));
    EXPECT_EQ(view.log, std::vector<std::string>{"repaint"});
    EXPECT_EQ(view.canvasInk, kept);
    press(7, 8, 0);
    release(7, 8, 0);
    EXPECT_EQ(logic.drawing().ink.back(), (InkPoint{7, 8}));
    EXPECT_EQ(logic.drawing().ink.size(), kept.size() + 1);
    logic.dispatch(Event::control(kClearButton));
    EXPECT_TRUE(view.canvasInk.empty());
}

// A kept drawing's settings go through the program's own rules, as a person's choices: each
// control the program shows follows, Grid ticks only with a scale, and the ink comes after.
TEST_F(ProgramLogicTest, RestoreChoosesTheSettingsAsAPersonWouldThenShowsTheInk) {
    const std::vector<InkPoint> kept{{5, 6}, {240, 200}};
    logic.restore(ControlSettings{2, 9, 2, 35, true, 1}, kept);
    const ControlSettings now = logic.settings();
    EXPECT_EQ(std::tuple(now.scaleMode, now.rootIndex, now.voiceType, now.speedTenths, now.grid,
                         now.tuning),
              std::tuple(2, 9, 2, 35, true, 1));
    EXPECT_EQ(logic.controls().settings.scaleMode, ScaleMode::Minor);
    EXPECT_EQ(logic.controls().settings.tuning, Tuning::Concert);
    EXPECT_DOUBLE_EQ(logic.controls().settings.playSpeed, 3.5);
    EXPECT_EQ(view.voiceMarks, std::vector<VoiceType>{VoiceType::Type2});
    EXPECT_EQ(view.tuningMarks, std::vector<Tuning>{Tuning::Concert});
    EXPECT_TRUE(logic.controls().gridChecked);
    EXPECT_TRUE(view.gridEnabled);
    EXPECT_TRUE(view.rootEnabled);
    EXPECT_EQ(view.log.back(), "repaint grid heptatonic") << "the ink last, over the grid";
    EXPECT_EQ(view.canvasInk, kept);
    EXPECT_EQ(logic.drawing().ink, kept);

    // Grid is refused without a scale; the same settings again change nothing; no ink given
    // keeps the ink.
    logic.restore(ControlSettings{0, 9, 2, 35, true, 1}, std::nullopt);
    EXPECT_FALSE(logic.settings().grid);
    EXPECT_FALSE(view.gridEnabled);
    EXPECT_FALSE(view.rootEnabled);
    EXPECT_EQ(logic.drawing().ink, kept);
    view.log.clear();
    logic.restore(logic.settings(), std::nullopt);
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(view.voiceMarks.size(), 1U) << "a voice type already chosen is not chosen again";
    EXPECT_EQ(view.tuningMarks.size(), 1U) << "nor a tuning";

    // Settings kept before there was a choice of tuning are Classic.
    logic.restore(ControlSettings{0, 9, 2, 35, false}, std::nullopt);
    EXPECT_EQ(view.tuningMarks, (std::vector<Tuning>{Tuning::Concert, Tuning::Classic}));
    EXPECT_EQ(logic.settings().tuning, 0);
}

// The tuning moves every note of the scale modes, drawn and exported, and none of Unrestricted;
// the same choice again changes nothing, and a menu choice ends playback as the others do.
TEST_F(ProgramLogicTest, TheTuningMovesTheScaleNotesToConcertPitch) {
    std::string shownNote;
    const auto pitchAt = [&](int32_t x) {
        press(x, 100, 0);
        const double pitchHz = logic.voice().pitchHz();
        shownNote = view.note;
        release(x, 100, 0);
        return pitchHz;
    };
    logic.dispatch(Event::control(kMajorOption));
    EXPECT_EQ(pitchAt(0), noteBase);
    EXPECT_EQ(shownNote, "C");
    logic.dispatch(Event::menu(kMenuTuningConcert));
    EXPECT_EQ(view.tuningMarks, std::vector<Tuning>{Tuning::Concert});
    EXPECT_EQ(logic.controls().settings.tuning, Tuning::Concert);
    EXPECT_EQ(pitchAt(0), kConcertNoteBase);
    EXPECT_EQ(shownNote, "C");
    logic.dispatch(Event::menu(kMenuTuningConcert));
    EXPECT_EQ(view.tuningMarks.size(), 1U);

    logic.dispatch(Event::control(kUnrestrictedOption));
    const double concertFree = pitchAt(100);
    logic.dispatch(Event::menu(kMenuTuningClassic));
    EXPECT_EQ(pitchAt(100), concertFree);
    EXPECT_EQ(view.tuningMarks, (std::vector<Tuning>{Tuning::Concert, Tuning::Classic}));

    recordStroke();
    logic.dispatch(Event::playToggle(true));
    view.log.clear();
    logic.dispatch(Event::menu(kMenuTuningConcert));
    EXPECT_EQ(view.log, (std::vector<std::string>{"play", "pause ticks"}));
}

TEST_F(ProgramLogicTest, TheRootMovesTheNotesOfTheScale) {
    logic.dispatch(Event::control(kMajorOption));
    press(0, 100, 0);
    const std::string onC = view.note;
    release(0, 100, 0);
    logic.dispatch(Event::rootNote(2)); // D
    press(0, 100, 0);
    const std::string onD = view.note;
    EXPECT_EQ(onC, "C");
    EXPECT_NE(onD, onC);
    release(0, 100, 0);
    logic.dispatch(Event::rootNote(12)); // no such note: ignored
    press(0, 100, 0);
    EXPECT_EQ(view.note, onD);
}

TEST_F(ProgramLogicTest, AMenuChoiceEndsPlaybackBeforeItsOwnAction) {
    recordStroke();
    logic.dispatch(Event::playToggle(true));
    view.log.clear();
    logic.dispatch(Event::menu(kMenuAbout));
    EXPECT_EQ(view.log, (std::vector<std::string>{
                            "play", "pause ticks",
                            "message About: DoodleChorus v1.01 by the DoodleChorus developers\n"
                            "Make your drawings truly sing!"}));
    EXPECT_TRUE(view.gridEnabled);

    // Even the voice type that is already checked: playback ends, the mark stays.
    logic.dispatch(Event::playToggle(true));
    view.log.clear();
    logic.dispatch(Event::menu(kMenuType1));
    EXPECT_EQ(view.log, (std::vector<std::string>{"play", "pause ticks"}));
    EXPECT_TRUE(view.voiceMarks.empty());
    logic.dispatch(Event::menu(kMenuType2));
    logic.dispatch(Event::menu(kMenuType2));
    EXPECT_EQ(view.voiceMarks, std::vector<VoiceType>{VoiceType::Type2});
    EXPECT_EQ(logic.controls().settings.voiceType, VoiceType::Type2);
}

TEST_F(ProgramLogicTest, OpenReplacesTheRecordingOrKeepsItWhenTheFileCannotBeRead) {
    logic.dispatch(Event::control(kMajorOption));
    logic.dispatch(Event::gridBox(true));
    recordStroke();
    logic.dispatch(Event::recordToggle(true, kStartMs + 100)); // still down when opening
    press(7, 8, kStartMs + 110);
    release(7, 8, kStartMs + 120);
    const std::vector<std::string> recorded = logic.recording().lineTexts();
    const std::vector<InkPoint> ink = logic.drawing().ink;

    // A file that cannot be read, or holds no recording line, changes nothing and says why.
    for (ChosenRecording refused :
         {ChosenRecording{std::nullopt, false, "Cannot read 'a.sav': Permission denied."},
          ChosenRecording{splitRecordingLines("# notes\nnot a line\n"), false, {}, "/d/notes.txt"},
          ChosenRecording{splitRecordingLines(""), false, {}, "/d/empty.sav"}}) {
        view.openAnswers = {refused};
        view.saveChoices = {SaveChoice::Discard};
        view.log.clear();
        logic.dispatch(Event::menu(kMenuOpen));
        EXPECT_EQ(logic.recording().lineTexts(), recorded);
        EXPECT_EQ(logic.drawing().ink, ink);
        EXPECT_TRUE(view.recording) << "recording goes on";
        EXPECT_TRUE(logic.controls().gridChecked);
        ASSERT_FALSE(view.log.empty());
        EXPECT_EQ(view.log.front(), "save changes?");
        EXPECT_EQ(
            view.log.back().rfind("message Informer: Your DoodleChorus file is not opened!\n\n", 0),
            0U)
            << view.log.back();
    }
    EXPECT_TRUE(contains(view.log, "message Informer: Your DoodleChorus file is not opened!\n\n"
                                   "'empty.sav' has no recording lines (read 0 lines)"));
    view.openAnswers = {
        ChosenRecording{splitRecordingLines("# notes\nnot a line\n"), false, {}, "/d/notes.txt"}};
    view.log.clear();
    logic.dispatch(Event::menu(kMenuOpen));
    EXPECT_NE(
        view.log.back().find("'notes.txt' has no recording lines: none of its 2 lines is one"),
        std::string::npos)
        << view.log.back();

    // Lines too many for memory keep the recording too, and say so.
    view.openAnswers = {ChosenRecording{std::nullopt, true}};
    view.log.clear();
    logic.dispatch(Event::menu(kMenuOpen));
    EXPECT_EQ(logic.recording().lineTexts(), recorded);
    EXPECT_TRUE(contains(view.log, "message Informer: Your DoodleChorus file is not opened!"));

    view.openAnswers = {ChosenRecording{
        splitRecordingLines("5;6;0;0\r\n300;-4;1;40\r\n"), false, {}, "/d/tune.sav"}};
    logic.dispatch(Event::menu(kMenuOpen));
    EXPECT_EQ(logic.recording().lineTexts(), (std::vector<std::string>{"5;6;0;0", "300;-4;1;40"}));
    EXPECT_EQ(view.canvasInk, (std::vector<InkPoint>{{5, 6}, {300, -4}}));
    EXPECT_EQ(logic.drawing().ink, view.canvasInk) << "the opened dots are the ink now";
    EXPECT_FALSE(view.recording) << "the toggle came up";
    EXPECT_FALSE(view.gridChecked);
    EXPECT_EQ(view.document, "/d/tune.sav");
    EXPECT_FALSE(view.documentUnsaved);

    // Cancel changes nothing.
    view.log.clear();
    logic.dispatch(Event::menu(kMenuOpen));
    EXPECT_EQ(view.log, std::vector<std::string>{"open dialog Please choose file to open"});
}

TEST_F(ProgramLogicTest, SaveAndExportsStoreBytesOrSayTheFileIsNotSaved) {
    const std::string notSaved = "message Informer: Your DoodleChorus file is not saved!";
    logic.dispatch(Event::menu(kMenuSave)); // cancelled
    EXPECT_TRUE(contains(view.log, notSaved));
    EXPECT_EQ(view.proposedNames, std::vector<std::string>{"DoodleChorus"});

    view.log.clear();
    view.saveAnswers = {"empty"};
    logic.dispatch(Event::menu(kMenuSave)); // nothing recorded
    EXPECT_TRUE(contains(view.log, notSaved));
    EXPECT_TRUE(view.stored.empty());

    recordStroke();
    view.log.clear();
    view.saveAnswers = {"stroke", "again.SAV"};
    logic.dispatch(Event::menu(kMenuSave));
    logic.dispatch(Event::menu(kMenuSave));
    EXPECT_FALSE(contains(view.log, notSaved));
    const std::vector<uint8_t> lines = recordingFileBytes(logic.recording());
    EXPECT_EQ(std::string(lines.begin(), lines.end()),
              "10;20;0;0\r\n240;40;0;50\r\n240;40;1;80\r\n");
    EXPECT_EQ(view.stored["stroke.sav"], lines) << "the extension is added where it is missing";
    EXPECT_EQ(view.stored["again.SAV"], lines);

    // The exports are the render tool's files, with the controls as they are now, and end a
    // playback first as every menu choice does.
    logic.dispatch(Event::control(kMinorOption));
    logic.dispatch(Event::rootNote(2));
    logic.dispatch(Event::menu(kMenuType2));
    logic.dispatch(Event::speedSlider(25));
    logic.dispatch(Event::playToggle(true));
    view.log.clear();
    view.saveAnswers = {"tune", "tune.mid"};
    logic.dispatch(Event::menu(kMenuExportWav));
    logic.dispatch(Event::menu(kMenuExportMidi));
    EXPECT_EQ(view.log,
              (std::vector<std::string>{"play", "pause ticks", "save dialog Export as WAV",
                                        "save dialog Export as MIDI"}));
    const RenderSettings settings{2.5, VoiceType::Type2, ScaleMode::Minor, 2};
    EXPECT_EQ(view.stored["tune.wav"], exportBytes(FileKind::Wav, logic.recording(), settings));
    EXPECT_EQ(view.stored["tune.mid"], exportBytes(FileKind::Midi, logic.recording(), settings));
    const std::vector<uint8_t>& wav = view.stored["tune.wav"];
    ASSERT_GT(wav.size(), 80U);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");

    // A recording whose voice runs away gives no WAV file: its samples would be no numbers.
    EXPECT_FALSE(exportBytes(FileKind::Wav, Recording(test::runawayLines()), {}).has_value());

    // A store that fails is reported as a save is; a cancelled export says nothing.
    view.storing = false;
    view.log.clear();
    view.saveAnswers = {"full"};
    logic.dispatch(Event::menu(kMenuExportWav));
    logic.dispatch(Event::menu(kMenuExportMidi));
    EXPECT_EQ(view.log, (std::vector<std::string>{"save dialog Export as WAV", notSaved,
                                                  "save dialog Export as MIDI"}));

    // The reason the view gives, naming the file, follows the program's words; a notice (a kept
    // copy's name) is shown even when the file was stored.
    view.storeFailure = "Cannot write '/d/full.wav': No space left on device.";
    view.log.clear();
    view.saveAnswers = {"full"};
    logic.dispatch(Event::menu(kMenuExportWav));
    EXPECT_TRUE(contains(view.log, notSaved + "\n\n" + view.storeFailure));
    view.storing = true;
    view.storeNotice = "A complete copy is kept in '/d/.DoodleChorus-x.new'.";
    view.log.clear();
    view.saveAnswers = {"kept"};
    logic.dispatch(Event::menu(kMenuSave));
    EXPECT_TRUE(contains(view.log, "message Informer: " + view.storeNotice));
}

TEST_F(ProgramLogicTest, EventsDuringADialogOrHelpAreDropped) {
    recordStroke();
    const std::vector<std::string> recorded = logic.recording().lineTexts();
    const auto everyKindOfEvent = [&] {
        EXPECT_TRUE(logic.modalStepOpen());
        logic.dispatch(Event::playToggle(true));
        logic.dispatch(Event::recordToggle(true, 0));
        press(100, 100, 0);
        logic.dispatch(Event::control(kMajorOption));
        logic.dispatch(Event::menu(kMenuType2));
        logic.dispatch(Event::close());
    };
    view.whileAsked = everyKindOfEvent;
    view.log.clear();
    logic.dispatch(Event::menu(kMenuHelp));
    logic.dispatch(Event::menu(kMenuAbout));
    logic.dispatch(Event::menu(kMenuOpen)); // cancelled
    logic.dispatch(Event::menu(kMenuSave)); // cancelled, and the message too
    view.whileAsked = [] {};

    EXPECT_FALSE(logic.modalStepOpen());
    EXPECT_FALSE(logic.closeRequested());
    EXPECT_FALSE(contains(view.log, "quit"));
    EXPECT_FALSE(contains(view.log, "playing"));
    EXPECT_FALSE(contains(view.log, "dot"));
    EXPECT_FALSE(view.recording);
    EXPECT_FALSE(view.rootEnabled);
    EXPECT_TRUE(view.voiceMarks.empty());
    EXPECT_EQ(logic.recording().lineTexts(), recorded);
    // The program reacts again once they are closed.
    logic.dispatch(Event::control(kMajorOption));
    EXPECT_TRUE(view.rootEnabled);
}

TEST_F(ProgramLogicTest, CloseQuitsOnceAndLaterEventsAreDropped) {
    logic.dispatch(Event::close());
    EXPECT_TRUE(logic.closeRequested());
    logic.dispatch(Event::close());
    logic.dispatch(Event::playToggle(true));
    EXPECT_EQ(view.log, std::vector<std::string>{"quit"});
}

TEST_F(ProgramLogicTest, UnsavedLinesAreAskedForBeforeQuitRecordOrOpenTakesThem) {
    recordStroke();
    EXPECT_TRUE(view.documentUnsaved);
    const std::vector<std::string> recorded = logic.recording().lineTexts();

    // Cancel keeps everything as it was: no quit, no new recording, no open dialog.
    view.saveChoices = {SaveChoice::Cancel, SaveChoice::Cancel, SaveChoice::Cancel};
    view.log.clear();
    logic.dispatch(Event::close());
    logic.dispatch(Event::recordToggle(true, kStartMs + 1000));
    logic.dispatch(Event::menu(kMenuOpen));
    EXPECT_EQ(view.log,
              (std::vector<std::string>{"save changes?", "save changes?", "save changes?"}));
    EXPECT_FALSE(logic.closeRequested());
    EXPECT_FALSE(view.recording) << "the toggle went back up";
    EXPECT_EQ(logic.recording().lineTexts(), recorded);

    // Save whose dialog is cancelled, or whose file is not stored, keeps them too.
    view.saveChoices = {SaveChoice::Save, SaveChoice::Save};
    view.storing = false;
    view.saveAnswers = {std::nullopt, "full"};
    logic.dispatch(Event::close());
    logic.dispatch(Event::close());
    EXPECT_FALSE(logic.closeRequested());
    EXPECT_TRUE(logic.unsaved());

    // Save stores them, then a new recording starts, of no file yet.
    view.storing = true;
    view.saveChoices = {SaveChoice::Save};
    view.saveAnswers = {"/d/first"};
    logic.dispatch(Event::recordToggle(true, kStartMs + 2000));
    EXPECT_EQ(view.stored.count("/d/first.sav"), 1U);
    EXPECT_TRUE(view.recording);
    EXPECT_TRUE(logic.recording().empty());
    EXPECT_EQ(view.document, "");
    EXPECT_FALSE(view.documentUnsaved) << "nothing recorded yet";
    press(50, 60, kStartMs + 2010);
    EXPECT_TRUE(view.documentUnsaved);
    release(50, 60, kStartMs + 2020);

    // A saved recording is not asked for; Discard lets unsaved lines go.
    view.saveChoices = {SaveChoice::Discard};
    view.log.clear();
    logic.dispatch(Event::close());
    EXPECT_EQ(view.log, (std::vector<std::string>{"save changes?", "quit"}));
    EXPECT_TRUE(logic.closeRequested());
}

// Undo brings back what the last clear, record or Open took, and keeps what it takes for the
// next Undo, so that no keystroke loses a recording.
TEST_F(ProgramLogicTest, UndoBringsBackWhatTheLastClearRecordOrOpenTook) {
    recordStroke();
    const std::vector<std::string> first = logic.recording().lineTexts();
    const std::vector<InkPoint> firstInk = logic.drawing().ink;
    EXPECT_FALSE(view.undoAvailable);

    // Clear: the ink comes back, the recording was never touched.
    logic.dispatch(Event::control(kClearButton));
    EXPECT_TRUE(logic.drawing().ink.empty());
    EXPECT_TRUE(view.undoAvailable);
    logic.dispatch(Event::menu(kMenuUndo));
    EXPECT_EQ(logic.drawing().ink, firstInk);
    EXPECT_EQ(view.canvasInk, firstInk);
    EXPECT_TRUE(view.undoAvailable);
    logic.dispatch(Event::menu(kMenuUndo)); // takes the ink away again
    EXPECT_TRUE(logic.drawing().ink.empty());
    logic.dispatch(Event::menu(kMenuUndo));
    EXPECT_EQ(logic.drawing().ink, firstInk);

    // Record: the old recording, its ink and its unsaved state come back, recording ends.
    view.saveChoices = {SaveChoice::Discard};
    logic.dispatch(Event::recordToggle(true, kStartMs + 1000));
    press(70, 80, kStartMs + 1010);
    logic.dispatch(Event::menu(kMenuUndo));
    EXPECT_FALSE(view.recording);
    EXPECT_EQ(logic.recording().lineTexts(), first);
    EXPECT_EQ(logic.drawing().ink, firstInk);
    EXPECT_TRUE(view.documentUnsaved);
    release(70, 80, kStartMs + 1020);

    // Open: the recording from before the file, with its name.
    view.saveChoices = {SaveChoice::Discard};
    view.openAnswers = {ChosenRecording{splitRecordingLines("5;6;0;0\r\n"), false, {}, "/d/b.sav"}};
    logic.dispatch(Event::menu(kMenuOpen));
    EXPECT_EQ(view.document, "/d/b.sav");
    logic.dispatch(Event::menu(kMenuUndo));
    EXPECT_EQ(logic.recording().lineTexts(), first);
    EXPECT_EQ(view.document, "");
    EXPECT_TRUE(view.documentUnsaved);
    // A second Undo brings the file back, saved as it was opened.
    logic.dispatch(Event::menu(kMenuUndo));
    EXPECT_EQ(logic.recording().lineTexts(), std::vector<std::string>{"5;6;0;0"});
    EXPECT_EQ(view.document, "/d/b.sav");
    EXPECT_FALSE(view.documentUnsaved);

    // Saved over the file, the recording Undo keeps is no longer what any file holds.
    view.saveChoices = {SaveChoice::Discard};
    logic.dispatch(Event::recordToggle(true, kStartMs + 2000));
    press(90, 100, kStartMs + 2010);
    release(90, 100, kStartMs + 2020);
    logic.dispatch(Event::recordToggle(false, kStartMs + 2030));
    view.saveAnswers = {"/d/b.sav"};
    logic.dispatch(Event::menu(kMenuSave));
    EXPECT_FALSE(view.documentUnsaved);
    logic.dispatch(Event::menu(kMenuUndo));
    EXPECT_EQ(logic.recording().lineTexts(), std::vector<std::string>{"5;6;0;0"});
    EXPECT_TRUE(view.documentUnsaved) << "b.sav now holds the newer take";

    // A record over nothing leaves nothing to bring back: an older step no longer fits.
    logic.dispatch(Event::control(kClearButton));
    view.saveChoices = {SaveChoice::Discard};
    logic.dispatch(Event::recordToggle(true, kStartMs + 3000));
    logic.dispatch(Event::recordToggle(false, kStartMs + 3010));
    EXPECT_TRUE(view.undoAvailable);
    logic.dispatch(Event::recordToggle(true, kStartMs + 3020));
    EXPECT_FALSE(view.undoAvailable);
}

TEST_F(ProgramLogicTest, SaveAndExportsProposeTheRecordingsOwnFile) {
    view.openAnswers = {
        ChosenRecording{splitRecordingLines("5;6;0;0\r\n"), false, {}, "/music/melody.mid"}};
    logic.dispatch(Event::menu(kMenuOpen));
    logic.dispatch(Event::menu(kMenuSave));
    logic.dispatch(Event::menu(kMenuExportWav));
    logic.dispatch(Event::menu(kMenuExportMidi));
    // A MIDI file opened is sung, not overwritten by a recording's lines.
    EXPECT_EQ(
        view.proposedNames,
        (std::vector<std::string>{"/music/melody.sav", "/music/melody.wav", "/music/melody.mid"}));
    view.proposedNames.clear();
    view.saveAnswers = {"/other.dir/take"};
    logic.dispatch(Event::menu(kMenuSave));
    logic.dispatch(Event::menu(kMenuSave));
    EXPECT_EQ(view.proposedNames,
              (std::vector<std::string>{"/music/melody.sav", "/other.dir/take.sav"}));
}

TEST(ProgramLogicStart, AFileOpenedBeforeTheFirstTickIsNotPlayed) {
    FakeView view;
    ProgramLogic logic{view};
    logic.start();
    view.openAnswers = {
        ChosenRecording{splitRecordingLines("5;6;0;0\r\n7;8;0;10\r\n"), false, {}, "/d/tune.sav"}};
    logic.dispatch(Event::menu(kMenuOpen));
    view.dots.clear();
    for (int32_t tick = 1; tick <= 100; ++tick) {
        logic.dispatch(Event::tick(tick));
    }
    EXPECT_TRUE(view.dots.empty()) << "no playback without play";
    EXPECT_FALSE(logic.ticksRunning());
    EXPECT_TRUE(logic.voice().released());
}

} // namespace
} // namespace doodle

namespace doodle {
namespace {

// The samples of a float WAV export, after its header.
std::vector<float> wavSamples(const std::vector<uint8_t>& bytes) {
    std::vector<float> samples((bytes.size() - kFloatWavHeaderBytes) / kFloatWavFrameBytes);
    std::memcpy(samples.data(), bytes.data() + kFloatWavHeaderBytes,
                samples.size() * kFloatWavFrameBytes);
    return samples;
}

float peakOf(const std::vector<float>& samples) {
    float peak = 0.0f;
    for (const float sample : samples) {
        peak = std::max(peak, std::fabs(sample));
    }
    return peak;
}

// A WAV export reports every block and stops at once when its progress says so; it knows how
// loud it is, and normalizing puts its peak at -1 dBFS. A MIDI export has no loudness.
TEST(ExportRender, ProgressCanStopItAndLoudnessLeadsNormalizing) {
    const Recording loud{"240;100;0;0",   "240;100;0;150", "230;40;0;164",
                         "200;150;1;178", "20;180;0;300",  "60;120;0;313"};
    int64_t calls = 0;
    int64_t lastDone = 0;
    int64_t lastTotal = 0;
    std::optional<RenderedExport> wav =
        renderExport(FileKind::Wav, loud, {}, [&](int64_t done, int64_t total) {
            ++calls;
            lastDone = done;
            lastTotal = total;
            return true;
        });
    ASSERT_TRUE(wav.has_value());
    const std::vector<float> samples = wavSamples(wav->bytes);
    EXPECT_EQ(lastDone, static_cast<int64_t>(samples.size()));
    EXPECT_EQ(lastTotal, lastDone);
    EXPECT_EQ(calls, (lastTotal + static_cast<int64_t>(kRenderBlockFrames) - 1) /
                         static_cast<int64_t>(kRenderBlockFrames));
    ASSERT_GT(calls, 2);
    EXPECT_EQ(wav->loudness.peak, peakOf(samples));
    EXPECT_TRUE(passesFullScale(*wav));
    EXPECT_EQ(wav->loudness.pastFullScale,
              std::count_if(samples.begin(), samples.end(),
                            [](float sample) { return std::fabs(sample) > kFullScale; }));

    normalizeWavExport(*wav);
    const std::vector<float> normalized = wavSamples(wav->bytes);
    EXPECT_EQ(wav->loudness.peak, peakOf(normalized));
    EXPECT_NEAR(decibelsOf(peakOf(normalized)), kNormalizedPeakDbfs, 1e-5);
    EXPECT_FALSE(passesFullScale(*wav));
    const double gain = normalizingGain(peakOf(samples));
    for (std::size_t n = 0; n < samples.size(); ++n) {
        ASSERT_EQ(normalized[n], scaledSample(samples[n], gain)) << n;
    }
    EXPECT_EQ(normalizingGain(0.0f), 1.0) << "a silent sound stays silent";

    int64_t stopCalls = 0;
    EXPECT_FALSE(renderExport(FileKind::Wav, loud, {}, [&](int64_t, int64_t) {
                     ++stopCalls;
                     return false;
                 }).has_value());
    EXPECT_EQ(stopCalls, 1) << "the render stopped after the block that asked";

    const std::optional<RenderedExport> midi = renderExport(FileKind::Midi, loud, {});
    ASSERT_TRUE(midi.has_value());
    EXPECT_FALSE(passesFullScale(*midi));
    EXPECT_EQ(midi->loudness.peak, 0.0f);
}

} // namespace
} // namespace doodle
