#include "program/ProgramLogic.h"

#include "program/Captions.h"
#include "recording/RecordingFile.h"

#include <algorithm>
#include <array>
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
// are dropped. `changed` runs after each change of the flag.
template <class Changed>
class ModalStep {
public:
    ModalStep(bool& open, Changed changed) : m_open(open), m_changed(changed) {
        m_open = true;
        m_changed();
    }
    ~ModalStep() {
        m_open = false;
        m_changed();
    }
    ModalStep(const ModalStep&) = delete;
    ModalStep& operator=(const ModalStep&) = delete;

private:
    bool& m_open;
    Changed m_changed;
};

// A dot for every line of a recording, where the line's point lies (unclamped).
std::vector<InkPoint> inkOf(const Recording& recording) {
    std::vector<InkPoint> ink;
    ink.reserve(recording.size());
    for (const RecordingPoint& point : recording.storedPoints()) {
        ink.push_back({point.x, point.y});
    }
    return ink;
}

// Why a save or export that needs a second copy of the lines failed.
constexpr std::string_view kLinesTwiceText = "The recording's lines do not fit in memory twice.";

// A file as a message names it: its name in quotes, without its folder.
std::string fileNameInMessage(std::string_view path) {
    if (path.empty()) {
        return "the file";
    }
    const std::size_t nameStart = path.find_last_of('/') + 1; // 0 without a folder
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) of a "'" + string chain.
    std::string name = "'";
    name += path.substr(nameStart);
    name += '\'';
    return name;
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
            // The old recording goes: unsaved lines are asked for, and Undo can bring it back.
            if (unsavedLinesMayGo()) {
                keepForUndo(true);
                setDocumentName({}); // a new recording, of no file yet
                startRecording(event.nowMs);
            } else {
                m_view.setRecording(false);
            }
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
        if (!m_drawing.ink.empty()) {
            keepForUndo(false);
        }
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
    if (event.kind == EventKind::Close && unsavedLinesMayGo()) {
        m_closeRequested = true;
        m_view.quit();
    }
}

void ProgramLogic::restoreInk(std::vector<InkPoint> ink) {
    m_drawing.ink = std::move(ink);
    repaintCanvas(m_controls.gridChecked);
}

void ProgramLogic::restore(const ControlSettings& settings,
                           std::optional<std::vector<InkPoint>> ink) {
    const ControlSettings shown = this->settings();
    if (settings.voiceType != shown.voiceType) {
        dispatch(Event::menu(static_cast<VoiceType>(settings.voiceType) == VoiceType::Type1
                                 ? kMenuType1
                                 : kMenuType2));
    }
    if (settings.tuning != shown.tuning) {
        dispatch(Event::menu(static_cast<Tuning>(settings.tuning) == Tuning::Concert
                                 ? kMenuTuningConcert
                                 : kMenuTuningClassic));
    }
    if (settings.speedTenths != shown.speedTenths) {
        dispatch(Event::speedSlider(settings.speedTenths));
    }
    if (settings.scaleMode != shown.scaleMode) {
        constexpr std::array kScaleOptions{kUnrestrictedOption, kMajorOption, kMinorOption,
                                           kPentatonicOption};
        if (settings.scaleMode >= 0 &&
            static_cast<std::size_t>(settings.scaleMode) < kScaleOptions.size()) {
            dispatch(Event::control(kScaleOptions[static_cast<std::size_t>(settings.scaleMode)]));
        }
    }
    if (settings.rootIndex != shown.rootIndex) {
        dispatch(Event::rootNote(settings.rootIndex));
    }
    if (settings.grid != m_controls.gridChecked) {
        dispatch(Event::gridBox(settings.grid));
    }
    if (ink) {
        restoreInk(std::move(*ink));
    }
}

ControlSettings ProgramLogic::settings() const {
    return controlSettingsOf(m_controls.settings, m_controls.gridChecked);
}

