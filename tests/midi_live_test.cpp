// MIDI while playing, as the program handles it whatever its host: input becomes points as a
// drag makes them, and the drawing or a playback goes out as the MIDI export writes it.
#include "files/RecordingFiles.h"
#include "mapping/MidiMap.h"
#include "mapping/PitchMap.h"
#include "program/MidiInput.h"
#include "program/ProgramLogic.h"
#include "recording/MidiExport.h"
#include "recording/MidiFile.h"
#include "voice/Synth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace doodle {
namespace {

const std::string kExamplesFolder = DC_EXAMPLES_DIR;

// A MIDI message as it went out, with the play tick (ms) it went out on.
struct TimedMessage {
    int32_t tick = 0;
    MidiMessage message{};
    bool operator==(const TimedMessage&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TimedMessage& timed) {
    return out << timed.tick << ": " << int{timed.message.status} << ' ' << int{timed.message.data1}
               << ' ' << int{timed.message.data2};
}

class MidiView final : public ProgramView {
public:
    void paintCanvas(const CanvasPaint& paint) override {
        for (const CanvasStep& step : paint) {
            if (step.kind == CanvasStep::Kind::Dots) {
                dots += step.dots.size();
            }
        }
    }
    void showNote(std::string_view name) override { note = name; }
    void setRecording(bool) override {}
    void setPlaying(bool down) override { playing = down; }
    void setPlayEnabled(bool) override {}
    void setGrid(bool, bool) override {}
    void setRootEnabled(bool) override {}
    void markVoiceType(VoiceType) override {}
    void markTuning(Tuning) override {}
    void markMidiInChannel(int32_t channel) override { markedChannel = channel; }
    void showMessage(std::string_view, std::string_view text) override {
        message = text;
        whileShown();
    }
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
    void resumeTicks() override {}
    void pauseTicks() override {}
    void quit() override {}
    void sendMidi(std::span<const MidiMessage> messages) override {
        for (const MidiMessage& sent : messages) {
            sentMessages.push_back({tick, sent});
        }
    }
    std::string midiStatus() const override { return status; }
    bool hostSingsMidiInput() const override { return hostSings; }
    void singMidiInputWith(const MidiInputControls& controls) override {
        reportedControls = controls;
    }

    std::size_t dots = 0;
    std::string note;
    bool playing = false;
    std::string message;
    std::optional<Recording> openAnswer;
    int32_t tick = 0; // the play tick being dispatched
    std::vector<TimedMessage> sentMessages;
    std::string status;
    int32_t markedChannel = -1; // none marked yet
    bool hostSings = false;
    MidiInputControls reportedControls{};
    std::function<void()> whileShown = [] {}; // runs while a message is open
};

MidiMessage noteOn(uint8_t note) {
    return {kMidiNoteOn, note, 90};
}
MidiMessage noteOff(uint8_t note) {
    return {kMidiNoteOff, note, 0};
}
MidiMessage controller(uint8_t number, uint8_t value) {
    return {kMidiControlChange, number, value};
}

class MidiLiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        logic.start();
        logic.dispatch(Event::tick(1));
    }
    // One delivery: the messages, all at nowMs, then its end.
    void deliver(std::initializer_list<MidiMessage> messages, int32_t nowMs) {
        for (const MidiMessage& message : messages) {
            logic.dispatch(Event::midiIn(message, nowMs));
        }
        logic.dispatch(Event::midiInEnd());
    }
    std::ptrdiff_t volumeMessagesSent() const {
        return std::count_if(view.sentMessages.begin(), view.sentMessages.end(),
                             [](const TimedMessage& sent) {
                                 return sent.message.status == kMidiControlChange &&
                                        sent.message.data1 == kMidiCcVolume;
                             });
    }
    double centsFrom(double pitchHz, double midiNote) const {
        return 100.0 * (midiNoteOfPitch(pitchHz) - midiNote);
    }

    MidiView view;
    ProgramLogic logic{view};
};

