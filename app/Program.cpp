#include "app/Program.h"

#include "app/Dialogs.h"
#include "app/ExportRunner.h"
#include "app/HelpWindow.h"
#include "app/MainWindow.h"
#include "files/OpenedFile.h"
#include "files/Quoted.h"
#include "files/RecordingFiles.h"
#include "program/Captions.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace doodle {
namespace {

// A save's temporary file, beside the file it replaces until it is complete.
constexpr std::string_view kTempPrefix = ".DoodleChorus-";

// How often the program looks for a JACK server while it has none (ms): a server that starts
// is joined within this.
constexpr int kJackWatchIntervalMs = 1000;

// What the window's foot and About say of the JACK server: short, as the window is narrow.
constexpr std::string_view kJackLostText = "JACK server gone; sound via the default device.";
constexpr std::string_view kJackLostSilentText = "JACK server gone; silent until it returns.";
constexpr std::string_view kJackBackText = "Joined the JACK server again.";
// How long the window says it joined the server again (ms).
constexpr int kJackBackShownMs = 5000;
constexpr std::string_view kJackLostStatus =
    "MIDI: the JACK server has gone; DoodleChorus joins it again when it returns";
constexpr std::string_view kNoJackStatus = "MIDI: no JACK server";

// File > Open Recent holds this many files, most recent first.
constexpr qsizetype kMaxRecentFiles = 10;

// What is remembered between runs, under these keys.
const QString kScaleKey = QStringLiteral("scale");
const QString kRootKey = QStringLiteral("root");
const QString kVoiceTypeKey = QStringLiteral("voiceType");
const QString kTuningKey = QStringLiteral("tuning"); // tuningWord: "classic" or "concert"
const QString kMidiInChannelKey = QStringLiteral("midiInChannel"); // 0: all but drums, 1..16
const QString kSpeedKey = QStringLiteral("speedTenths");
const QString kGridKey = QStringLiteral("grid");
const QString kGeometryKey = QStringLiteral("geometry");
const QString kLastFolderKey = QStringLiteral("lastFolder");
const QString kRecentFilesKey = QStringLiteral("recentFiles");

// The scale options by the names the settings file holds, and the events that choose them.
struct ScaleChoice {
    ScaleMode mode;
    const char* name;
    int32_t controlId;
};
constexpr std::array kScaleChoices{
    ScaleChoice{ScaleMode::Unrestricted, "Unrestricted", kUnrestrictedOption},
    ScaleChoice{ScaleMode::Major, "Major", kMajorOption},
    ScaleChoice{ScaleMode::Minor, "Minor", kMinorOption},
    ScaleChoice{ScaleMode::Pentatonic, "Pentatonic", kPentatonicOption},
};

// The Open dialog's filter: recordings first, the MIDI files the program sings too.
QString openFilter() {
    return QStringLiteral("DoodleChorus (*.sav);;MIDI file (*.mid *.midi);;All files (*)");
}

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

Program::Program(Dialogs& dialogs, AudioFactory makeAudio, QSettings* settings)
    : m_dialogs(dialogs), m_makeAudio(std::move(makeAudio)), m_settings(settings) {
    if (m_settings != nullptr) {
        m_lastFolder = m_settings->value(kLastFolderKey).toString();
        m_recentFiles = m_settings->value(kRecentFilesKey).toStringList().mid(0, kMaxRecentFiles);
    }
}

Program::~Program() {
    shutdown();
}

bool Program::start() {
    // The state starts at zero and at its defaults as its members are constructed; the
    // tables are constants. What is left is the fixed order of the rest.
    // Where a JACK server runs, the program is its client for sound and MIDI; elsewhere
    // PortAudio's output sings, and the program goes without MIDI until a server runs.
    const bool jack = m_jack.open() == 0;
    if (!jack) {
        std::string error;
        if (!startPortAudio(error)) {
            m_dialogs.showMessage(nullptr, QString(), QString::fromStdString(error));
            return false; // the library is left as it is: the process ends right after
        }
    }

    m_window =
        std::make_unique<MainWindow>([this](const Event& event) { m_logic.dispatch(event); });
    m_window->setOpenPathHandler(
        [this](const QString& path) { openPath(QFile::encodeName(path).toStdString()); });
    m_window->setRecentFiles(m_recentFiles);
    const bool placed = m_settings != nullptr &&
                        m_window->restoreGeometry(m_settings->value(kGeometryKey).toByteArray());
    m_window->show();
    if (!placed) {
        centreOnScreen(*m_window); // the frame's size is known once shown
    }

    // A stream that does not start leaves the program running without sound, its play clock
    // counted on the steady clock instead.
    if (jack) {
        static_cast<void>(joinJack());
    } else {
        static_cast<void>(m_audio->start());
    }
    m_logic.start();
    restoreSettings();

    m_jackWatch.setInterval(kJackWatchIntervalMs);
    connect(&m_jackWatch, &QTimer::timeout, this, [this] { watchForJack(); });
    if (!m_jack.isOpen()) {
        m_jackWatch.start();
    }
    return true;
}

bool Program::startPortAudio(std::string& error) {
    m_audio = m_makeAudio(m_logic.voice(), m_clock);
    const int openError = m_audio->open();
    if (openError != 0) {
        error = m_audio->errorText(openError);
        m_audio.reset();
        return false;
    }
    return true;
}

bool Program::joinJack() {
    if (m_jack.start() != 0) {
        m_jack.terminate();
        return false;
    }
    m_jack.singMidiInputWith(m_midiInputControls);
    m_midiNotifier = std::make_unique<QSocketNotifier>(m_jack.wakeFd(), QSocketNotifier::Read);
    connect(m_midiNotifier.get(), &QSocketNotifier::activated, this, [this] { takeMidi(); });
    return true;
}

void Program::watchForJack() {
    if (m_shutDown || m_jack.isOpen() || m_jack.open() != 0) {
        return;
    }
    // PortAudio's stream ends first: one callback at a time renders the voice.
    if (m_audio) {
        m_audio->terminate();
        m_audio.reset();
    }
    if (!joinJack()) {
        std::string error;
        if (startPortAudio(error)) {
            static_cast<void>(m_audio->start());
        }
        return;
    }
    m_jackWatch.stop();
    if (m_jackLost) {
        m_jackLost = false;
        m_window->showStatus(toQString(kJackBackText));
        QTimer::singleShot(kJackBackShownMs, m_window.get(), [this] {
            if (m_jack.isOpen()) {
                m_window->showStatus({});
            }
        });
    }
}

void Program::leaveLostJack() {
    m_midiNotifier.reset();
    m_jack.terminate();
    m_jackLost = true;
    // The keys held are gone with the server: their notes end as their note offs would.
    m_logic.dispatch(Event::midiIn({kMidiControlChange, kMidiCcAllNotesOff, 0}, std::nullopt));
    m_logic.dispatch(Event::midiInEnd());
    std::string error;
    const bool sounding = startPortAudio(error) && m_audio->start() == 0;
    m_window->showStatus(toQString(sounding ? kJackLostText : kJackLostSilentText));
    m_jackWatch.start();
}

int Program::run(const std::optional<std::string>& startFile) {
    if (start()) {
        if (startFile) {
            openPath(*startFile);
        }
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
    m_jackWatch.stop();
    m_midiNotifier.reset();
    m_jack.terminate(); // its process thread has ended when this returns
    m_tickPump.stop();  // no tick reaches the program from here on
    if (m_audio) {
        m_audio->terminate(); // stops and closes the running stream
    }
}

void Program::onTick(const PlayClock::Tick& tick) {
    if (m_shutDown) {
        return;
    }
    m_tick = tick;
    m_logic.dispatch(Event::tick(tick.tick));
    m_tick.reset();
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

void Program::markTuning(Tuning tuning) {
    m_window->markTuning(tuning);
}

void Program::markMidiInChannel(int32_t channel) {
    m_window->markMidiInChannel(channel);
}

void Program::showMessage(std::string_view title, std::string_view text) {
    m_dialogs.showMessage(m_window.get(), toQString(title), toQString(text));
}

std::optional<std::string> Program::chooseSaveFile(FileKind kind, std::string_view proposedName) {
    // A bare name goes into the dialogs' folder; the path of the recording's file stays put.
    QString proposedPath = QFile::decodeName(std::string(proposedName).c_str());
    if (!proposedPath.contains(u'/')) {
        proposedPath = QDir(dialogStartFolder()).filePath(proposedPath);
    }
    const FileKindCaption caption = captionOf(kind);
    std::optional<std::string> chosen = fromChosenPath(
        m_dialogs.chooseSaveFile(m_window.get(), toQString(caption.dialogTitle), proposedPath,
                                 filterOf(kind), toQString(caption.extension)));
    if (chosen) {
        rememberFolderOf(*chosen);
    }
    return chosen;
}

StoreResult Program::storeFile(const std::string& destination, const StoredFile& file) {
    if (file.kind != FileKind::Recording) {
        return runExport(m_window.get(), m_dialogs, destination, file, kTempPrefix);
    }
    const std::optional<std::vector<uint8_t>> bytes = bytesOf(file);
    if (!bytes) {
        return {StoreStatus::Failed,
                "The recording cannot be rendered into " + inQuotes(destination) + ".",
                {}};
    }
    return storeBytes(destination, *bytes, kTempPrefix, "recording");
}

std::optional<ChosenRecording> Program::chooseOpenFile() {
    std::optional<std::string> path = std::exchange(m_pendingOpen, std::nullopt);
    if (!path) {
        path = fromChosenPath(m_dialogs.chooseOpenFile(m_window.get(), toQString(kOpenTitle),
                                                       dialogStartFolder(), openFilter()));
        if (!path) {
            return std::nullopt;
        }
        rememberFolderOf(*path);
    }
    return readChosen(*path);
}

ChosenRecording Program::readChosen(const std::string& path) {
    // A MIDI file sings as the controls map a keyboard's notes now.
    const RenderSettings& settings = m_logic.controls().settings;
    MidiInputChoice midiChoice;
    midiChoice.performance.scaleMode = settings.scaleMode;
    midiChoice.performance.scale = buildScale(settings.scaleMode, settings.rootIndex, Scale{});
    OpenedInput opened = openRecordingOrMidiFile(path, midiChoice);
    ChosenRecording chosen;
    chosen.recording = std::move(opened.recording);
    chosen.tooLarge = opened.outOfMemory;
    chosen.problem = std::move(opened.reason);
    chosen.name = path;
    return chosen;
}

void Program::openPath(const std::string& path) {
    if (m_shutDown || m_window == nullptr) {
        return;
    }
    // Absolute, so that Save proposes the file's own folder after a dialog elsewhere.
    const std::string absolutePath =
        QFile::encodeName(QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath())
            .toStdString();
    rememberFolderOf(absolutePath);
    m_pendingOpen = absolutePath;
    m_logic.dispatch(Event::menu(kMenuOpen));
    m_pendingOpen.reset(); // unused when the program was busy with a dialog, or was cancelled
}

SaveChoice Program::askSaveChanges() {
    return m_dialogs.askSaveChanges(m_window.get(), toQString(kSaveChangesTitle),
                                    toQString(kSaveChangesText));
}

void Program::showDocument(std::string_view name, bool unsaved) {
    const std::string path(name);
    m_window->showDocument(QFile::decodeName(path.c_str()), unsaved);
    if (!path.empty()) {
        addRecentFile(path);
    }
}

void Program::setUndoAvailable(bool available) {
    m_window->setUndoEnabled(available);
}

QString Program::dialogStartFolder() const {
    if (!m_lastFolder.isEmpty() && QFileInfo(m_lastFolder).isDir()) {
        return m_lastFolder;
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void Program::rememberFolderOf(const std::string& path) {
    const QString folder = QFileInfo(QFile::decodeName(path.c_str())).absolutePath();
    if (folder.isEmpty() || folder == m_lastFolder) {
        return;
    }
    m_lastFolder = folder;
    if (m_settings != nullptr) {
        m_settings->setValue(kLastFolderKey, m_lastFolder);
    }
}

void Program::addRecentFile(const std::string& path) {
    const QString file = QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath();
    if (!m_recentFiles.isEmpty() && m_recentFiles.constFirst() == file) {
        return;
    }
    m_recentFiles.removeAll(file);
    m_recentFiles.prepend(file);
    m_recentFiles = m_recentFiles.mid(0, kMaxRecentFiles);
    m_window->setRecentFiles(m_recentFiles);
    if (m_settings != nullptr) {
        m_settings->setValue(kRecentFilesKey, m_recentFiles);
    }
}

void Program::restoreSettings() {
    if (m_settings == nullptr) {
        return;
    }
    // Told to the program as the person's own choices, so that it follows its own rules (Grid
    // refused in Unrestricted); the window shows them as a click would have.
    const QString scaleName = m_settings->value(kScaleKey).toString();
    for (const ScaleChoice& choice : kScaleChoices) {
        if (scaleName == QLatin1String(choice.name) && choice.mode != ScaleMode::Unrestricted) {
            const int rootIndex = std::clamp(m_settings->value(kRootKey, 0).toInt(), 0,
                                             static_cast<int>(noteNames.size()) - 1);
            m_window->showScale(choice.mode, rootIndex);
            m_logic.dispatch(Event::control(choice.controlId));
            m_logic.dispatch(Event::rootNote(rootIndex));
        }
    }
    if (m_settings->value(kVoiceTypeKey).toInt() == static_cast<int>(VoiceType::Type2)) {
        m_logic.dispatch(Event::menu(kMenuType2));
    }
    // Anything but Concert's word (none kept yet, a hand-edited file) leaves Classic.
    if (m_settings->value(kTuningKey).toString() == toQString(tuningWord(Tuning::Concert))) {
        m_logic.dispatch(Event::menu(kMenuTuningConcert));
    }
    // A value no item chooses (a hand-edited file) leaves the default.
    const int midiInChannel = m_settings->value(kMidiInChannelKey, kMidiAllChannels).toInt();
    if (midiInChannel >= kMidiAllChannels && midiInChannel <= kMidiChannels) {
        m_logic.dispatch(Event::menu(menuIdOfMidiInChannel(midiInChannel)));
    }
    const int speedTenths = std::clamp(m_settings->value(kSpeedKey, kMinPlaySpeedTenths).toInt(),
                                       kMinPlaySpeedTenths, kMaxPlaySpeedTenths);
    m_window->showSpeed(speedTenths);
    m_logic.dispatch(Event::speedSlider(speedTenths));
    if (m_settings->value(kGridKey, false).toBool()) {
        m_window->setGrid(true, m_logic.controls().gridEnabled); // as the click leaves it
        m_logic.dispatch(Event::gridBox(true));
    }
}

void Program::storeSettings() {
    if (m_settings == nullptr || m_window == nullptr) {
        return;
    }
    const ControlStates& controls = m_logic.controls();
    for (const ScaleChoice& choice : kScaleChoices) {
        if (choice.mode == controls.settings.scaleMode) {
            m_settings->setValue(kScaleKey, QLatin1String(choice.name));
        }
    }
    m_settings->setValue(kRootKey, controls.settings.rootIndex);
    m_settings->setValue(kVoiceTypeKey, static_cast<int>(controls.settings.voiceType));
    m_settings->setValue(kTuningKey, toQString(tuningWord(controls.settings.tuning)));
    m_settings->setValue(kMidiInChannelKey, controls.midiInChannel);
    m_settings->setValue(kSpeedKey, static_cast<int>(std::lround(controls.settings.playSpeed *
                                                                 kTenthsPerPlaySpeed)));
    m_settings->setValue(kGridKey, controls.gridChecked);
    m_settings->setValue(kGeometryKey, m_window->saveGeometry());
    m_settings->sync();
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
    m_tickPump.resume();
}

void Program::pauseTicks() {
    m_tickPump.pause();
}

void Program::quit() {
    storeSettings();
    QCoreApplication::exit(0);
}

void Program::sendMidi(std::span<const MidiMessage> messages) {
    // A tick's MIDI goes out at the frame of the tick, however late the main thread handled it:
    // as the MIDI export places it, on the sample clock.
    if (m_tick && m_jack.isOpen()) {
        m_jack.sendAtFrame(messages, m_tick->hostFrame);
    } else {
        m_jack.sendNow(messages);
    }
}

std::string Program::midiStatus() const {
    if (m_jack.isOpen()) {
        return m_jack.status();
    }
    return m_jackLost ? std::string(kJackLostStatus) : std::string(kNoJackStatus);
}

bool Program::hostSingsMidiInput() const {
    return m_jack.isOpen();
}

void Program::singMidiInputWith(const MidiInputControls& controls) {
    m_midiInputControls = controls;
    m_jack.singMidiInputWith(controls);
}

void Program::takeMidi() {
    if (m_shutDown) {
        return;
    }
    const JackHost::Ready ready = m_jack.takeReady(
        [this](const MidiMessage& message, std::optional<int32_t> nowMs, bool endsPeriod) {
            m_logic.dispatch(Event::midiIn(message, nowMs));
            if (endsPeriod) {
                m_logic.dispatch(Event::midiInEnd());
            }
        });
    if (ready.serverLost) {
        leaveLostJack();
        return;
    }
    if (ready.outputConnected) {
        const std::vector<MidiMessage> opening = m_logic.midiOutOpening();
        sendMidi(opening);
    }
}

} // namespace doodle
