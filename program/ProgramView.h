#pragma once

#include "mapping/CanvasPaint.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "program/Exports.h"
#include "program/MidiInput.h"
#include "recording/MidiFormat.h"
#include "recording/Recording.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace doodle {

// The recording a person chose to open, read and split into lines by the view (never on an
// audio thread), or why there is none.
struct ChosenRecording {
    std::optional<Recording> recording{}; // nothing: the file could not be read
    bool tooLarge = false;                // ... because its lines do not fit in memory
    // Why there is no recording, one sentence naming the file, for the message; empty when the
    // view has nothing to add.
    std::string problem{};
    // The file the recording came from, as the view names it: the title shows it and Save
    // proposes it. Empty for a recording that has no file of its own.
    std::string name{};
};

// What storing a file came to.
enum class StoreStatus { Stored, Failed, Cancelled };
struct StoreResult {
    StoreStatus status = StoreStatus::Failed;
    std::string reason{}; // Failed: why, one sentence naming the file, for the message
    std::string notice{}; // what the person must know all the same, as a kept copy's name
};

// The answer to "Save changes?" before unsaved recording lines would go.
enum class SaveChoice { Save, Discard, Cancel };

// What the program shows and what it asks: the window of the desktop program or a web page.
// Every call comes from the program's one thread, and none of them raises an event. The dialog
// calls return only when answered; a view whose dialogs cannot block prepares the answer before
// it hands the menu event over. The program touches no file: the view reads and stores them.
class ProgramView {
public:
    virtual ~ProgramView() = default;

    // The drawing area: the steps in order, at the view's own scale.
    virtual void paintCanvas(const CanvasPaint& paint) = 0;
    // The note label: a name of noteNames, or empty to clear it.
    virtual void showNote(std::string_view name) = 0;

    // The toggles, down or up with the caption that goes with it.
    virtual void setRecording(bool down) = 0;
    virtual void setPlaying(bool down) = 0;
    virtual void setPlayEnabled(bool enabled) = 0;
    // The Grid box: its tick and whether it can be clicked.
    virtual void setGrid(bool checked, bool enabled) = 0;
    virtual void setRootEnabled(bool enabled) = 0;
    // The Voice menu's check mark.
    virtual void markVoiceType(VoiceType type) = 0;
    // The Tuning menu's check mark.
    virtual void markTuning(Tuning tuning) = 0;
    // The MIDI input channel chosen: kMidiAllChannels or 1..16. A view that offers no choice
    // of channel has nothing to mark.
    virtual void markMidiInChannel(int32_t /*channel*/) {}

    // A message with one OK button; returns when it is dismissed.
    virtual void showMessage(std::string_view title, std::string_view text) = 0;
    // The save dialog for a file of `kind` (captionOf gives its title and filter), proposing
    // `proposedName`: a bare name goes in the view's own folder; a name the view gave for an
    // opened or stored file (ChosenRecording::name, a destination) stays where it is. A view
    // that can asks before replacing an existing file. The program adds the extension where the
    // chosen name lacks it. Where the file goes (a path, a download's name), or nothing when
    // cancelled.
    virtual std::optional<std::string> chooseSaveFile(FileKind kind,
                                                      std::string_view proposedName) = 0;
    // Stores the file at a destination chooseSaveFile gave, or says why not, or that the person
    // cancelled a long export. A file already there keeps what it had unless it is Stored.
    virtual StoreResult storeFile(const std::string& destination, const StoredFile& file) = 0;
    // The open dialog for recordings: the chosen file's recording, or why there is none;
    // nothing when cancelled.
    virtual std::optional<ChosenRecording> chooseOpenFile() = 0;
    // The Help text; a view that can wait returns when it is closed.
    virtual void showHelp() = 0;

    // "Save changes?": unsaved recording lines are about to go (quit, Open, record). A view
    // that cannot ask answers Discard.
    virtual SaveChoice askSaveChanges() = 0;
    // The file the recording belongs to (empty: none yet) and whether it has lines that are
    // not saved, for the title.
    virtual void showDocument(std::string_view name, bool unsaved) = 0;
    // Whether Undo has a state to bring back.
    virtual void setUndoAvailable(bool available) = 0;

    // MIDI messages to go out, whole and in order, as the drawing, MIDI input or playback
    // sounds them: the messages the MIDI export writes for the same points. Sent while a tick
    // event is handled, they belong to that tick, and a view sends them at the tick's time on
    // its play clock (the sample clock, as the export places them); otherwise now. A view
    // without a MIDI output connected drops them.
    virtual void sendMidi(std::span<const MidiMessage> messages) = 0;
    // Whether the host's audio callback sings MIDI input itself, at each message's frame: the
    // program then draws and records the input's points but leaves the voice alone.
    virtual bool hostSingsMidiInput() const { return false; }
    // How MIDI input sings now, whenever that changes, for a host that sings it itself.
    virtual void singMidiInputWith(const MidiInputControls& /*controls*/) {}
    // How MIDI is connected, one line that About adds to its text ("MIDI: no JACK server");
    // empty to add nothing.
    virtual std::string midiStatus() const = 0;

    // The play clock: tick events count from 1 again after resumeTicks, and none is due after
    // pauseTicks (one already on its way still arrives; the program ignores it).
    virtual void resumeTicks() = 0;
    virtual void pauseTicks() = 0;

    // The user closed the program: leave the event loop.
    virtual void quit() = 0;
};

} // namespace doodle