// A C major melody in Major on C: under Classic, whose scale is concert A-flat major, D, E, A and
// B have no strip of their own and sound a semitone low (Db, Eb, Ab, Bb: the lower of two equally
// near strips); under Concert every note sounds as played, on the strip that names it.
TEST_F(MidiLiveTest, UnderConcertTuningACMajorMelodyKeepsEveryNote) {
    logic.dispatch(Event::control(kMajorOption));
    constexpr std::array<uint8_t, 8> kMelody{60, 62, 64, 65, 67, 69, 71, 72}; // C4 up to C5
    constexpr std::array<std::string_view, 8> kNames{"C", "D", "E", "F", "G", "A", "B", "C"};
    constexpr int32_t kNoteMs = 100;
    int32_t nowMs = 1000;
    const auto sing = [&](uint8_t note) {
        deliver({noteOn(note)}, nowMs += kNoteMs);
        const double cents = centsFrom(logic.voice().pitchHz(), note);
        deliver({noteOff(note)}, nowMs += kNoteMs);
        return cents;
    };
    std::vector<uint8_t> offClassic;
    for (const uint8_t note : kMelody) {
        const double cents = sing(note);
        if (std::fabs(cents) > 1.0) {
            offClassic.push_back(note);
            EXPECT_NEAR(cents, -100.0, 1.0) << int{note};
        }
    }
    EXPECT_EQ(offClassic, (std::vector<uint8_t>{62, 64, 69, 71}));

    logic.dispatch(Event::menu(kMenuTuningConcert));
    for (std::size_t i = 0; i < kMelody.size(); ++i) {
        deliver({noteOn(kMelody[i])}, nowMs += kNoteMs);
        EXPECT_NEAR(centsFrom(logic.voice().pitchHz(), kMelody[i]), 0.0, 0.01) << int{kMelody[i]};
        EXPECT_EQ(view.note, kNames[i]);
        deliver({noteOff(kMelody[i])}, nowMs += kNoteMs);
    }
}

TEST_F(MidiLiveTest, AKeyboardSingsDrawsAndRecordsAsADragWouldWithLastNotePriority) {
    logic.dispatch(Event::control(kMajorOption)); // root C: MIDI note 32 and its octaves
    constexpr int32_t kStartMs = 1000;
    logic.dispatch(Event::recordToggle(true, kStartMs));
    deliver({noteOn(44)}, kStartMs + 10); // C
    EXPECT_FALSE(logic.voice().released());
    EXPECT_NEAR(centsFrom(logic.voice().pitchHz(), 44), 0.0, 1.0);
    EXPECT_EQ(view.note, "C");
    deliver({noteOn(48)}, kStartMs + 100); // E over the held C
    EXPECT_NEAR(centsFrom(logic.voice().pitchHz(), 48), 0.0, 1.0);
    EXPECT_EQ(view.note, "E");
    deliver({noteOff(48)}, kStartMs + 200); // back to the C still held
    EXPECT_NEAR(centsFrom(logic.voice().pitchHz(), 44), 0.0, 1.0);
    deliver({controller(kMidiVowelController, 127)}, kStartMs + 250); // the top row
    // Legato: a note off and the next note on at the same time make no release.
    deliver({noteOff(44), noteOn(51)}, kStartMs + 300); // G
    EXPECT_EQ(view.note, "G");
    deliver({noteOff(51)}, kStartMs + 400);
    EXPECT_TRUE(logic.voice().released());
    EXPECT_EQ(view.note, "");
    logic.dispatch(Event::recordToggle(false, kStartMs + 500));

    const Scale scale = buildScale(ScaleMode::Major, 0, Scale{});
    const int32_t xC = xForPitch(44, ScaleMode::Major, scale, Tuning::Classic);
    const int32_t xE = xForPitch(48, ScaleMode::Major, scale, Tuning::Classic);
    const int32_t xG = xForPitch(51, ScaleMode::Major, scale, Tuning::Classic);
    const int32_t yMiddle = yForController(kMidiInitialVowelValue);
    const std::vector<std::string> expected{
        formatGestureLine({xC, yMiddle, 0, 10}),  formatGestureLine({xE, yMiddle, 0, 100}),
        formatGestureLine({xC, yMiddle, 0, 200}), formatGestureLine({xC, 0, 0, 250}),
        formatGestureLine({xG, 0, 0, 300}),       formatGestureLine({xG, 0, 1, 400}),
    };
    EXPECT_EQ(logic.recording().lineTexts(), expected);
    EXPECT_EQ(logic.drawing().ink.size(), expected.size() - 1); // a release draws no dot
    EXPECT_EQ(view.dots, expected.size() - 1);

    // While the recording plays back, a key changes nothing; afterwards it sings again.
    logic.dispatch(Event::playToggle(true));
    view.tick = 1;
    logic.dispatch(Event::tick(1));
    deliver({noteOn(56)}, kStartMs + 600);
    EXPECT_EQ(logic.recording().lineTexts(), expected);
    EXPECT_EQ(logic.drawing().ink.size(), expected.size() - 1);
}

