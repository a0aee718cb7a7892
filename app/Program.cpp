#include "app/Program.h"

#include "app/Dialogs.h"
#include "app/HelpWindow.h"
#include "app/MainWindow.h"
#include "recording/PlaySpeed.h"
#include "recording/RecordingFile.h"
#include "voice/Synth.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFile>

#if defined(__SANITIZE_THREAD__)
#define DC_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DC_THREAD_SANITIZER 1
#endif
#endif
#ifdef DC_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace doodle {
namespace {

// A tick event is made on the ticker thread and handled on the main thread. Qt's event queue
// orders the two with a futex that ThreadSanitizer cannot see; these tell it.
void handOverToMainThread([[maybe_unused]] QEvent* event) {
#ifdef DC_THREAD_SANITIZER
    __tsan_release(event);
#endif
}
void takeOverOnMainThread([[maybe_unused]] QEvent* event) {
#ifdef DC_THREAD_SANITIZER
    __tsan_acquire(event);
#endif
}

const QString kFileFilter = QStringLiteral("DoodleChorus (*.sav)");

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

// The released field of a recorded line.
constexpr int32_t kSoundingLine = 0;
constexpr int32_t kReleaseLine = 1;

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

Program::Program(Dialogs& dialogs, AudioFactory makeAudio)
    : m_dialogs(dialogs), m_makeAudio(std::move(makeAudio)) {}

Program::~Program() {
    shutdown();
}

bool Program::start() {
    // The state starts at zero and at its defaults as its members are constructed; the
    // tables are constants. What is left is the fixed order of the rest.
    m_audio = m_makeAudio(m_voice);
    const int openError = m_audio->open();
    if (openError != 0) {
        m_dialogs.showMessage(nullptr, QString(),
                              QString::fromStdString(m_audio->errorText(openError)));
        m_audio.reset(); // the library is left as it is: the process ends right after
        return false;
    }

    m_window = std::make_unique<MainWindow>([this](const Event& event) { dispatch(event); });
    m_window->show();
    centreOnScreen(*m_window); // the frame's size is known once shown

    m_ticker = std::make_unique<Ticker>(m_tickerShared, [this] {
        auto* tick = new QEvent(static_cast<QEvent::Type>(kTickerEventType));
        handOverToMainThread(tick);
        QCoreApplication::postEvent(this, tick);
    });
    // A ticker that cannot start only means that playback never advances.
    static_cast<void>(m_ticker->start());

    // A stream that does not start leaves the program running without sound.
    static_cast<void>(m_audio->start());
    return true;
}

int Program::run() {
    if (start()) {
        QApplication::exec();
    }
    shutdown();
    return 0;
}

void Program::shutdown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    if (m_ticker) {
        m_ticker->stop(); // joined: it posts nothing from here on
    }
    if (m_audio) {
        m_audio->terminate(); // stops and closes the running stream
    }
}

void Program::customEvent(QEvent* event) {
    takeOverOnMainThread(event);
    if (static_cast<int>(event->type()) == kTickerEventType && !m_shutDown) {
        dispatch(Event::tick());
    }
}

void Program::dispatch(const Event& event) {
    if (m_closeRequested) {
        return; // ticks already queued behind the close find the loop gone
    }
    if (m_modalStepOpen) {
        // A dialog, the About box or the Help window runs: the program reacts to nothing
        // else, closing the main window included, until it is closed.
        return;
    }
    MainWindow& w = *m_window;
    // A press, move or release in the drawing area: sing, draw and record the point.
    if (isControl(event, kDrawingArea)) {
        switch (handleDrawingEvent(event.pointer, event.x, event.y, event.buttons, w.isPlaying(),
                                   m_drawing)) {
        case DrawingOutcome::Nothing:
            break;
        case DrawingOutcome::Point:
            appendGestureLine(kSoundingLine);
            showNote(m_player.soundPoint(m_drawing.pointX, m_drawing.pointY, mapControls()));
            w.drawDot(m_drawing.pointX, m_drawing.pointY);
            break;
        case DrawingOutcome::Release:
            m_player.release();
            appendGestureLine(kReleaseLine);
            w.clearNote();
            break;
        }
    }
    // Record toggle: a recording starts afresh or ends.
    if (isControl(event, kRecordToggle)) {
        if (w.isRecording()) {
            startRecording();
        } else {
            stopRecording();
        }
    }
    // Play toggle: playback starts from the first line or ends early.
    if (isControl(event, kPlayToggle)) {
        if (w.isPlaying()) {
            startPlayback();
        } else {
            stopPlayback();
        }
    }
    // Clear: the ink and the note go; a ticked grid stays.
    if (isControl(event, kClearButton)) {
        w.clearNote();
        m_drawing.ink.clear();
        w.repaintCanvas(w.gridChecked(), m_drawing.ink);
    }
    // Speed slider: the speed of this and every later playback.
    if (isControl(event, kSpeedSlider)) {
        m_playSpeed = playSpeedFromTenths(w.speedTenths());
    }
    // Major or Minor: the scale, the root list and Grid follow.
    if (isControl(event, kMajorOption) || isControl(event, kMinorOption)) {
        onScaleOptionChosen();
    }
    // Root list: the scale moves to the new root.
    if (isControl(event, kRootNoteCombo)) {
        rebuildScale(); // the grid does not depend on the root
    }
    // Pentatonic, as Major and Minor.
    if (isControl(event, kPentatonicOption)) {
        onScaleOptionChosen();
    }
    // Grid, tested before Unrestricted: a tick while Unrestricted is selected is refused.
    if (isControl(event, kGridCheckBox)) {
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
        playbackTick();
    }
    if (event.kind == EventKind::Close) {
        m_closeRequested = true;
        QCoreApplication::exit(0);
    }
}

