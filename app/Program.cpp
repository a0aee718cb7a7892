#include "app/Program.h"

#include "app/Dialogs.h"
#include "app/HelpWindow.h"
#include "app/MainWindow.h"
#include "mapping/DrawingArea.h"
#include "recording/PlaybackStep.h"
#include "recording/RecordingFile.h"
#include "voice/Synth.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

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

constexpr double kSliderTenths = 10.0; // slider 10..50 is speed 1.0..5.0
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
    // 1. Drawing area.
    if (isControl(event, kDrawingArea)) {
        const DrawingOutcome outcome = handleDrawingEvent(
            event.pointer, event.x, event.y, event.buttons, w.m_playToggle->isChecked(),
            mapControls(), m_voice, m_vowel, m_drawing, [this] { appendGestureLine(); });
        showNote(outcome.noteIndex);
        if (outcome.drawDot) {
            w.m_drawingArea->drawInkDot(m_drawing.pointX, m_drawing.pointY);
        }
        if (outcome.clearNoteLabel) {
            w.m_noteLabel->clear();
        }
    }
    // 2. Record toggle.
    if (isControl(event, kRecordToggle)) {
        if (w.m_recordToggle->isChecked()) {
            startRecording();
        } else {
            stopRecording();
        }
    }
    // 3. Play toggle.
    if (isControl(event, kPlayToggle)) {
        if (w.m_playToggle->isChecked()) {
            startPlayback();
        } else {
            stopPlayback();
        }
    }
    // 4. Clear.
    if (isControl(event, kClearButton)) {
        w.m_noteLabel->clear();
        w.m_drawingArea->fillWhite();
        m_drawing.inkList.clear();
        if (w.m_gridCheckBox->isChecked()) {
            w.m_drawingArea->drawGridLines(gridLinesFor(mapControls().scaleMode));
        }
    }
    // 5. Speed slider.
    if (isControl(event, kSpeedSlider)) {
        m_playSpeed = w.m_speedSlider->value() / kSliderTenths;
    }
    // 6, 7. Major, Minor.
    if (isControl(event, kMajorOption) || isControl(event, kMinorOption)) {
        onScaleOptionChosen();
    }
    // 8. Root note.
    if (isControl(event, kRootNoteCombo)) {
        rebuildScale(); // the grid does not depend on the root
    }
    // 9. Pentatonic.
    if (isControl(event, kPentatonicOption)) {
        onScaleOptionChosen();
    }
    // 10. Grid, first test.
    if (isControl(event, kGridCheckBox)) {
        onGridClickedFirst();
    }
    // 11. Unrestricted.
    if (isControl(event, kUnrestrictedOption)) {
        onUnrestrictedChosen();
    }
    // 12. Grid, second test.
    if (isControl(event, kGridCheckBox)) {
        onGridClickedSecond();
    }
    // 13. Menu.
    if (event.kind == EventKind::Menu) {
        onMenu(event.id);
    }
    // 14. Ticker.
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
    w.m_drawingArea->fillWhite();
    w.m_recordToggle->setText(QStringLiteral("recording"));
    w.m_noteLabel->clear();
    m_drawing.inkList.clear();
    m_recorder.startRecording(m_recordingList); // the clock starts; the old recording goes
    w.m_playToggle->setEnabled(false);
    if (w.m_gridCheckBox->isChecked()) {
        w.m_drawingArea->drawGridLines(gridLinesFor(mapControls().scaleMode));
    }
}

void Program::stopRecording() {
    MainWindow& w = *m_window;
    w.m_recordToggle->setText(QStringLiteral("record"));
    w.m_playToggle->setEnabled(true);
}

void Program::appendGestureLine() {
    // Only while the record toggle is down; the point is the current, clamped one.
    m_recorder.appendGestureLine(m_recordingList, m_window->m_recordToggle->isChecked(),
                                 m_drawing.pointX, m_drawing.pointY, m_voice.released());
}

void Program::startPlayback() {
    MainWindow& w = *m_window;
    w.m_playToggle->setText(QStringLiteral("playing"));
    w.m_drawingArea->fillWhite(); // the ink list stays
    stopVoice(m_voice);
    m_playIndex = 0;
    m_ticker->resume(); // counts from 0 again
    w.m_gridCheckBox->setChecked(false);
    w.m_gridCheckBox->setEnabled(false);
}

void Program::stopPlayback() {
    MainWindow& w = *m_window;
    w.m_playToggle->setChecked(false);
    w.m_playToggle->setText(QStringLiteral("play"));
    m_ticker->pause();
    stopVoice(m_voice);
    w.m_gridCheckBox->setEnabled(true);
}