TEST_F(MidiLiveTest, AKeyLetGoWhileADialogIsOpenDoesNotStick) {
    deliver({noteOn(57)}, 10);
    view.whileShown = [&] {
        deliver({noteOn(60)}, 20); // pressed and let go while About is open: no point
        EXPECT_EQ(view.note, "");
        deliver({noteOff(60), noteOff(57)}, 30);
    };
    logic.dispatch(Event::menu(kMenuAbout));
    EXPECT_TRUE(logic.voice().released()) << "the key let go during the dialog still silences";
    view.whileShown = [] {};
    deliver({noteOn(62)}, 40);
    deliver({noteOff(62)}, 50);
    EXPECT_TRUE(logic.voice().released()) << "no key is left held";
}

TEST_F(MidiLiveTest, VolumeControllerScalesTheLiveVoiceWithoutAClick) {
    VoiceRenderer renderer(logic.voice(), VoiceOutput::Live);
    std::vector<float> out(8192);
    auto peakOf = [&](std::size_t from) {
        float peak = 0.0F;
        for (std::size_t i = from; i < out.size(); ++i) {
            peak = std::max(peak, std::fabs(out[i]));
        }
        return peak;
    };
    deliver({noteOn(57)}, 10);
    renderer.process(out.data(), out.size());
    const float fullPeak = peakOf(out.size() / 2);
    ASSERT_GT(fullPeak, 0.01F);

    deliver({controller(kMidiCcVolume, 0)}, 20);
    renderer.process(out.data(), out.size());
    EXPECT_EQ(peakOf(kVolumeLagSamples), 0.0F) << "silent once the level has moved";
    float largestStep = 0.0F;
    for (std::size_t i = 1; i < static_cast<std::size_t>(kVolumeLagSamples); ++i) {
        largestStep = std::max(largestStep, std::fabs(out[i] - out[i - 1]));
    }
    EXPECT_LT(largestStep, fullPeak / 4) << "the level slides down, it does not jump";

    deliver({controller(kMidiCcVolume, 127)}, 30);
    renderer.process(out.data(), out.size());
    EXPECT_NEAR(peakOf(out.size() / 2), fullPeak, fullPeak * 0.05F);
    EXPECT_FALSE(logic.voice().released()) << "the volume is not a note";
}

MidiMessage onChannel(MidiMessage message, int32_t channel) {
    message.status = static_cast<uint8_t>(message.status | (channel - 1));
    return message;
}