void Program::startRecording() {
    MainWindow& w = *m_window;
    w.setRecording(true);
    w.clearNote();
    m_drawing.ink.clear();
    m_recorder.startRecording(m_recordingList); // the clock starts; the old recording goes
    w.setPlayEnabled(false);
    w.repaintCanvas(w.gridChecked(), m_drawing.ink);
}

void Program::stopRecording() {
    MainWindow& w = *m_window;
    w.setRecording(false);
    w.setPlayEnabled(true);
}

void Program::appendGestureLine(int32_t released) {
    // Only while the record toggle is down; the point is the current, clamped one.
    m_recorder.appendGestureLine(m_recordingList, m_window->isRecording(), m_drawing.pointX,
                                 m_drawing.pointY, released);
}

void Program::startPlayback() {
    MainWindow& w = *m_window;
    w.setPlaying(true);
    w.repaintCanvas(false, {}); // white; the ink list stays for the next repaint
    m_player.start();
    m_ticker->resume(); // counts from 0 again
    w.disableGrid();
}

void Program::stopPlayback() {
    MainWindow& w = *m_window;
    w.setPlaying(false);
    m_ticker->pause();
    m_player.stop();
    w.enableGrid();
}

void Program::playbackTick() {
    // A tick posted before the ticker was paused finds it paused and does nothing. The very
    // first tick finds no line left and ends playback: ticker paused, voice released.
    if (m_tickerShared.tickerPaused.load() != 0) {
        return;
    }
    const int32_t tickCount = m_tickerShared.tickCount.load();
    // Most ticks play nothing: the controls are read only for one that does.
    if (!m_player.acts(tickCount, m_playSpeed)) {
        return;
    }
    const PlayedStep step = m_player.step(tickCount, m_playSpeed, mapControls());
    switch (step.action) {
    case PlaybackAction::None:
    case PlaybackAction::Release: // no dot; the note label keeps its name
        break;
    case PlaybackAction::Stop:
        stopPlayback();
        break;
    case PlaybackAction::Sound:
        m_drawing.pointX = step.x;
        m_drawing.pointY = step.y;
        showNote(step.noteIndex);
        m_window->drawDot(step.x, step.y);
        break;
    }
}

void Program::showNote(std::optional<int32_t> noteIndex) {
    if (!noteIndex) {
        return; // Unrestricted leaves the label as it is
    }
    m_window->showNote(noteNames.at(static_cast<std::size_t>(*noteIndex)));
}

MapControls Program::mapControls() const {
    const MainWindow& w = *m_window;
    MapControls controls;
    controls.scaleMode = w.scaleMode();
    controls.scale = m_scale;
    controls.voiceType = w.voiceType();
    return controls;
}

void Program::rebuildScale() {
    m_scale = buildScale(m_window->scaleMode(), m_window->rootIndex(), m_scale);
}

void Program::onScaleOptionChosen() {
    MainWindow& w = *m_window;
    rebuildScale();
    if (!w.isPlaying()) {
        w.enableGrid();
    }
    redrawGridOverlay();
    w.setRootEnabled(true);
}

void Program::onUnrestrictedChosen() {
    MainWindow& w = *m_window;
    w.disableGrid();
    w.setRootEnabled(false);
    w.clearNote();
    if (!w.isPlaying()) {
        w.repaintCanvas(false, m_drawing.ink); // removes any grid
    }
}

