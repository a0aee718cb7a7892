#pragma once

#include "app/audio/AudioOutput.h"
#include "app/audio/JackHost.h"
#include "app/clock/PlayClock.h"
#include "app/clock/TickPump.h"
#include "mapping/DrawingSurface.h"
#include "program/Event.h"
#include "program/ProgramLogic.h"
#include "program/ProgramView.h"
#include "recording/Recording.h"
#include "voice/VoiceParams.h"

#include <QObject>
#include <QSettings>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace doodle {

class Dialogs;
class MainWindow;

// The desktop host of the program: start-up, the window, the play clock and the audio output,
// and shutdown. It turns the window's actions and the play clock's ticks into events for the
// program's logic, and shows what the logic asks for in the window and its dialogs.
class Program final : public QObject, private ProgramView {
    Q_OBJECT

public:
    // Which audio output to use is the caller's: PortAudio in the program, a fake in tests. An
    // output whose stream counts the play clock's ticks says so to the clock when it starts.
    using AudioFactory = std::function<std::unique_ptr<AudioOutput>(VoiceParams&, PlayClock&)>;
    // `settings`: where the controls, the window's geometry, the last folder and the recent
    // files are remembered between runs; nothing is remembered without it.
    Program(Dialogs& dialogs, AudioFactory makeAudio, QSettings* settings = nullptr);
    ~Program() override;

    // Start-up up to the first wait for an event. False when the audio stream could not be
    // opened: the error has been shown and the program ends (with exit code 0).
    bool start();
    // Start-up, the event loop until the main window is closed, shutdown. Always 0. A
    // `startFile` is opened once the window shows, as if chosen in the Open dialog.
    int run(const std::optional<std::string>& startFile = std::nullopt);
    // Opens the file at `path` (a command line's, a dropped one, a recent one) as Open does,
    // asking first about unsaved lines.
    void openPath(const std::string& path);
    // Ends the play clock's ticks, then the audio library. Safe to call more than once.
    void shutdown();

    bool closeRequested() const { return m_logic.closeRequested(); }
    MainWindow* window() const { return m_window.get(); }
    VoiceParams& voice() { return m_logic.voice(); }
    const PlayClock& playClock() const { return m_clock; }
    double playSpeed() const { return m_logic.controls().settings.playSpeed; }
    const RenderSettings& renderSettings() const { return m_logic.controls().settings; }
    const DrawingState& drawing() const { return m_logic.drawing(); }
    const Recording& recordingList() const { return m_logic.recording(); }

private:
    // ProgramView
    void paintCanvas(const CanvasPaint& paint) override;
    void showNote(std::string_view name) override;
    void setRecording(bool down) override;
    void setPlaying(bool down) override;
    void setPlayEnabled(bool enabled) override;
    void setGrid(bool checked, bool enabled) override;
    void setRootEnabled(bool enabled) override;
    void markVoiceType(VoiceType type) override;
    void markTuning(Tuning tuning) override;
    void markMidiInChannel(int32_t channel) override;
    void showMessage(std::string_view title, std::string_view text) override;
    std::optional<std::string> chooseSaveFile(FileKind kind,
                                              std::string_view proposedName) override;
    StoreResult storeFile(const std::string& destination, const StoredFile& file) override;
    std::optional<ChosenRecording> chooseOpenFile() override;
    void showHelp() override;
    SaveChoice askSaveChanges() override;
    void showDocument(std::string_view name, bool unsaved) override;
    void setUndoAvailable(bool available) override;
    void resumeTicks() override;
    void pauseTicks() override;
    void quit() override;
    void sendMidi(std::span<const MidiMessage> messages) override;
    std::string midiStatus() const override;
    bool hostSingsMidiInput() const override;
    void singMidiInputWith(const MidiInputControls& controls) override;

    // A tick of the play clock for the program; its MIDI goes out at its frame.
    void onTick(const PlayClock::Tick& tick);
    // Hands the program what the MIDI ports received, each period's messages as one batch, and
    // the opening messages to a newly connected output; goes on without a server that has gone.
    void takeMidi();
    // Joins a running JACK server for sound and MIDI: true when the client runs.
    bool joinJack();
    // The server has gone: the client is closed, held notes are let go, the window says so, and
    // sound goes on through the PortAudio output until a server runs again.
    void leaveLostJack();
    // PortAudio's output, where no JACK client runs: false when it could not be opened (its
    // reason in `error`).
    bool startPortAudio(std::string& error);
    // While no JACK client runs: joins a server that has come, leaving PortAudio's output.
    void watchForJack();

    // The file at `path` read into a recording, or why not.
    ChosenRecording readChosen(const std::string& path);
    // The folder a file dialog starts in: the last one used, else the documents folder.
    QString dialogStartFolder() const;
    void rememberFolderOf(const std::string& path);
    void addRecentFile(const std::string& path);
    // The remembered controls, told to the program as the person's events; the window shows them.
    void restoreSettings();
    void storeSettings();
    Dialogs& m_dialogs;
    AudioFactory m_makeAudio;
    QSettings* m_settings = nullptr;            // nothing is remembered without it
    std::optional<std::string> m_pendingOpen{}; // the Open dialog's answer, when given already
    QString m_lastFolder{};                     // where the last file dialog went, for the next
    QStringList m_recentFiles{};                // most recent first, at most kMaxRecentFiles

    PlayClock m_clock; // shared with the audio callback, which counts its ticks
    TickPump m_tickPump{m_clock, [this](const PlayClock::Tick& tick) { onTick(tick); }};
    std::optional<PlayClock::Tick> m_tick{}; // while a tick is handled
    ProgramLogic m_logic{static_cast<ProgramView&>(*this)};
    std::unique_ptr<AudioOutput> m_audio; // PortAudio's output, where no JACK client runs
    std::unique_ptr<MainWindow> m_window;
    JackHost m_jack{m_logic.voice(), m_clock}; // sound and MIDI where a JACK server runs
    std::unique_ptr<QSocketNotifier> m_midiNotifier;
    MidiInputControls m_midiInputControls{}; // as the program reported them last
    QTimer m_jackWatch{};                    // while no JACK client runs
    bool m_jackLost = false;                 // a server was joined and has gone
    bool m_shutDown = false;
};

} // namespace doodle