TEST_F(MidiLiveTest, TheInputChannelChoiceFiltersWhatSings) {
    EXPECT_EQ(logic.controls().midiInChannel, kMidiAllChannels);
    deliver({onChannel(noteOn(36), kMidiDrumChannel)}, 10);
    EXPECT_TRUE(logic.voice().released()) << "all channels but the drums'";
    deliver({onChannel(noteOn(57), 3)}, 20);
    EXPECT_NEAR(centsFrom(logic.voice().pitchHz(), 57), 0.0, 1.0);
    deliver({onChannel(controller(kMidiCcVolume, 0), kMidiDrumChannel)}, 30);
    EXPECT_EQ(volumeMessagesSent(), 0) << "nor the drums' controllers set the level";

    // A choice lets go of what the channels left held, and marks the view.
    logic.dispatch(Event::menu(menuIdOfMidiInChannel(2)));
    EXPECT_EQ(logic.controls().midiInChannel, 2);
    EXPECT_EQ(view.markedChannel, 2);
    EXPECT_TRUE(logic.voice().released());
    deliver({onChannel(noteOn(60), 1), onChannel(noteOn(62), 3)}, 40);
    EXPECT_TRUE(logic.voice().released()) << "other channels are not heard";
    deliver({onChannel(noteOn(60), 2)}, 50);
    deliver({onChannel(noteOff(60), 1)}, 60);
    EXPECT_FALSE(logic.voice().released()) << "another channel's note off cannot end it";
    deliver({onChannel(noteOff(60), 2)}, 70);
    EXPECT_TRUE(logic.voice().released());

    logic.dispatch(Event::menu(menuIdOfMidiInChannel(kMidiDrumChannel)));
    deliver({onChannel(noteOn(36), kMidiDrumChannel)}, 80);
    EXPECT_FALSE(logic.voice().released()) << "the drums' channel chosen is heard";
    logic.dispatch(Event::menu(menuIdOfMidiInChannel(kMidiAllChannels)));
    EXPECT_EQ(view.markedChannel, kMidiAllChannels);
    EXPECT_TRUE(logic.voice().released());
}

TEST_F(MidiLiveTest, TheSustainPedalHoldsTheVoiceAndTheRecordingReleasesWhereTheVoiceDoes) {
    logic.dispatch(Event::control(kMajorOption));
    constexpr int32_t kStartMs = 1000;
    logic.dispatch(Event::recordToggle(true, kStartMs));
    const auto step = [&](std::initializer_list<MidiMessage> messages, int32_t ms, bool released) {
        deliver(messages, kStartMs + ms);
        EXPECT_EQ(logic.voice().released(), released) << "at " << ms << " ms";
        // The recording's last line releases exactly when the voice is released.
        const Recording& recording = logic.recording();
        ASSERT_FALSE(recording.empty());
        EXPECT_EQ(recording.event(recording.size() - 1).released, released) << "at " << ms;
    };
    step({noteOn(44)}, 10, false);
    step({controller(kMidiCcSustain, 127)}, 20, false);
    step({noteOff(44)}, 30, false);
    step({controller(kMidiCcSustain, 0)}, 40, true);
    step({controller(kMidiCcSustain, 127), noteOn(48)}, 50, false);
    step({noteOff(48)}, 60, false);
    step({noteOn(48)}, 70, false); // struck again while the pedal holds it
    step({controller(kMidiCcSustain, 0)}, 80, false);
    step({noteOff(48)}, 90, true);
    logic.dispatch(Event::recordToggle(false, kStartMs + 100));

    const Scale scale = buildScale(ScaleMode::Major, 0, Scale{});
    const int32_t xC = xForPitch(44, ScaleMode::Major, scale, Tuning::Classic);
    const int32_t xE = xForPitch(48, ScaleMode::Major, scale, Tuning::Classic);
    const int32_t y = yForController(kMidiInitialVowelValue);
    EXPECT_EQ(logic.recording().lineTexts(),
              (std::vector<std::string>{
                  formatGestureLine({xC, y, 0, 10}), formatGestureLine({xC, y, 1, 40}),
                  formatGestureLine({xE, y, 0, 50}), formatGestureLine({xE, y, 1, 90})}));
    EXPECT_EQ(logic.drawing().ink.size(), 2U);
}

// The messages of a MIDI file's track, on their ticks (ms: one tick is one ms).
std::vector<TimedMessage> channelMessagesOf(const std::vector<uint8_t>& file) {
    std::string error;
    const std::optional<MidiFile> midi = MidiFile::read(std::as_bytes(std::span(file)), error);
    EXPECT_TRUE(midi) << error;
    std::vector<TimedMessage> messages;
    if (!midi) {
        return messages;
    }
    MidiTrackReader track = midi->track(0);
    while (const std::optional<MidiTrackEvent> event = track.next()) {
        if (event->kind == MidiTrackEvent::Kind::Channel) {
            messages.push_back({static_cast<int32_t>(event->tick), event->message});
        }
    }
    return messages;
}

