#include "program/ProgramLogic.h"

#include "program/Captions.h"
#include "recording/RecordingFile.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace doodle {
namespace {

constexpr int32_t kLastRootIndex = static_cast<int32_t>(noteNames.size()) - 1;

// The released field of a recorded line.
constexpr int32_t kSoundingLine = 0;
constexpr int32_t kReleaseLine = 1;

// Raises the "a dialog is open" flag for its lifetime: events that reach the dispatch meanwhile
// are dropped.
class ModalStep {
public:
    explicit ModalStep(bool& open) : m_open(open) { m_open = true; }
    ~ModalStep() { m_open = false; }
    ModalStep(const ModalStep&) = delete;
    ModalStep& operator=(const ModalStep&) = delete;

private:
    bool& m_open;
};

// A dot for every line of a recording, where the line's point lies (unclamped).
std::vector<InkPoint> inkOf(const Recording& recording) {
    std::vector<InkPoint> ink;
    ink.reserve(recording.size());
    for (std::size_t i = 0; i < recording.size(); ++i) {
        const GestureEvent event = recording.event(i);
        ink.push_back({event.x, event.y});
    }
    return ink;
}

bool isControl(const Event& event, int32_t id) {
    return event.kind == EventKind::Control && event.id == id;
}

} // namespace

ProgramLogic::ProgramLogic(ProgramView& view) : m_view(view) {}

void ProgramLogic::start() {
    m_ticksRunning = true;
    m_view.resumeTicks();
}

void ProgramLogic::dispatch(const Event& event) {
    if (m_closeRequested) {
        return; // ticks already on their way behind the close find the program ending
    }
    const bool midiIn = event.kind == EventKind::MidiIn || event.kind == EventKind::MidiInEnd;
    if (m_modalStepOpen) {
        // A dialog, the About box or the Help window runs: the program reacts to nothing
        // else, closing the main window included, until it is closed. MIDI input still keeps
        // track of the keys held, and a release still silences, so that no note sticks.
        if (midiIn) {
            onMidiIn(event);
        }
        return;
    }
    // A press, move or release in the drawing area: sing, draw and record the point.
    if (isControl(event, kDrawingArea)) {
        onDrawingEvent(event);
    }
    // MIDI input: its notes, bends and vowel controllers become points, as a drag makes them.
    if (midiIn) {
        onMidiIn(event);
    }
    // Record toggle: a recording starts afresh or ends.
    if (isControl(event, kRecordToggle)) {
        if (event.checked) {
            startRecording(event.nowMs);
        } else {
            stopRecording();
        }
    }
    // Play toggle: playback starts from the first line or ends early.
    if (isControl(event, kPlayToggle)) {
        if (event.checked) {
            startPlayback();
        } else {
            stopPlayback();
        }
    }
    // Clear: the ink and the note go; a ticked grid stays.
    if (isControl(event, kClearButton)) {
        clearNote();
        m_drawing.ink.clear();
        repaintCanvas(m_controls.gridChecked);
    }
    // Speed slider: the speed of this and every later playback.
    if (isControl(event, kSpeedSlider)) {
        m_controls.settings.playSpeed = playSpeedFromTenths(
            std::clamp(event.speedTenths, kMinPlaySpeedTenths, kMaxPlaySpeedTenths));
    }
    // Major or Minor: the scale, the root list and Grid follow.
    if (isControl(event, kMajorOption)) {
        onScaleOptionChosen(ScaleMode::Major);
    }
    if (isControl(event, kMinorOption)) {
        onScaleOptionChosen(ScaleMode::Minor);
    }
    // Root list: the scale moves to the new root; the grid does not depend on it.
    if (isControl(event, kRootNoteCombo) && event.rootIndex >= 0 &&
        event.rootIndex <= kLastRootIndex) {
        m_controls.settings.rootIndex = event.rootIndex;
        refreshMapControls();
    }
    // Pentatonic, as Major and Minor.
    if (isControl(event, kPentatonicOption)) {
        onScaleOptionChosen(ScaleMode::Pentatonic);
    }
    // Grid, tested before Unrestricted: a tick while Unrestricted is selected is refused.
    if (isControl(event, kGridCheckBox)) {
        m_controls.gridChecked = event.checked;
        refuseGridInUnrestricted();
    }
    // Unrestricted: no scale, so no root list, no Grid and no note.
    if (isControl(event, kUnrestrictedOption)) {
        onUnrestrictedChosen();
    }
    // Grid again, after Unrestricted: the area shows the box's tick.
    if (isControl(event, kGridCheckBox)) {
        showOrHideGrid();
    }
    // Menu: a running playback ends first, then the item's own action.
    if (event.kind == EventKind::Menu) {
        onMenu(event.id);
    }
    // Ticker: the next step of a running playback.
    if (event.kind == EventKind::Ticker) {
        playbackTick(event.tickCount);
    }
    if (event.kind == EventKind::Close) {
        m_closeRequested = true;
        m_view.quit();
    }
}

