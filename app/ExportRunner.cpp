#include "app/ExportRunner.h"

#include "app/Dialogs.h"
#include "files/Quoted.h"
#include "files/RecordingFiles.h"
#include "program/ExportCaptions.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace doodle {
namespace {

// Exports that end sooner show no dialog: a minute of drawing renders in about 50 ms.
constexpr std::chrono::milliseconds kShowDelay{300};
// How often the main thread looks at the worker: the dialog's percentage and the end.
constexpr std::chrono::milliseconds kPollPeriod{20};
constexpr int kPercent = 100;

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// What the worker and the main thread share while a step of an export runs.
struct WorkerState {
    std::atomic<int64_t> doneSamples{0};
    std::atomic<int64_t> totalSamples{0};
    std::atomic<bool> stopWanted{false};
    std::atomic<bool> finished{false};
};

// A progress dialog that can be made to hold on while the file is written, which cannot be
// stopped halfway: then it has no Cancel button, and Escape and closing do nothing.
class ExportProgressDialog final : public QProgressDialog {
public:
    explicit ExportProgressDialog(QWidget* parent) : QProgressDialog(parent) {
        setWindowModality(Qt::ApplicationModal);
        setAutoReset(false);
        setAutoClose(false);
        // Shown by the export itself after kShowDelay, never by the dialog's own estimate.
        setMinimumDuration(std::numeric_limits<int>::max());
        setRange(0, kPercent);
        setLabelText(toQString(kExportProgressText));
        setCancelButtonText(toQString(kExportCancelCaption));
    }

    void holdWhileWriting() {
        m_cancellable = false;
        setCancelButton(nullptr);
        setLabelText(toQString(kExportWritingText));
        setRange(0, 0); // busy: writing reports no progress
    }
    bool cancellable() const noexcept { return m_cancellable; }

protected:
    void reject() override {
        if (m_cancellable) {
            QProgressDialog::reject();
        }
    }
    void closeEvent(QCloseEvent* event) override {
        if (m_cancellable) {
            QProgressDialog::closeEvent(event);
        } else {
            event->ignore();
        }
    }

private:
    bool m_cancellable = true;
};

// Keeps the user's input from every window but the dialog while a step of the export runs,
// also before the dialog shows and makes the rest modal: the program is in the middle of
// handling the menu item that started it. Between steps a question gets the input.
class InputOnlyToDialog final : public QObject {
public:
    explicit InputOnlyToDialog(const QWidget& dialog) : m_dialog(dialog) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~InputOnlyToDialog() override { QCoreApplication::instance()->removeEventFilter(this); }
    InputOnlyToDialog(const InputOnlyToDialog&) = delete;
    InputOnlyToDialog& operator=(const InputOnlyToDialog&) = delete;

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        return isUserInput(event->type()) && !inDialog(receiver);
    }

private:
    static bool isUserInput(QEvent::Type type) {
        switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::ContextMenu:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
            return true;
        default:
            return false;
        }
    }
    bool inDialog(QObject* receiver) const {
        if (const auto* window = qobject_cast<QWindow*>(receiver)) {
            return window == m_dialog.windowHandle();
        }
        for (const QObject* object = receiver; object != nullptr; object = object->parent()) {
            if (object == &m_dialog) {
                return true;
            }
        }
        return false;
    }

    const QWidget& m_dialog;
};

// One export: its dialog, the user's input kept to it, and the steps run on the worker.
class ExportRun {
public:
    explicit ExportRun(QWidget* window) : m_dialog(window) {
        const auto stop = [this] {
            if (m_dialog.cancellable()) {
                m_state.stopWanted.store(true);
            }
        };
        QObject::connect(&m_dialog, &QProgressDialog::canceled, stop);
        QObject::connect(&m_dialog, &QDialog::rejected, stop);
    }