void ProgramLogic::onDrawingEvent(const Event& event, bool sing) {
    switch (handleDrawingEvent(event.pointer, event.x, event.y, event.buttons, m_controls.playDown,
                               m_drawing)) {
    case DrawingOutcome::Nothing:
        break;
    case DrawingOutcome::Point:
        appendGestureLine(kSoundingLine, event.nowMs);
        if (sing) {
            static_cast<void>(
                m_player.soundPoint(m_drawing.pointX, m_drawing.pointY, m_mapControls));
        }
        {
            // What the voice sings for the point, whoever sings it.
            const PitchResult pitch = mapPitch(m_drawing.pointX, m_mapControls.scaleMode,
                                               m_mapControls.scale, m_mapControls.tuning);
            showNote(pitch.noteIndex);
            sendMidiPoint(pitch.pitchHz, m_drawing.pointY);
        }
        m_view.paintCanvas(oneDot(m_drawing.ink.back()));
        break;
    case DrawingOutcome::Release:
        if (sing) {
            m_player.release();
        }
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
    const MidiInput::Step step = m_midiIn.feed(event.midi, event.nowMs);
    if (step.volumeValue) {
        setOutputLevel(*step.volumeValue);
    }
    onMidiPoint(step.point);
}

void ProgramLogic::onMidiPoint(const std::optional<GestureLine>& point) {
    // As a drag: the point is drawn, sung and recorded at the time its moment came in. Where
    // the host's audio callback sings MIDI input itself, at its frame, the point is drawn and
    // recorded here but not sung again.
    if (!point || !midiPointActs(*point, midiInputControls())) {
        return;
    }
    const bool released = point->released != 0;
    onDrawingEvent(Event::pointerEvent(released ? PointerAction::LeftRelease : PointerAction::Move,
                                       point->x, point->y, released ? 0 : kLeftButtonBit,
                                       point->elapsedMs),
                   !m_view.hostSingsMidiInput());
}

void ProgramLogic::setOutputLevel(uint8_t volumeValue) {
    volumeValue &= kMidiDataMask;
    if (!m_view.hostSingsMidiInput()) {
        setVolume(m_voice, static_cast<double>(volumeValue) / kMidiMaxDataValue);
    }
    if (volumeValue != m_outputVolumeValue) {
        m_outputVolumeValue = volumeValue;
        m_midiOutMessages.push_back({kMidiControlChange, kMidiCcVolume, volumeValue});
        sendMidiOut();
    }
}

void ProgramLogic::chooseMidiInChannel(int32_t channel) {
    if (channel == m_midiIn.channel()) {
        return;
    }
    m_controls.midiInChannel = channel;
    m_view.markMidiInChannel(channel);
    m_midiIn.listenTo(channel,
                      [this](const std::optional<GestureLine>& point) { onMidiPoint(point); });
    reportMidiInput();
}

MidiInputControls ProgramLogic::midiInputControls() const {
    return {m_mapControls, m_midiIn.channel(), m_controls.playDown, m_modalStepOpen};
}

void ProgramLogic::reportMidiInput() {
    m_view.singMidiInputWith(midiInputControls());
}

std::vector<MidiMessage> ProgramLogic::midiOutOpening() const {
    const auto opening =
        midiOpeningMessages(midiProgramFor(m_controls.settings.voiceType), m_outputVolumeValue);
    std::vector<MidiMessage> messages(opening.begin(), opening.end());
    m_midiOut.resend(messages);
    return messages;
}

void ProgramLogic::sendMidiPoint(double pitchHz, int32_t y) {
    m_midiOut.sound({midiNoteOfSounding(pitchHz), vowelControllerValue(y)}, m_midiOutMessages);
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
        m_view.sendMidi(m_midiOutMessages);
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
    if (m_recorder.appendGestureLine(m_recording, m_controls.recordDown, m_drawing.pointX,
                                     m_drawing.pointY, released, nowMs)) {
        markUnsaved(true);
    }
}

void ProgramLogic::startPlayback() {
    m_controls.playDown = true;
    reportMidiInput();
    m_view.setPlaying(true);
    m_view.paintCanvas(wholeCanvas(false, m_controls.settings.scaleMode, {})); // white; the ink
                                                                               // stays for later
    m_player.start();
    sendMidiRelease();
    m_ticksRunning = true;
    m_view.resumeTicks(); // counts from 0 again
    setGrid(false, false);
}

void ProgramLogic::stopPlayback() {
    m_controls.playDown = false;
    reportMidiInput();
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
        sendMidiPoint(m_voice.pitchHz(), step.y); // as the player just sang it
        const InkPoint dot{step.x, step.y};
        m_view.paintCanvas(oneDot(dot));
        break;
    }
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
    m_midiIn.setMap(m_mapControls);
    m_midiOut.setWholeNotes(m_mapControls.scaleMode != ScaleMode::Unrestricted);
    reportMidiInput();
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
    case kMenuTuningClassic:
    case kMenuTuningConcert: {
        const Tuning chosen = id == kMenuTuningClassic ? Tuning::Classic : Tuning::Concert;
        if (m_controls.settings.tuning != chosen) {
            m_controls.settings.tuning = chosen;
            refreshMapControls();
            m_view.markTuning(chosen);
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
    case kMenuUndo:
        undo();
        break;
    default:
        if (const std::optional<int32_t> channel = midiInChannelOfMenuId(id)) {
            chooseMidiInChannel(*channel);
        }
        break;
    }
}

void ProgramLogic::saveRecording() {
    const ModalStep modal(m_modalStepOpen, [this] { reportMidiInput(); });
    const std::optional<std::string> chosen =
        m_view.chooseSaveFile(FileKind::Recording, proposedName(FileKind::Recording));
    if (!chosen || chosen->empty()) {
        m_view.showMessage(kInformerTitle, kNotSavedText); // as every save that stores nothing
        return;
    }
    saveRecordingTo(fileNameWithExtension(*chosen, captionOf(FileKind::Recording).extension));
}

bool ProgramLogic::saveRecordingTo(const std::string& destination) {
    // Nothing recorded, or not stored: the old file under that name is intact.
    StoreResult result;
    if (!m_recording.empty()) {
        try {
            const std::vector<uint8_t> bytes = recordingFileBytes(m_recording);
            result =
                m_view.storeFile(destination, StoredFile{FileKind::Recording, bytes, nullptr, {}});
        } catch (const std::bad_alloc&) {
            result = {StoreStatus::Failed, std::string(kLinesTwiceText), {}};
        }
    }
    showStoreResult(result);
    if (result.status != StoreStatus::Stored) {
        return false;
    }
    setDocumentName(destination);
    markUnsaved(false);
    if (m_undo && m_undo->recording && !m_undo->recording->empty()) {
        // The recording Undo keeps may be what that file held before; it is saved nowhere now.
        m_undo->unsaved = true;
    }
    return true;
}

void ProgramLogic::showStoreResult(const StoreResult& result) {
    std::string text;
    if (result.status == StoreStatus::Failed) {
        text = std::string(kNotSavedText);
        if (!result.reason.empty()) {
            text += "\n\n" + result.reason;
        }
    }
    if (!result.notice.empty()) {
        text += (text.empty() ? "" : "\n\n") + result.notice;
    }
    if (!text.empty()) {
        m_view.showMessage(kInformerTitle, text);
    }
}

void ProgramLogic::exportRecording(FileKind kind) {
    const ModalStep modal(m_modalStepOpen, [this] { reportMidiInput(); });
    const std::optional<std::string> chosen = m_view.chooseSaveFile(kind, proposedName(kind));
    if (!chosen || chosen->empty()) {
        return; // cancelled: nothing to say
    }
    // As a save: an empty recording, or a file not stored whole, is not written.
    const std::string destination = fileNameWithExtension(*chosen, captionOf(kind).extension);
    StoreResult result;
    if (!m_recording.empty()) {
        try {
            // A copy: a view may render it beside its events, and a MIDI key let go meanwhile
            // still adds a line to a recording being made.
            const Recording exported = m_recording;
            result =
                m_view.storeFile(destination, StoredFile{kind, {}, &exported, m_controls.settings});
        } catch (const std::bad_alloc&) {
            result = {StoreStatus::Failed, std::string(kLinesTwiceText), {}};
        }
    }
    showStoreResult(result);
}

void ProgramLogic::openRecording() {
    if (!unsavedLinesMayGo()) {
        return;
    }
    std::optional<ChosenRecording> chosen = [&] {
        const ModalStep modal(m_modalStepOpen, [this] { reportMidiInput(); });
        return m_view.chooseOpenFile();
    }();
    if (!chosen) {
        return;
    }
    // A file that cannot be read, holds no recording, or whose lines do not fit in memory (twice:
    // recording and ink) changes nothing, and says why: the user would otherwise take the old
    // recording for the file's.
    std::string problem = chosen->problem;
    if (chosen->recording) {
        problem = noRecordingLinesReason(*chosen->recording, fileNameInMessage(chosen->name));
    }
    if (chosen->recording && problem.empty()) {
        try {
            std::vector<InkPoint> ink = inkOf(*chosen->recording); // before either list changes
            if (m_ticksRunning && !m_controls.playDown) {
                // Opened before the first tick ended the start-up's empty playback (a file
                // named on the command line): end it now, or it would play the file.
                stopPlayback();
            }
            keepForUndo(true);
            m_recording = std::move(*chosen->recording);
            m_drawing.ink = std::move(ink);
            setDocumentName(std::move(chosen->name));
            markUnsaved(false);
            repaintCanvas(false);
            if (m_controls.recordDown) {
                stopRecording();
            }
            setGrid(false, m_controls.gridEnabled);
            return;
        } catch (const std::bad_alloc&) {
            problem.clear();
        }
    }
    std::string text(kNotOpenedText);
    if (!problem.empty()) {
        text += "\n\n" + problem;
    }
    const ModalStep modal(m_modalStepOpen, [this] { reportMidiInput(); });
    m_view.showMessage(kInformerTitle, text);
}

bool ProgramLogic::unsavedLinesMayGo() {
    if (!m_unsaved) {
        return true;
    }
    SaveChoice choice = SaveChoice::Cancel;
    {
        const ModalStep modal(m_modalStepOpen, [this] { reportMidiInput(); });
        choice = m_view.askSaveChanges();
    }
    switch (choice) {
    case SaveChoice::Discard:
        return true;
    case SaveChoice::Cancel:
        return false;
    case SaveChoice::Save:
        break;
    }
    const ModalStep modal(m_modalStepOpen, [this] { reportMidiInput(); });
    if (m_controls.recordDown) {
        stopRecording(); // the lines saved are the lines there are; none is added meanwhile
    }
    const std::optional<std::string> chosen =
        m_view.chooseSaveFile(FileKind::Recording, proposedName(FileKind::Recording));
    if (!chosen || chosen->empty()) {
        return false;
    }
    return saveRecordingTo(
        fileNameWithExtension(*chosen, captionOf(FileKind::Recording).extension));
}

void ProgramLogic::markUnsaved(bool unsaved) {
    if (m_unsaved != unsaved) {
        m_unsaved = unsaved;
        m_view.showDocument(m_documentName, m_unsaved);
    }
}

void ProgramLogic::setDocumentName(std::string name) {
    m_documentName = std::move(name);
    m_view.showDocument(m_documentName, m_unsaved);
}

void ProgramLogic::keepForUndo(bool withRecording) {
    if (m_drawing.ink.empty() && (!withRecording || m_recording.empty())) {
        // Nothing goes; what an earlier step took no longer fits what is shown.
        m_undo.reset();
        m_view.setUndoAvailable(false);
        return;
    }
    m_undo = takeForUndo(withRecording);
    m_view.setUndoAvailable(true);
}

ProgramLogic::UndoState ProgramLogic::takeForUndo(bool withRecording) {
    UndoState kept;
    kept.ink = std::exchange(m_drawing.ink, {});
    if (withRecording) {
        kept.recording = std::exchange(m_recording, Recording{});
        kept.documentName = m_documentName;
        kept.unsaved = m_unsaved;
    }
    return kept;
}

void ProgramLogic::undo() {
    if (!m_undo) {
        return;
    }
    if (m_controls.recordDown) {
        stopRecording();
    }
    // What Undo takes away is kept in turn, so that the next Undo brings it back: nothing is
    // lost to a keystroke.
    UndoState restored = std::exchange(*m_undo, takeForUndo(m_undo->recording.has_value()));
    m_drawing.ink = std::move(restored.ink);
    if (restored.recording) {
        m_recording = std::move(*restored.recording);
        m_documentName = std::move(restored.documentName);
        m_unsaved = restored.unsaved;
        m_view.showDocument(m_documentName, m_unsaved);
    }
    clearNote();
    repaintCanvas(m_controls.gridChecked);
}

std::string ProgramLogic::proposedName(FileKind kind) const {
    if (m_documentName.empty()) {
        return std::string(kProposedFileName);
    }
    // The document's name with the kind's extension in place of its own.
    const std::size_t nameStart = m_documentName.find_last_of('/') + 1; // 0 without a folder
    const std::size_t dot = m_documentName.find_last_of('.');
    const std::size_t stemEnd =
        dot != std::string::npos && dot > nameStart ? dot : m_documentName.size();
    return m_documentName.substr(0, stemEnd) + std::string(captionOf(kind).extension);
}

void ProgramLogic::showAbout() {
    const ModalStep modal(m_modalStepOpen, [this] { reportMidiInput(); });
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
    const ModalStep modal(m_modalStepOpen, [this] { reportMidiInput(); });
    m_view.showHelp();
}

} // namespace doodle