void ProgramLogic::restoreInk(std::vector<InkPoint> ink) {
    m_drawing.ink = std::move(ink);
    repaintCanvas(m_controls.gridChecked);
}

void ProgramLogic::onDrawingEvent(const Event& event) {
    switch (handleDrawingEvent(event.pointer, event.x, event.y, event.buttons, m_controls.playDown,
                               m_drawing)) {
    case DrawingOutcome::Nothing:
        break;
    case DrawingOutcome::Point:
        appendGestureLine(kSoundingLine, event.nowMs);
        showNote(m_player.soundPoint(m_drawing.pointX, m_drawing.pointY, m_mapControls));
        sendMidiPoint(m_drawing.pointY);
        m_view.paintCanvas(oneDot(m_drawing.ink.back()));
        break;
    case DrawingOutcome::Release:
        m_player.release();
        sendMidiRelease();
        appendGestureLine(kReleaseLine, event.nowMs);
        clearNote();
        break;
    }
}

void ProgramLogic::onMidiIn(const Event& event) {
    if (event.kind == EventKind::MidiInEnd) {
        onMidiPoint(m_midiIn.flush());
        return;
    }
    const MidiMessage& message = event.midi;
    if ((message.status & kMidiKindMask) == kMidiControlChange && message.data1 == kMidiCcVolume) {
        setVolume(m_voice, static_cast<double>(message.data2) / kMidiMaxDataValue);
        return;
    }
    // A message whose time could not be read belongs to the moment before it.
    if (event.nowMs) {
        m_midiInMs = *event.nowMs;
    }
    onMidiPoint(m_midiIn.feed(message, m_midiInMs));
}

void ProgramLogic::onMidiPoint(const std::optional<GestureLine>& point) {
    if (!point) {
        return;
    }
    // As a drag: the point is drawn, sung and recorded at the time its moment came in, and
    // ignored while playback runs (a release then would silence the playback). While a dialog
    // is open only a release acts.
    const bool released = point->released != 0;
    if (m_controls.playDown || (m_modalStepOpen && !released)) {
        return;
    }
    onDrawingEvent(Event::pointerEvent(released ? PointerAction::LeftRelease : PointerAction::Move,
                                       point->x, point->y, released ? 0 : kLeftButtonBit,
                                       point->elapsedMs));
}

std::vector<MidiMessage> ProgramLogic::midiOutOpening() const {
    const auto opening = midiOpeningMessages(midiProgramFor(m_controls.settings.voiceType));
    return {opening.begin(), opening.end()};
}

void ProgramLogic::sendMidiPoint(int32_t y) {
    m_midiOut.sound({midiNoteOfSounding(m_voice.pitchHz()), vowelControllerValue(y)},
                    m_midiOutMessages);
    sendMidiOut();
}

void ProgramLogic::sendMidiRelease() {
    m_midiOut.release(m_midiOutMessages);
    sendMidiOut();
}

void ProgramLogic::sendMidiEnd() {
    m_midiOut.end(m_midiOutMessages);
    sendMidiOut();
}

void ProgramLogic::sendMidiOut() {
    if (!m_midiOutMessages.empty()) {
        m_view.sendMidi(m_midiOutMessages, m_midiPlayTick);
        m_midiOutMessages.clear();
    }
}

void ProgramLogic::startRecording(std::optional<int32_t> nowMs) {
    m_controls.recordDown = true;
    m_view.setRecording(true);
    clearNote();
    m_drawing.ink.clear();
    m_recorder.startRecording(m_recording, nowMs); // the old recording goes
    m_controls.playEnabled = false;
    m_view.setPlayEnabled(false);
    repaintCanvas(m_controls.gridChecked);
}

void ProgramLogic::stopRecording() {
    m_controls.recordDown = false;
    m_view.setRecording(false);
    m_controls.playEnabled = true;
    m_view.setPlayEnabled(true);
}

void ProgramLogic::appendGestureLine(int32_t released, std::optional<int32_t> nowMs) {
    // Only while the record toggle is down; the point is the current, clamped one.
    m_recorder.appendGestureLine(m_recording, m_controls.recordDown, m_drawing.pointX,
                                 m_drawing.pointY, released, nowMs);
}

