#pragma once

#include "app/Event.h"
#include "app/audio/AudioOutput.h"
#include "mapping/DrawingSurface.h"
#include "mapping/MapPoint.h"
#include "recording/Player.h"
#include "recording/Recorder.h"
#include "recording/Recording.h"
#include "recording/Ticker.h"
#include "voice/VoiceParams.h"

#include <QObject>
#include <memory>
#include <string>
#include <vector>

namespace doodle {

class Dialogs;
class MainWindow;

// The running program: its state, start-up, the one dispatch of every event, and shutdown.
class Program final : public QObject {
    Q_OBJECT

public:
    // The ticker's event; Qt leaves codes from QEvent::User on to applications.
    static constexpr int kTickerEventType = 1000; // QEvent::User

    // Which audio output to use is the caller's: PortAudio in the program, a fake in tests.
    using AudioFactory = std::function<std::unique_ptr<AudioOutput>(VoiceParams&)>;
    Program(Dialogs& dialogs, AudioFactory makeAudio);
    ~Program() override;

    // Start-up up to the first wait for an event. False when the audio stream could not be
    // opened: the error has been shown and the program ends (with exit code 0).
    bool start();
    // Start-up, the event loop until the main window is closed, shutdown. Always 0.
    int run();
    // Ends the ticker, then the audio library. Safe to call more than once.
    void shutdown();

    // Runs every branch that the event matches, in their fixed order.
    void dispatch(const Event& event);

    // Ends a running playback: play toggle up, ticker paused, voice released, Grid enabled.
    void stopPlayback();

    bool closeRequested() const { return m_closeRequested; }
    MainWindow* window() const { return m_window.get(); }
    VoiceParams& voice() { return m_voice; }
    TickerShared& ticker() { return m_tickerShared; }
    double playSpeed() const { return m_playSpeed; }
    const DrawingState& drawing() const { return m_drawing; }
    const Recording& recordingList() const { return m_recordingList; }

protected:
    void customEvent(QEvent* event) override;

private:
    void startRecording();
    void stopRecording();
    void appendGestureLine(int32_t released);
    void startPlayback();
    void playbackTick();
    MapControls mapControls() const;
    void showNote(std::optional<int32_t> noteIndex);
    void rebuildScale();
    void onScaleOptionChosen();
    void onUnrestrictedChosen();
    void refuseGridInUnrestricted();
    void showOrHideGrid();
    void redrawGridOverlay();
    void onMenu(int32_t id);
    void saveRecording();
    void openRecording();
    void showAbout();
    void showHelp();

    Dialogs& m_dialogs;
    AudioFactory m_makeAudio;

    VoiceParams m_voice;         // shared with the audio callback
    TickerShared m_tickerShared; // tickerPaused and tickCount, shared with the ticker thread
    double m_playSpeed = 1.0;    // 1.0 .. 5.0, slider tenths
    Recording m_recordingList;   // one gesture line per handled drawing event
    Recorder m_recorder;         // when the recording began
    DrawingState m_drawing;      // current point and the ink list
    Scale m_scale;               // built by the scale options and root list
    VowelWorking m_vowel;        // the vowel map's values, kept between points
    Player m_player{m_recordingList, m_voice, m_vowel}; // plays the recording on the ticks

    std::unique_ptr<AudioOutput> m_audio;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Ticker> m_ticker;
    bool m_closeRequested = false;
    bool m_modalStepOpen = false; // a dialog, About or Help is open: events are dropped
    bool m_shutDown = false;
};

} // namespace doodle
