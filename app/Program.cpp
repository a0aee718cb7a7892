#include "app/Program.h"

#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "mapping/DrawingArea.h"
#include "voice/Synth.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
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
    m_window->centreOnScreen(); // the frame's size is known once shown

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
    MainWindow& w = *m_window;
    // 1. Drawing area.
    if (isControl(event, kDrawingArea)) {
        const DrawingOutcome outcome = handleDrawingEvent(
            event.pointer, event.x, event.y, event.buttons, w.m_playToggle->isChecked(),
            mapControls(), m_voice, m_vowel, m_drawing, [] {});
        if (outcome.noteIndex) {
            const std::string_view name =
                noteNames.at(static_cast<std::size_t>(*outcome.noteIndex));
            w.m_noteLabel->setText(
                QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
        }
        if (outcome.drawDot) {
            w.m_drawingArea->drawInkDot(m_drawing.pointX, m_drawing.pointY);
        }
        if (outcome.clearNoteLabel) {
            w.m_noteLabel->clear();
        }
    }
    // 2. Record toggle.
    if (isControl(event, kRecordToggle)) {
        // Recording arrives with the recorder.
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
        // Drawing or removing the grid arrives with the grid overlay.
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

void Program::startPlayback() {
    MainWindow& w = *m_window;
    w.m_playToggle->setText(QStringLiteral("playing"));
    w.m_drawingArea->fillWhite(); // the ink list stays
    stopVoice(m_voice);
    // Reset before resuming, so the ticker starts from a zero count.
    m_tickerShared.tickCount.store(0);
    m_playIndex = 0;
    m_tickerShared.tickerPaused.storeRelease(0); // the ticker sees the reset before the resume
    w.m_gridCheckBox->setChecked(false);
    w.m_gridCheckBox->setEnabled(false);
}

void Program::stopPlayback() {
    MainWindow& w = *m_window;
    w.m_playToggle->setChecked(false);
    w.m_playToggle->setText(QStringLiteral("play"));
    m_tickerShared.tickerPaused.store(1);
    stopVoice(m_voice);
    w.m_gridCheckBox->setEnabled(true);
}

void Program::playbackTick() {
    if (m_tickerShared.tickerPaused.load() == 1) {
        return; // posted before the ticker was paused
    }
    if (m_playIndex >= static_cast<int32_t>(m_recordingList.size())) {
        stopPlayback(); // also the very first tick: ticker paused, voice released
        return;
    }
    // Playing recorded lines arrives with the recorder.
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
    w.m_rootNoteCombo->setEnabled(true);
}

void Program::onUnrestrictedChosen() {
    MainWindow& w = *m_window;
    w.m_gridCheckBox->setChecked(false);
    w.m_gridCheckBox->setEnabled(false);
    w.m_rootNoteCombo->setEnabled(false);
    w.m_noteLabel->clear();
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
    default:
        // Open, Save, About and Help arrive with the files and the Help window.
        break;
    }
}

} // namespace doodle