// The pitch a synthesizer sounds after each message: (tick, fractional note), one entry per
// note on, bend or note off (NaN while silent), and the CC 74 values on their ticks.
struct Sounding {
    std::vector<std::pair<int32_t, double>> pitch;
    std::vector<std::pair<int32_t, int32_t>> vowel;
};
Sounding soundingOf(const std::vector<TimedMessage>& messages) {
    Sounding sounding;
    std::optional<int32_t> note;
    int32_t bend = 0;
    for (const TimedMessage& timed : messages) {
        const MidiMessage& m = timed.message;
        const auto kind = static_cast<uint8_t>(m.status & kMidiKindMask);
        if (kind == kMidiControlChange && m.data1 == kMidiVowelController) {
            sounding.vowel.emplace_back(timed.tick, m.data2);
            continue;
        }
        if (kind == kMidiNoteOn) {
            note = m.data1;
        } else if (kind == kMidiNoteOff) {
            note.reset();
        } else if (kind == kMidiPitchBend) {
            bend = (m.data1 | (m.data2 << kMidiDataBits)) - kMidiBendCentre;
        } else {
            continue;
        }
        const double pitch =
            note ? *note + bend * double{kMidiBendRangeSemitones} / kMidiBendSteps : NAN;
        // Of several changes on one tick a synthesizer sounds the last.
        if (!sounding.pitch.empty() && sounding.pitch.back().first == timed.tick) {
            sounding.pitch.back().second = pitch;
        } else {
            sounding.pitch.emplace_back(timed.tick, pitch);
        }
    }
    return sounding;
}

TEST_F(MidiLiveTest, PlaybackGoesOutAsTheExportWritesItInEveryScaleMode) {
    // The play clock hands every tick over, each with its own time, however busy the host.
    {
        for (const char* name : {"tune", "scale-run", "vowel-sweep"}) {
            for (const int32_t option :
                 {kUnrestrictedOption, kMajorOption, kMinorOption, kPentatonicOption}) {
                SCOPED_TRACE(std::string(name) + " in option " + std::to_string(option));
                MidiView out;
                ProgramLogic program(out);
                program.start();
                program.dispatch(Event::tick(1));
                program.dispatch(Event::control(option));
                program.dispatch(Event::rootNote(3));
                out.openAnswer = openRecordingFile(kExamplesFolder + "/" + name + ".sav");
                ASSERT_TRUE(out.openAnswer);
                program.dispatch(Event::menu(kMenuOpen));
                const std::vector<MidiMessage> opening = program.midiOutOpening();

                program.dispatch(Event::playToggle(true));
                for (out.tick = 1; out.playing; ++out.tick) {
                    program.dispatch(Event::tick(out.tick));
                }
                const RenderSettings& settings = program.controls().settings;
                const std::optional<std::vector<uint8_t>> file =
                    midiFileOf(program.recording(), settings,
                               *planRender(program.recording(), settings.playSpeed));
                ASSERT_TRUE(file);
                std::vector<TimedMessage> exported = channelMessagesOf(*file);

                // The file opens as an output is set up when it connects.
                std::vector<TimedMessage> live;
                for (const MidiMessage& message : opening) {
                    live.push_back({0, message});
                }
                live.insert(live.end(), out.sentMessages.begin(), out.sentMessages.end());
                if (option != kUnrestrictedOption) {
                    EXPECT_EQ(live, exported); // the same notes on the same ms
                } else {
                    // Without look-ahead the notes may differ, the sounding pitch may not.
                    const Sounding liveSounding = soundingOf(live);
                    const Sounding exportSounding = soundingOf(exported);
                    EXPECT_EQ(liveSounding.vowel, exportSounding.vowel);
                    ASSERT_EQ(liveSounding.pitch.size(), exportSounding.pitch.size());
                    for (std::size_t i = 0; i < liveSounding.pitch.size(); ++i) {
                        EXPECT_EQ(liveSounding.pitch[i].first, exportSounding.pitch[i].first);
                        const double a = liveSounding.pitch[i].second;
                        const double b = exportSounding.pitch[i].second;
                        EXPECT_TRUE((std::isnan(a) && std::isnan(b)) || std::fabs(a - b) < 0.01)
                            << "at " << liveSounding.pitch[i].first << ": " << a << " vs " << b;
                    }
                }
            }
        }
    }
}

