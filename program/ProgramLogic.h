#pragma once

#include "mapping/DrawingSurface.h"
#include "mapping/MapPoint.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "program/Event.h"
#include "program/MidiInput.h"
#include "program/ProgramView.h"
#include "recording/ControlSettings.h"
#include "recording/MidiExport.h"
#include "recording/MidiPerformance.h"
#include "recording/OfflineRender.h"
#include "recording/PlaySpeed.h"
#include "recording/Player.h"
#include "recording/Recorder.h"
#include "recording/Recording.h"
#include "voice/VoiceParams.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace doodle {

// What the controls show, as the program set them or the user's events told it.
struct ControlStates {
    bool recordDown = false;
    bool playDown = false;
    bool playEnabled = true;
    bool gridChecked = false;
    bool gridEnabled = true; // enabled at start although Unrestricted is selected
    bool rootEnabled = false;
    // The MIDI input's channel: kMidiAllChannels or 1..16.
    int32_t midiInChannel = kMidiAllChannels;
    // The scale, root, tuning, voice type and play speed: what a playback and an export read.
    RenderSettings settings{};
};

// The program itself, without a window: its state and the one dispatch of every event in the
// fixed order of its branches. It shows and asks through the view, owns the voice parameters the
// audio output renders, and reads no clock: events bring their times and tick counts.
class ProgramLogic {
public:
    explicit ProgramLogic(ProgramView& view);
    ProgramLogic(const ProgramLogic&) = delete;
    ProgramLogic& operator=(const ProgramLogic&) = delete;

    // The state at start-up: the ticks run, so that the first tick finds nothing to play and
    // ends playback, which releases the voice and pauses the ticks.
    void start();

    // Runs every branch that the event matches, in their fixed order. While a dialog, About or
    // Help is open, and after a close, events are dropped.
    void dispatch(const Event& event);

    // Ink kept from an earlier run, shown again: it becomes the ink list and the drawing area
    // is repainted with it (and the grid when Grid is ticked). For a host that keeps the
    // drawing between runs, after it has restored the recording and the controls through
    // events; the recording and the voice do not change.
    void restoreInk(std::vector<InkPoint> ink);

    // A kept or linked drawing's settings, chosen as a person would choose them one after the
    // other: voice type, tuning, speed, scale, root, then Grid, each only when it differs from
    // what the controls show, so that the program's own rules decide (Grid ticks only in a scale
    // mode). Then its ink, when given, as restoreInk.
    void restore(const ControlSettings& settings, std::optional<std::vector<InkPoint>> ink);

    // The controls' settings as they are now (grid: Grid's tick).
    ControlSettings settings() const;

    // The messages that set up a MIDI output just connected, as the MIDI export's file begins:
    // the bend range, the live output level as channel volume and the current voice type's
    // program; then, mid-note, the note sounding with its vowel and bend.
    std::vector<MidiMessage> midiOutOpening() const;

    VoiceParams& voice() { return m_voice; }
    const Recording& recording() const { return m_recording; }
    const DrawingState& drawing() const { return m_drawing; }
    const ControlStates& controls() const { return m_controls; }
    bool ticksRunning() const { return m_ticksRunning; }
    bool modalStepOpen() const { return m_modalStepOpen; }
    // The recording holds lines that no Save has stored.
    bool unsaved() const { return m_unsaved; }
    bool closeRequested() const { return m_closeRequested; }

private:
    // A drawing-area event, or a point of MIDI input as one; `sing` false leaves the voice to
    // the host's audio callback, which sang the point already.
    void onDrawingEvent(const Event& event, bool sing = true);
    void onMidiIn(const Event& event);
    void onMidiPoint(const std::optional<GestureLine>& point);
    // CC 7 in: the live voice's level, which goes out as CC 7 when it changes.
    void setOutputLevel(uint8_t volumeValue);
    void chooseMidiInChannel(int32_t channel);
    MidiInputControls midiInputControls() const;
    // Tells the view how MIDI input sings now, for a host that sings it in its audio callback.
    void reportMidiInput();
    void sendMidiPoint(double pitchHz, int32_t y);
    void sendMidiRelease();
    void sendMidiEnd();
    void sendMidiOut(); // hands m_midiOutMessages to the view and empties it
    void startRecording(std::optional<int32_t> nowMs);
    void stopRecording();
    void appendGestureLine(int32_t released, std::optional<int32_t> nowMs);
    void startPlayback();
    void stopPlayback();
    void playbackTick(int32_t tickCount);
    void showNote(std::optional<int32_t> noteIndex);
    void clearNote();
    void setGrid(bool checked, bool enabled);
    void repaintCanvas(bool withGrid);
    void refreshMapControls();
    void onScaleOptionChosen(ScaleMode mode);
    void onUnrestrictedChosen();
    void refuseGridInUnrestricted();
    void showOrHideGrid();
    void onMenu(int32_t id);
    void saveRecording();
    void exportRecording(FileKind kind);
    void openRecording();
    void showAbout();
    void showHelp();
    // "Save changes?" when unsaved lines are about to go; true when they may go (saved or
    // discarded), false when the person cancelled or the save failed.
    bool unsavedLinesMayGo();
    bool saveRecordingTo(const std::string& destination);
    void showStoreResult(const StoreResult& result);
    void markUnsaved(bool unsaved);
    void setDocumentName(std::string name);
    // Keeps the ink, and the recording when it is about to be replaced, for Undo; with nothing
    // to keep, Undo has nothing to bring back.
    void keepForUndo(bool withRecording);
    // Brings back what the last clear, record or Open took, keeping what is shown for the next
    // Undo: Undo twice is where it started.
    void undo();
    std::string proposedName(FileKind kind) const;

    ProgramView& m_view;
    ControlStates m_controls{};
    VoiceParams m_voice{};       // shared with the audio callback
    Recording m_recording{};     // one gesture line per handled drawing event
    Recorder m_recorder{};       // when the recording began
    DrawingState m_drawing{};    // current point and the ink list
    MapControls m_mapControls{}; // what the maps read: the settings' scale, built once
    VowelWorking m_vowel{};      // the vowel map's values, kept between points
    Player m_player{m_recording, m_voice, m_vowel}; // plays the recording on the ticks
    MidiInput m_midiIn{}; // MIDI input as points, mapped as the controls map drags
    // The live voice's level as channel volume, 0..127 (kMidiFullVolume: the voice's own).
    uint8_t m_outputVolumeValue = kMidiFullVolume;
    MidiLiveWriter m_midiOut{};                   // the sounding points as MIDI output
    std::vector<MidiMessage> m_midiOutMessages{}; // not yet handed to the view
    bool m_ticksRunning = false;                  // between resumeTicks and pauseTicks
    bool m_unsaved = false;                       // the recording holds lines no Save has stored
    std::string m_documentName{}; // the file the recording was opened from or saved to
    // What the last clear, record or Open replaced, or what the last Undo took, for Undo: the
    // ink, and the recording with its file and saved state unless only the ink went.
    struct UndoState {
        std::vector<InkPoint> ink{};
        std::optional<Recording> recording{};
        std::string documentName{};
        bool unsaved = false;
    };
    std::optional<UndoState> m_undo{};
    // Takes the ink, and the recording with its file and saved state, out of what is shown.
    UndoState takeForUndo(bool withRecording);
    bool m_modalStepOpen = false; // a dialog, About or Help is open: events are dropped
    bool m_closeRequested = false;
};

} // namespace doodle