void ProgramLogic::startPlayback() {
    m_controls.playDown = true;
    m_view.setPlaying(true);
    m_view.paintCanvas(wholeCanvas(false, m_controls.settings.scaleMode, {})); // white; the ink
                                                                               // stays for later
    m_player.start();
    sendMidiRelease();
    m_lastActingTick = 0;
    m_ticksRunning = true;
    m_view.resumeTicks(); // counts from 0 again
    setGrid(false, false);
}

void ProgramLogic::stopPlayback() {
    m_controls.playDown = false;
    m_view.setPlaying(false);
    m_ticksRunning = false;
    m_view.pauseTicks();
    m_player.stop();
    sendMidiEnd(); // as the MIDI export's file ends
    setGrid(m_controls.gridChecked, true);
}

void ProgramLogic::playbackTick(int32_t tickCount) {
    // A tick that was on its way when the ticks were paused does nothing. The very first tick
    // finds no line left and ends playback: ticks paused, voice released.
    if (!m_ticksRunning) {
        return;
    }
    // Most ticks play nothing: the map controls are gathered only for one that does.
    if (!m_player.acts(tickCount, m_controls.settings.playSpeed)) {
        return;
    }
    // The tick an uninterrupted play clock acts on: a tick handled late (the host busy) plays
    // the line late, but its MIDI keeps the line's own time.
    m_midiPlayTick =
        std::min(m_player.nextActingTick(m_lastActingTick, m_controls.settings.playSpeed)
                     .value_or(tickCount),
                 tickCount);
    m_lastActingTick = *m_midiPlayTick;
    const PlayedStep step = m_player.step(tickCount, m_controls.settings.playSpeed, m_mapControls);
    switch (step.action) {
    case PlaybackAction::None:
        break;
    case PlaybackAction::Release: // no dot; the note label keeps its name
        sendMidiRelease();
        break;
    case PlaybackAction::Stop:
        stopPlayback();
        break;
    case PlaybackAction::Sound:
        m_drawing.pointX = step.x;
        m_drawing.pointY = step.y;
        showNote(step.noteIndex);
        sendMidiPoint(step.y);
        const InkPoint dot{step.x, step.y};
        m_view.paintCanvas(oneDot(dot));
        break;
    }
    m_midiPlayTick.reset();
}

void ProgramLogic::showNote(std::optional<int32_t> noteIndex) {
    if (!noteIndex) {
        return; // Unrestricted leaves the label as it is
    }
    m_view.showNote(noteNames.at(static_cast<std::size_t>(*noteIndex)));
}

void ProgramLogic::clearNote() {
    m_view.showNote({});
}

void ProgramLogic::setGrid(bool checked, bool enabled) {
    m_controls.gridChecked = checked;
    m_controls.gridEnabled = enabled;
    m_view.setGrid(checked, enabled);
}

void ProgramLogic::repaintCanvas(bool withGrid) {
    m_view.paintCanvas(wholeCanvas(withGrid, m_controls.settings.scaleMode, m_drawing.ink));
}

void ProgramLogic::refreshMapControls() {
    m_mapControls = mapControlsFor(m_controls.settings);
    m_midiIn.setSettings({m_mapControls.scaleMode, m_mapControls.scale, {}});
    m_midiOut.setWholeNotes(m_mapControls.scaleMode != ScaleMode::Unrestricted);
}

void ProgramLogic::onScaleOptionChosen(ScaleMode mode) {
    m_controls.settings.scaleMode = mode;
    refreshMapControls();
    if (!m_controls.playDown) {
        setGrid(m_controls.gridChecked, true);
    }
    if (m_controls.gridChecked) {
        repaintCanvas(true);
    }
    m_controls.rootEnabled = true;
    m_view.setRootEnabled(true);
}

void ProgramLogic::onUnrestrictedChosen() {
    m_controls.settings.scaleMode = ScaleMode::Unrestricted;
    refreshMapControls();
    setGrid(false, false);
    m_controls.rootEnabled = false;
    m_view.setRootEnabled(false);
    clearNote();
    if (!m_controls.playDown) {
        repaintCanvas(false); // removes any grid
    }
}

void ProgramLogic::refuseGridInUnrestricted() {
    if (m_controls.settings.scaleMode == ScaleMode::Unrestricted) {
        setGrid(false, false);
    }
}

void ProgramLogic::showOrHideGrid() {
    if (m_controls.gridChecked) {
        // Over the present picture, playback's dots included; the ink comes back on top.
        m_view.paintCanvas(gridOverCanvas(m_controls.settings.scaleMode, m_drawing.ink));
    } else {
        repaintCanvas(false); // also removes dots drawn by playback
    }
}