TEST_F(MidiLiveTest, TheOutputLevelGoesOutAsChannelVolumeAndTheFileSaysFullLevel) {
    const MidiMessage fullLevel = controller(kMidiCcVolume, kMidiFullVolume);
    std::vector<MidiMessage> opening = logic.midiOutOpening();
    EXPECT_EQ(std::count(opening.begin(), opening.end(), fullLevel), 1);

    deliver({controller(kMidiCcVolume, 64)}, 10);
    deliver({controller(kMidiCcVolume, 64), noteOn(57)}, 20); // unchanged: not sent again
    ASSERT_FALSE(view.sentMessages.empty());
    EXPECT_EQ(view.sentMessages[0].message, controller(kMidiCcVolume, 64));
    EXPECT_EQ(volumeMessagesSent(), 1);
    EXPECT_EQ(view.sentMessages.back().message.status, kMidiNoteOn) << "then the note";
    opening = logic.midiOutOpening();
    EXPECT_EQ(std::count(opening.begin(), opening.end(), controller(kMidiCcVolume, 64)), 1)
        << "an output connected now starts at the level";

    // The file is sung at the voice's own level, whatever the live level.
    Recording recording;
    recording.append({120, 100, 0, 0});
    recording.append({120, 100, 1, 100});
    const RenderSettings settings{};
    const std::vector<TimedMessage> file =
        channelMessagesOf(*midiFileOf(recording, settings, *planRender(recording, 1.0)));
    EXPECT_EQ(std::count(file.begin(), file.end(), TimedMessage{0, fullLevel}), 1);
}

TEST_F(MidiLiveTest, AVoiceChangeSendsItsProgramAndAboutShowsTheHostsMidiLine) {
    logic.dispatch(Event::menu(kMenuType2));
    ASSERT_EQ(view.sentMessages.size(), 1U);
    EXPECT_EQ(view.sentMessages[0].message,
              (MidiMessage{kMidiProgramChange, static_cast<uint8_t>(kMidiProgramType2), 0}));
    EXPECT_EQ(logic.midiOutOpening().back(), view.sentMessages[0].message);

    view.status = "MIDI: no JACK server";
    logic.dispatch(Event::menu(kMenuAbout));
    EXPECT_NE(view.message.find("\n\nMIDI: no JACK server"), std::string::npos) << view.message;
}

TEST_F(MidiLiveTest, AnOutputConnectedMidNoteGetsTheSoundingNote) {
    deliver({controller(kMidiVowelController, 20), noteOn(58)}, 10); // between two columns: bent
    std::vector<MidiMessage> opening = logic.midiOutOpening();
    const auto lastSent = [this](uint8_t status) {
        const auto found = std::find_if(
            view.sentMessages.rbegin(), view.sentMessages.rend(),
            [status](const TimedMessage& sent) { return sent.message.status == status; });
        return found == view.sentMessages.rend() ? MidiMessage{} : found->message;
    };
    ASSERT_GE(opening.size(), 3U);
    EXPECT_EQ(opening.back(), lastSent(kMidiNoteOn)) << "the note, as it went out";
    EXPECT_EQ(opening[opening.size() - 2], lastSent(kMidiPitchBend)) << "at its bend";
    EXPECT_EQ(opening[opening.size() - 3], lastSent(kMidiControlChange)) << "and its vowel";

    deliver({noteOff(58)}, 20);
    opening = logic.midiOutOpening();
    EXPECT_EQ(std::count_if(opening.begin(), opening.end(),
                            [](const MidiMessage& m) { return m.status == kMidiNoteOn; }),
              0)
        << "nothing sounds after the release";
}