    // Runs `step` on a worker thread and the main thread's events until it ends. False when
    // the user cancelled: `step` was asked to stop (through the state's stopWanted) and ended.
    bool runBeside(const std::function<void(WorkerState&)>& step) {
        m_state.doneSamples.store(0);
        m_state.totalSamples.store(0);
        m_state.finished.store(false);
        m_stepStart = std::chrono::steady_clock::now();
        const InputOnlyToDialog inputOnlyToDialog(m_dialog);
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (m_state.finished.load()) {
                loop.quit();
                return;
            }
            follow();
        });
        std::thread worker;
        try {
            worker = std::thread([&] {
                step(m_state);
                m_state.finished.store(true);
            });
        } catch (const std::system_error&) {
            // No thread to be had: the step runs here, the window waiting, as exports once did.
            step(m_state);
            return true;
        }
        poll.start(kPollPeriod);
        loop.exec();
        worker.join();
        return !m_state.stopWanted.load();
    }

    // Hides the dialog before another one is shown; the next step shows it again once it has
    // taken kShowDelay. A dialog shown stays until the export ends.
    void hideDialog() { m_dialog.hide(); }
    void holdWhileWriting() { m_dialog.holdWhileWriting(); }

private:
    void follow() {
        if (m_state.stopWanted.load()) {
            return;
        }
        if (!m_dialog.isVisible() && std::chrono::steady_clock::now() - m_stepStart >= kShowDelay) {
            m_dialog.show();
        }
        const int64_t total = m_state.totalSamples.load();
        if (total > 0 && m_dialog.maximum() > 0) {
            m_dialog.setValue(static_cast<int>(m_state.doneSamples.load() * kPercent / total));
        }
    }

    std::chrono::steady_clock::time_point m_stepStart = std::chrono::steady_clock::now();
    WorkerState m_state;
    ExportProgressDialog m_dialog;
};

StoreResult failed(std::string_view reason) {
    return {StoreStatus::Failed, std::string(reason), {}};
}

} // namespace

StoreResult storeBytes(const std::string& destination, std::span<const uint8_t> bytes,
                       std::string_view tempPrefix, std::string_view contents) {
    const ReplaceOutcome outcome = replaceFileWithBytes(destination, bytes, tempPrefix, contents);
    if (!outcome.replaced) {
        return failed("Cannot write " + inQuotes(destination) + ": " + outcome.reason + ".");
    }
    StoreResult stored{StoreStatus::Stored, {}, {}};
    if (!outcome.keptCopy.empty()) {
        stored.notice = inQuotes(destination) + " holds the " + std::string(contents) +
                        ", but its temporary copy " + inQuotes(outcome.keptCopy) +
                        " could not be removed.";
    }
    return stored;
}

StoreResult runExport(QWidget* window, Dialogs& dialogs, const std::string& destination,
                      const StoredFile& file, std::string_view tempPrefix) {
    if (file.recording == nullptr) {
        return failed(kExportNotRenderedText);
    }
    ExportRun run(window);
    std::optional<RenderedExport> rendered;
    bool outOfMemory = false;
    const bool rendering = run.runBeside([&](WorkerState& state) {
        try {
            rendered = renderExport(file.kind, *file.recording, file.settings,
                                    [&](int64_t doneSamples, int64_t totalSamples) {
                                        state.doneSamples.store(doneSamples);
                                        state.totalSamples.store(totalSamples);
                                        return !state.stopWanted.load();
                                    });
        } catch (const std::exception&) {
            outOfMemory = true; // bad_alloc or length_error: the render does not fit in memory
        }
    });
    if (!rendering) {
        return {StoreStatus::Cancelled, {}, {}};
    }
    if (outOfMemory) {
        return failed(kExportNoMemoryText);
    }
    if (!rendered) {
        return failed(kExportNotRenderedText);
    }

    bool normalize = false;
    if (file.kind == FileKind::Wav && passesFullScale(*rendered)) {
        run.hideDialog();
        switch (dialogs.askAboutClipping(window, toQString(kClipTitle),
                                         toQString(clipQuestionText(rendered->loudness)))) {
        case ClipAnswer::Normalize:
            normalize = true;
            break;
        case ClipAnswer::ExportAsIs:
            break;
        case ClipAnswer::Cancel:
            return {StoreStatus::Cancelled, {}, {}};
        }
    }

    run.holdWhileWriting();
    StoreResult stored;
    run.runBeside([&](WorkerState& /*state*/) {
        // Nothing may leave the worker thread: an exception there would end the program and
        // the recording with it.
        try {
            if (normalize) {
                normalizeWavExport(*rendered);
            }
            stored = storeBytes(destination, rendered->bytes, tempPrefix,
                                file.kind == FileKind::Wav ? "sound" : "MIDI file");
        } catch (const std::exception&) {
            stored = failed(kExportNoMemoryText);
        }
    });
    return stored;
}

} // namespace doodle
