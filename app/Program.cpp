#include "app/Program.h"

#include "app/Dialogs.h"
#include "app/ExportRunner.h"
#include "app/HelpWindow.h"
#include "app/MainWindow.h"
#include "files/RecordingFiles.h"
#include "program/Captions.h"

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

// A save's temporary file, beside the file it replaces until it is complete.
constexpr std::string_view kTempPrefix = ".DoodleChorus-";

// The program's texts are ASCII; UTF-8 keeps any other text whole.
QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The one-entry filter of a dialog for a kind of file: "DoodleChorus (*.sav)".
QString filterOf(FileKind kind) {
    const FileKindCaption caption = captionOf(kind);
    return toQString(caption.filterName) + QStringLiteral(" (*") + toQString(caption.extension) +
           QStringLiteral(")");
}

// A file dialog's answer as the program's path: the bytes the file system knows the file by.
std::optional<std::string> fromChosenPath(const QString& chosen) {
    if (chosen.isEmpty()) {
        return std::nullopt; // cancelled
    }
    return QFile::encodeName(chosen).toStdString();
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
    m_audio = m_makeAudio(m_logic.voice());
    const int openError = m_audio->open();
    if (openError != 0) {
        m_dialogs.showMessage(nullptr, QString(),
                              QString::fromStdString(m_audio->errorText(openError)));
        m_audio.reset(); // the library is left as it is: the process ends right after
        return false;
    }

    m_window =
        std::make_unique<MainWindow>([this](const Event& event) { m_logic.dispatch(event); });
    m_window->show();
    centreOnScreen(*m_window); // the frame's size is known once shown

    m_ticker = std::make_unique<Ticker>(m_tickerShared, [this] {
        auto* tick = new QEvent(static_cast<QEvent::Type>(kTickerEventType));
        handOverToMainThread(tick);
        QCoreApplication::postEvent(this, tick);
    });
    m_logic.start();
    // A ticker that cannot start only means that playback never advances.
    static_cast<void>(m_ticker->start());

    // A stream that does not start leaves the program running without sound.
    static_cast<void>(m_audio->start());

    // MIDI only where a JACK server already runs; without one the program is as it always was.
    if (m_midi.open()) {
        m_midiNotifier = std::make_unique<QSocketNotifier>(m_midi.wakeFd(), QSocketNotifier::Read);
        connect(m_midiNotifier.get(), &QSocketNotifier::activated, this, [this] { takeMidi(); });
    }
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
    m_midiNotifier.reset();
    m_midi.close(); // its process thread has ended when this returns
    if (m_ticker) {
        m_ticker->stop(); // joined: it posts nothing from here on
    }
    if (m_audio) {
        m_audio->terminate(); // stops and closes the running stream
    }
}

void Program::customEvent(QEvent* event) {
    takeOverOnMainThread(event);
    if (static_cast<int>(event->type()) != kTickerEventType || m_shutDown) {
        return;
    }
    // A tick posted before the ticker was paused finds it paused and is dropped; one handled
    // after a resume plays at the count of its handling.
    if (m_tickerShared.tickerPaused.load() != 0) {
        return;
    }
    m_logic.dispatch(Event::tick(m_tickerShared.tickCount.load()));
}

void Program::paintCanvas(const CanvasPaint& paint) {
    m_window->paintCanvas(paint);
}

void Program::showNote(std::string_view name) {
    m_window->showNote(name);
}

void Program::setRecording(bool down) {
    m_window->setRecording(down);
}

void Program::setPlaying(bool down) {
    m_window->setPlaying(down);
}

void Program::setPlayEnabled(bool enabled) {
    m_window->setPlayEnabled(enabled);
}

void Program::setGrid(bool checked, bool enabled) {
    m_window->setGrid(checked, enabled);
}

void Program::setRootEnabled(bool enabled) {
    m_window->setRootEnabled(enabled);
}

void Program::markVoiceType(VoiceType type) {
    m_window->markVoiceType(type);
}

void Program::showMessage(std::string_view title, std::string_view text) {
    m_dialogs.showMessage(m_window.get(), toQString(title), toQString(text));
}

std::optional<std::string> Program::chooseSaveFile(FileKind kind, std::string_view proposedName) {
    const std::string proposedPath = dialogFolder() + std::string(proposedName);
    return fromChosenPath(
        m_dialogs.chooseSaveFile(m_window.get(), toQString(captionOf(kind).dialogTitle),
                                 QFile::decodeName(proposedPath.c_str()), filterOf(kind)));
}

bool Program::storeFile(const std::string& destination, const StoredFile& file) {
    if (file.kind != FileKind::Recording) {
        return runExport(m_window.get(), m_dialogs, destination, file, kTempPrefix).status ==
               ExportResult::Status::Stored;
    }
    const std::optional<std::vector<uint8_t>> bytes = bytesOf(file);
    return bytes && replaceFileWith(destination, *bytes, kTempPrefix);
}

std::optional<ChosenRecording> Program::chooseOpenFile() {
    const std::optional<std::string> path = fromChosenPath(m_dialogs.chooseOpenFile(
        m_window.get(), toQString(kOpenTitle), QFile::decodeName(dialogFolder().c_str()),
        filterOf(FileKind::Recording)));
    if (!path) {
        return std::nullopt;
    }
    OpenedRecording opened = readRecordingFile(*path);
    return ChosenRecording{std::move(opened.recording), opened.problem == OpenProblem::OutOfMemory};
}

void Program::showHelp() {
    // A separate window with a loop of its own; the main window stays enabled and repaints.
    HelpWindow help;
    QEventLoop helpLoop;
    connect(&help, &HelpWindow::closed, &helpLoop, &QEventLoop::quit);
    help.show();
    centreOnScreen(help);
    helpLoop.exec();
}

void Program::resumeTicks() {
    m_ticker->resume();
}

void Program::pauseTicks() {
    m_ticker->pause();
}

void Program::quit() {
    QCoreApplication::exit(0);
}

void Program::sendMidi(std::span<const MidiMessage> messages, std::optional<int32_t> playTick) {
    // A tick's MIDI goes out at the tick's time on the ticker's schedule, however late the
    // main thread handled it.
    std::optional<int64_t> dueNs;
    if (playTick) {
        dueNs = m_tickerShared.tickZeroNs.load() + int64_t{*playTick} * kTickPeriodNs;
    }
    m_midi.send(messages, dueNs);
}

std::string Program::midiStatus() const {
    return m_midi.status();
}

void Program::takeMidi() {
    if (m_shutDown) {
        return;
    }
    const JackMidiPorts::Ready ready =
        m_midi.takeReady([this](const MidiMessage& message, std::optional<int32_t> nowMs) {
            m_logic.dispatch(Event::midiIn(message, nowMs));
        });
    if (ready.messages > 0) {
        m_logic.dispatch(Event::midiInEnd());
    }
    if (ready.outputConnected) {
        const std::vector<MidiMessage> opening = m_logic.midiOutOpening();
        sendMidi(opening, std::nullopt);
    }
}

} // namespace doodle