// A host whose audio callback sings MIDI input (MidiVoice, with the controls the program
// reports) sounds, draws and records exactly what the program does when it sings the input
// itself: the same samples, the same ink and the same recording.
TEST_F(MidiLiveTest, ACallbackThatSingsMidiInputSoundsDrawsAndRecordsAsTheProgram) {
    MidiView hostView;
    hostView.hostSings = true;
    ProgramLogic host{hostView};
    host.start();
    host.dispatch(Event::tick(1));
    MidiVoice callback;

    VoiceRenderer programSound{logic.voice()};
    VoiceRenderer hostSound{host.voice(), VoiceOutput::Exact, &callback.voice()};
    constexpr std::size_t kFramesPerStep = 441; // 10 ms
    std::vector<float> programSamples(kFramesPerStep);
    std::vector<float> hostSamples(kFramesPerStep);
    std::size_t differing = 0;
    const auto both = [&](const Event& event) {
        logic.dispatch(event);
        host.dispatch(event);
        callback.setControls(hostView.reportedControls);
    };
    const auto step = [&](std::initializer_list<MidiMessage> messages, int32_t nowMs) {
        for (const MidiMessage& message : messages) {
            logic.dispatch(Event::midiIn(message, nowMs));
            host.dispatch(Event::midiIn(message, nowMs));
            callback.feed(message, nowMs);
        }
        logic.dispatch(Event::midiInEnd());
        host.dispatch(Event::midiInEnd());
        callback.flush();
        programSound.process(programSamples.data(), kFramesPerStep);
        hostSound.process(hostSamples.data(), kFramesPerStep);
        differing += programSamples != hostSamples ? 1 : 0;
    };

    constexpr int32_t kStartMs = 1000;
    both(Event::recordToggle(true, kStartMs));
    both(Event::control(kMajorOption));
    both(Event::rootNote(2));
    step({noteOn(50)}, kStartMs + 10);
    step({controller(kMidiVowelController, 100), noteOn(54)}, kStartMs + 20);
    step({controller(kMidiCcVolume, 80), {kMidiPitchBend, 0, 80}}, kStartMs + 30);
    step({noteOff(54)}, kStartMs + 40);
    step({controller(kMidiCcSustain, 127), noteOff(50)}, kStartMs + 50);
    step({noteOn(57)}, kStartMs + 60);
    step({noteOff(57), controller(kMidiCcSustain, 0)}, kStartMs + 70);
    step({}, kStartMs + 80); // the fade-out
    both(Event::menu(kMenuTuningConcert));
    step({noteOn(52)}, kStartMs + 85);
    both(Event::control(kUnrestrictedOption));
    step({noteOn(45), noteOn(9)}, kStartMs + 90); // a drum's note is not heard
    step({{kMidiNoteOn | 9, 60, 100}}, kStartMs + 100);
    both(Event::menu(menuIdOfMidiInChannel(2))); // lets go of the held note
    step({noteOn(47)}, kStartMs + 110);          // channel 1: not heard now
    step({{kMidiNoteOn | 1, 62, 100}}, kStartMs + 120);
    step({{kMidiNoteOff | 1, 62, 0}}, kStartMs + 130);
    step({}, kStartMs + 140);
    both(Event::recordToggle(false, kStartMs + 150));

    EXPECT_EQ(differing, 0U) << "steps whose samples differ";
    EXPECT_EQ(host.recording().lineTexts(), logic.recording().lineTexts());
    EXPECT_EQ(host.drawing().ink, logic.drawing().ink);
    EXPECT_EQ(hostView.dots, view.dots);
    EXPECT_EQ(hostView.note, view.note);
    EXPECT_EQ(hostView.sentMessages, view.sentMessages) << "MIDI out";
    EXPECT_GE(logic.recording().size(), 8U) << "the steps were heard";
    // The host's own voice was never asked to sing MIDI input.
    EXPECT_EQ(host.voice().pitchHz(), 0.0);
    EXPECT_EQ(callback.voice().pitchHz(), logic.voice().pitchHz());
}

} // namespace
} // namespace doodle