void Program::redrawGridOverlay() {
    MainWindow& w = *m_window;
    if (w.gridChecked() && w.scaleMode() != ScaleMode::Unrestricted) {
        w.repaintCanvas(true, m_drawing.ink);
    }
}

void Program::showOrHideGrid() {
    MainWindow& w = *m_window;
    if (w.gridChecked()) {
        // Over the present picture, playback's dots included; the ink comes back on top.
        w.drawGridOverCanvas(m_drawing.ink);
    } else {
        w.repaintCanvas(false, m_drawing.ink); // also removes dots drawn by playback
    }
}

void Program::refuseGridInUnrestricted() {
    MainWindow& w = *m_window;
    if (w.scaleMode() == ScaleMode::Unrestricted) {
        w.disableGrid();
    }
}

void Program::onMenu(int32_t id) {
    MainWindow& w = *m_window;
    if (w.isPlaying()) {
        stopPlayback(); // every menu choice ends playback before its own action
    }
    switch (id) {
    case kMenuType1:
        if (w.voiceType() == VoiceType::Type2) {
            w.markVoiceType(1);
        }
        break;
    case kMenuType2:
        if (w.voiceType() == VoiceType::Type1) {
            w.markVoiceType(2);
        }
        break;
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
    default:
        break;
    }
}

void Program::saveRecording() {
    MainWindow& w = *m_window;
    const ModalStep modal(m_modalStepOpen);
    const QString folder = QFile::decodeName(QByteArray::fromStdString(dialogFolder()));
    const QString chosen =
        m_dialogs.chooseSaveFile(&w, QStringLiteral("Please choose file to save"),
                                 folder + QStringLiteral("DoodleChorus"), kFileFilter);
    // Cancelled, nothing recorded, or not written: the old file under that name is intact.
    if (chosen.isEmpty() ||
        !saveRecordingFile(QFile::encodeName(chosen).toStdString(), m_recordingList)) {
        m_dialogs.showMessage(&w, QStringLiteral("Informer"),
                              QStringLiteral("Your DoodleChorus file is not saved!"));
    }
}

void Program::openRecording() {
    MainWindow& w = *m_window;
    const QString chosen = [&] {
        const ModalStep modal(m_modalStepOpen);
        const QString folder = QFile::decodeName(QByteArray::fromStdString(dialogFolder()));
        return m_dialogs.chooseOpenFile(&w, QStringLiteral("Please choose file to open"), folder,
                                        kFileFilter);
    }();
    if (chosen.isEmpty()) {
        return;
    }
    // A file that cannot be read keeps the current recording; the rest happens all the same.
    // One whose lines do not fit in memory (twice: recording and ink) keeps it too, and says so:
    // the user would otherwise take the old recording for the file's.
    OpenedRecording opened = readRecordingFile(QFile::encodeName(chosen).toStdString());
    bool tooBig = opened.problem == OpenProblem::OutOfMemory;
    bool replaced = false;
    if (opened.recording) {
        try {
            std::vector<InkPoint> ink = inkOf(*opened.recording); // before either list changes
            m_recordingList = std::move(*opened.recording);
            m_drawing.ink = std::move(ink);
            replaced = true;
        } catch (const std::bad_alloc&) {
            tooBig = true;
        }
    }
    if (tooBig) {
        const ModalStep modal(m_modalStepOpen);
        m_dialogs.showMessage(&w, QStringLiteral("Informer"),
                              QStringLiteral("Your DoodleChorus file is not opened!"));
    }
    // From the recording (release lines get a dot too: they repeat a point), which is the ink
    // only when the file was read.
    w.repaintCanvas(false, replaced ? m_drawing.ink : inkOf(m_recordingList));
    if (w.isRecording()) {
        w.setRecording(false);
        w.setPlayEnabled(true);
    }
    w.untickGrid();
}

void Program::showAbout() {
    const ModalStep modal(m_modalStepOpen);
    m_dialogs.showMessage(m_window.get(), QStringLiteral("About"),
                          QStringLiteral("DoodleChorus v1.01 by the DoodleChorus developers\n"
                                         "Make your drawings truly sing!"));
}

void Program::showHelp() {
    // A separate window with a loop of its own; the main window stays enabled and repaints,
    // but its events are dropped until Help is closed.
    HelpWindow help;
    QEventLoop helpLoop;
    connect(&help, &HelpWindow::closed, &helpLoop, &QEventLoop::quit);
    help.show();
    centreOnScreen(help);
    const ModalStep modal(m_modalStepOpen);
    helpLoop.exec();
}

} // namespace doodle