void ProgramLogic::onMenu(int32_t id) {
    if (m_controls.playDown) {
        stopPlayback(); // every menu choice ends playback before its own action
    }
    switch (id) {
    case kMenuType1:
    case kMenuType2: {
        const VoiceType chosen = id == kMenuType1 ? VoiceType::Type1 : VoiceType::Type2;
        if (m_controls.settings.voiceType != chosen) {
            m_controls.settings.voiceType = chosen;
            refreshMapControls();
            m_view.markVoiceType(chosen);
            m_midiOutMessages.push_back(
                {kMidiProgramChange, MidiVoiceMessages::dataByte(midiProgramFor(chosen)), 0});
            sendMidiOut();
        }
        break;
    }
    case kMenuAbout:
        showAbout();
        break;
    case kMenuHelp:
        showHelp();
        break;
    case kMenuOpen:
        openRecording();
        break;
    case kMenuSave:
        saveRecording();
        break;
    case kMenuExportWav:
        exportRecording(FileKind::Wav);
        break;
    case kMenuExportMidi:
        exportRecording(FileKind::Midi);
        break;
    default:
        break;
    }
}

void ProgramLogic::saveRecording() {
    const ModalStep modal(m_modalStepOpen);
    const std::optional<std::string> chosen =
        m_view.chooseSaveFile(FileKind::Recording, kProposedFileName);
    // Cancelled, nothing recorded, or not stored: the old file under that name is intact.
    bool saved = false;
    if (chosen && !chosen->empty() && !m_recording.empty()) {
        try {
            const std::vector<uint8_t> bytes = recordingFileBytes(m_recording);
            saved = m_view.storeFile(
                fileNameWithExtension(*chosen, captionOf(FileKind::Recording).extension),
                StoredFile{FileKind::Recording, bytes, nullptr, {}});
        } catch (const std::bad_alloc&) {
            saved = false; // the lines do not fit in memory twice
        }
    }
    if (!saved) {
        m_view.showMessage(kInformerTitle, kNotSavedText);
    }
}

void ProgramLogic::exportRecording(FileKind kind) {
    const ModalStep modal(m_modalStepOpen);
    const std::optional<std::string> chosen = m_view.chooseSaveFile(kind, kProposedFileName);
    if (!chosen || chosen->empty()) {
        return; // cancelled: nothing to say
    }
    // As a save: an empty recording, or a file not stored whole, is not written.
    const std::string destination = fileNameWithExtension(*chosen, captionOf(kind).extension);
    if (m_recording.empty() ||
        !m_view.storeFile(destination, StoredFile{kind, {}, &m_recording, m_controls.settings})) {
        m_view.showMessage(kInformerTitle, kNotSavedText);
    }
}

void ProgramLogic::openRecording() {
    std::optional<ChosenRecording> chosen = [&] {
        const ModalStep modal(m_modalStepOpen);
        return m_view.chooseOpenFile();
    }();
    if (!chosen) {
        return;
    }
    // A file that cannot be read keeps the current recording; the rest happens all the same.
    // One whose lines do not fit in memory (twice: recording and ink) keeps it too, and says so:
    // the user would otherwise take the old recording for the file's.
    bool tooBig = chosen->tooLarge;
    bool replaced = false;
    if (chosen->recording) {
        try {
            std::vector<InkPoint> ink = inkOf(*chosen->recording); // before either list changes
            m_recording = std::move(*chosen->recording);
            m_drawing.ink = std::move(ink);
            replaced = true;
        } catch (const std::bad_alloc&) {
            tooBig = true;
        }
    }
    if (tooBig) {
        const ModalStep modal(m_modalStepOpen);
        m_view.showMessage(kInformerTitle, kNotOpenedText);
    }
    // From the recording (release lines get a dot too: they repeat a point), which is the ink
    // only when the file was read.
    if (replaced) {
        repaintCanvas(false);
    } else {
        const std::vector<InkPoint> ink = inkOf(m_recording);
        m_view.paintCanvas(wholeCanvas(false, m_controls.settings.scaleMode, ink));
    }
    if (m_controls.recordDown) {
        stopRecording();
    }
    setGrid(false, m_controls.gridEnabled);
}

void ProgramLogic::showAbout() {
    const ModalStep modal(m_modalStepOpen);
    const std::string midiStatus = m_view.midiStatus();
    if (midiStatus.empty()) {
        m_view.showMessage(kAboutTitle, kAboutText);
    } else {
        m_view.showMessage(kAboutTitle, std::string(kAboutText) + "\n\n" + midiStatus);
    }
}

void ProgramLogic::showHelp() {
    // On the desktop a separate window with a loop of its own: the main window stays enabled
    // and repaints, but its events are dropped until Help is closed.
    const ModalStep modal(m_modalStepOpen);
    m_view.showHelp();
}

} // namespace doodle
