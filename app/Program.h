#pragma once

#include "app/audio/AudioOutput.h"
#include "app/midi/JackMidiPorts.h"
#include "app/ticker/Ticker.h"
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
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace doodle {

class Dialogs;
class MainWindow;

// The desktop host of the program: start-up, the window, the ticker thread and the audio
// output, and shutdown. It turns the window's actions and the ticker's ticks into events for
// the program's logic, and shows what the logic asks for in the window and its dialogs.
class Program final : public QObject, private ProgramView {
    Q_OBJECT

public:
    // The ticker's event; Qt leaves codes from QEvent::User on to applications.
    static constexpr int kTickerEventType = 1000; // QEvent::User

    // Which audio output to use is the caller's: PortAudio in the program, a fake in tests.
    using AudioFactory = std::function<std::unique_ptr<AudioOutput>(VoiceParams&)>;
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
    // Ends the ticker, then the audio library. Safe to call more than once.
    void shutdown();

    bool closeRequested() const { return m_logic.closeRequested(); }
    MainWindow* window() const { return m_window.get(); }
    VoiceParams& voice() { return m_logic.voice(); }
    TickerShared& ticker() { return m_tickerShared; }
    double playSpeed() const { return m_logic.controls().settings.playSpeed; }
    const RenderSettings& renderSettings() const { return m_logic.controls().settings; }
    const DrawingState& drawing() const { return m_logic.drawing(); }
    const Recording& recordingList() const { return m_logic.recording(); }

protected:
    void customEvent(QEvent* event) override;

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
    void sendMidi(std::span<const MidiMessage> messages, std::optional<int32_t> playTick) override;
    std::string midiStatus() const override;

    // Hands the program what the MIDI ports received, as one batch, and the opening messages
    // to a newly connected output.
    void takeMidi();

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

    TickerShared m_tickerShared; // tickerPaused and tickCount, shared with the ticker thread
    ProgramLogic m_logic{static_cast<ProgramView&>(*this)};
    std::unique_ptr<AudioOutput> m_audio;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Ticker> m_ticker;
    JackMidiPorts m_midi; // open only where a JACK server runs
    std::unique_ptr<QSocketNotifier> m_midiNotifier;
    bool m_shutDown = false;
};

} // namespace doodle