void Program::playbackTick() {
    // A tick posted before the ticker was paused finds it paused and does nothing. The very
    // first tick finds no line left and ends playback: ticker paused, voice released.
    const PlaybackStep step =
        playbackStep(m_recordingList, m_playIndex, m_tickerShared.tickCount.load(), m_playSpeed,
                     m_tickerShared.tickerPaused.load() != 0);
    switch (step.action) {
    case PlaybackAction::None:
        break;
    case PlaybackAction::Stop:
        stopPlayback();
        break;
    case PlaybackAction::Release:
        stopVoice(m_voice); // no dot; the note label keeps its name
        break;
    case PlaybackAction::Sound: {
        startVoice(m_voice);
        m_drawing.pointX = step.x;
        m_drawing.pointY = step.y;
        showNote(mapPoint(m_voice, step.x, step.y, mapControls(), m_vowel));
        m_window->m_drawingArea->drawInkDot(step.x, step.y);
        break;
    }
    }
}

void Program::showNote(std::optional<int32_t> noteIndex) {
    if (!noteIndex) {
        return; // Unrestricted leaves the label as it is
    }
    const std::string_view name = noteNames.at(static_cast<std::size_t>(*noteIndex));
    m_window->m_noteLabel->setText(
        QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
}

MapControls Program::mapControls() const {
    const MainWindow& w = *m_window;
    MapControls controls;
    controls.scaleMode = w.m_majorOption->isChecked()        ? ScaleMode::Major
                         : w.m_minorOption->isChecked()      ? ScaleMode::Minor
                         : w.m_pentatonicOption->isChecked() ? ScaleMode::Pentatonic
                                                             : ScaleMode::Unrestricted;
    controls.scale = m_scale;
    controls.voiceType.type1Checked = w.m_menuType1->isChecked();
    controls.voiceType.type2Checked = w.m_menuType2->isChecked();
    return controls;
}

void Program::rebuildScale() {
    m_scale =
        buildScale(mapControls().scaleMode, m_window->m_rootNoteCombo->currentIndex(), m_scale);
}

void Program::onScaleOptionChosen() {
    MainWindow& w = *m_window;
    rebuildScale();
    if (!w.m_playToggle->isChecked()) {
        w.m_gridCheckBox->setEnabled(true);
    }
    redrawGridOverlay();
    w.m_rootNoteCombo->setEnabled(true);
}

void Program::onUnrestrictedChosen() {
    MainWindow& w = *m_window;
    w.m_gridCheckBox->setChecked(false);
    w.m_gridCheckBox->setEnabled(false);
    w.m_rootNoteCombo->setEnabled(false);
    w.m_noteLabel->clear();
    if (!w.m_playToggle->isChecked()) {
        w.m_drawingArea->fillWhite(); // removes any grid
        w.m_drawingArea->redrawInk(m_drawing.inkList);
    }
}

void Program::redrawGridOverlay() {
    MainWindow& w = *m_window;
    const ScaleMode mode = mapControls().scaleMode;
    if (w.m_gridCheckBox->isChecked() && mode != ScaleMode::Unrestricted) {
        w.m_drawingArea->fillWhite();
        w.m_drawingArea->drawGridLines(gridLinesFor(mode));
        w.m_drawingArea->redrawInk(m_drawing.inkList);
    }
}

void Program::onGridClickedSecond() {
    MainWindow& w = *m_window;
    if (w.m_gridCheckBox->isChecked()) {
        // Over the present picture, playback's dots included; the ink comes back on top.
        w.m_drawingArea->drawGridLines(gridLinesFor(mapControls().scaleMode));
    } else {
        w.m_drawingArea->fillWhite(); // also removes dots drawn by playback
    }
    w.m_drawingArea->redrawInk(m_drawing.inkList);
}

void Program::onGridClickedFirst() {
    MainWindow& w = *m_window;
    if (w.m_unrestrictedOption->isChecked()) {
        w.m_gridCheckBox->setChecked(false);
        w.m_gridCheckBox->setEnabled(false);
    }
}

void Program::onMenu(int32_t id) {
    MainWindow& w = *m_window;
    if (w.m_playToggle->isChecked()) {
        stopPlayback(); // every menu choice ends playback before its own action
    }
    switch (id) {
    case kMenuType1:
        if (w.m_menuType2->isChecked()) {
            w.m_menuType1->setChecked(true);
            w.m_menuType2->setChecked(false);
        }
        break;
    case kMenuType2:
        if (w.m_menuType1->isChecked()) {
            w.m_menuType2->setChecked(true);
            w.m_menuType1->setChecked(false);
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
    if (opened.lines) {
        try {
            RecordingList ink = *opened.lines; // before either list changes
            m_recordingList = std::move(*opened.lines);
            m_drawing.inkList = std::move(ink);
        } catch (const std::bad_alloc&) {
            tooBig = true;
        }
    }
    if (tooBig) {
        const ModalStep modal(m_modalStepOpen);
        m_dialogs.showMessage(&w, QStringLiteral("Informer"),
                              QStringLiteral("Your DoodleChorus file is not opened!"));
    }
    w.m_drawingArea->fillWhite();
    w.m_drawingArea->redrawInk(m_recordingList); // release lines too: they repeat a point
    if (w.m_recordToggle->isChecked()) {
        w.m_recordToggle->setChecked(false);
        w.m_recordToggle->setText(QStringLiteral("record"));
        w.m_playToggle->setEnabled(true);
    }
    w.m_gridCheckBox->setChecked(false);
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
