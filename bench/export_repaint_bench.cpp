// The longest gap between repaints of the main window while File > Export as WAV… renders ten
// minutes of drawing, on Qt's offscreen platform unless another is set. The drawing area is
// asked to repaint every kRepaintAskMs, as an animation would; the figure is the longest time
// between two of its paint events from the export's start to its end, in ms (aim: under 50).
// For comparison, the same with the render run on the main thread, as exports once were.
#include "app/Dialogs.h"
#include "app/DrawingArea.h"
#include "app/MainWindow.h"
#include "app/Program.h"
#include "app/audio/AudioOutput.h"
#include "program/Exports.h"
#include "recording/RecordingFile.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace {

using namespace doodle;
using Clock = std::chrono::steady_clock;

constexpr int kRepaintAskMs = 10;
constexpr int kRecordingMinutes = 10;
constexpr int64_t kMsPerMinute = 60'000;
// The drawing: one drag back and forth across the area, a point every kPointEveryMs as a
// mouse reports them, so that pitch and vowel keep changing.
constexpr int64_t kPointEveryMs = 8;
constexpr int kSweepSteps = 200; // points from one side to the other
constexpr int kLeftX = 20;
constexpr int kTopY = 20;
constexpr int kSweepWidthPx = 200;
constexpr int kSweepHeightPx = 160;

// The lines of kRecordingMinutes of drawing without a pause, released at the end.
std::string drawingLines() {
    std::string lines;
    const int64_t endMs = kRecordingMinutes * kMsPerMinute;
    int64_t step = 0;
    for (int64_t ms = 0; ms <= endMs; ms += kPointEveryMs, ++step) {
        // A triangle wave: 0..kSweepSteps and back.
        const int64_t phase = step % (2 * kSweepSteps);
        const int64_t along = phase < kSweepSteps ? phase : 2 * kSweepSteps - phase;
        const int64_t x = kLeftX + along * kSweepWidthPx / kSweepSteps;
        const int64_t y = kTopY + (step / kSweepSteps % kSweepSteps) * kSweepHeightPx / kSweepSteps;
        const bool release = ms + kPointEveryMs > endMs;
        lines += std::to_string(x) + ';' + std::to_string(y) + ';' + (release ? '1' : '0') + ';' +
                 std::to_string(ms) + '\n';
    }
    return lines;
}
constexpr int kRunError = 2;

// Answers the file dialogs with fixed paths and keeps a loud sound as it is.
class BenchDialogs final : public Dialogs {
public:
    BenchDialogs(QString openPath, QString savePath)
        : m_openPath(std::move(openPath)), m_savePath(std::move(savePath)) {}
    void showMessage(QWidget* /*parent*/, const QString& title, const QString& text) override {
        std::fprintf(stderr, "message: %s: %s\n", qPrintable(title), qPrintable(text));
    }
    QString chooseSaveFile(QWidget* /*parent*/, const QString& /*title*/,
                           const QString& /*proposedPath*/, const QString& /*filter*/,
                           const QString& /*extension*/) override {
        return m_savePath;
    }
    QString chooseOpenFile(QWidget* /*parent*/, const QString& /*title*/, const QString& /*folder*/,
                           const QString& /*filter*/) override {
        return m_openPath;
    }
    SaveChoice askSaveChanges(QWidget* /*parent*/, const QString& /*title*/,
                              const QString& /*text*/) override {
        return SaveChoice::Discard;
    }
    ClipAnswer askAboutClipping(QWidget* /*parent*/, const QString& /*title*/,
                                const QString& /*text*/) override {
        return ClipAnswer::ExportAsIs;
    }

private:
    QString m_openPath;
    QString m_savePath;
};

class SilentAudio final : public AudioOutput {
public:
    int open() override { return 0; }
    std::string errorText(int /*code*/) const override { return {}; }
    int start() override { return 0; }
    void terminate() override {}
};

// The paint events of a widget: the longest gap between two, from start() on.
class PaintGaps final : public QObject {
public:
    explicit PaintGaps(QWidget& widget) { widget.installEventFilter(this); }
    void start() {
        m_last = Clock::now();
        m_longest = {};
        m_paints = 0;
    }
    // Counts the time since the last paint too: a render that ends with a gap has one.
    double longestMs() const {
        const auto longest = std::max(m_longest, Clock::now() - m_last);
        return std::chrono::duration<double, std::milli>(longest).count();
    }
    int paints() const { return m_paints; }

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const auto now = Clock::now();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
            ++m_paints;
        }
        return false;
    }

private:
    Clock::time_point m_last = Clock::now();
    Clock::duration m_longest{};
    int m_paints = 0;
};

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "export_repaint_bench: no temporary folder\n");
        return kRunError;
    }
    const QString recordingPath = folder.filePath(QStringLiteral("ten-minutes.sav"));
    const QString exportPath = folder.filePath(QStringLiteral("ten-minutes.wav"));
    {
        QFile recording(recordingPath);
        const std::string lines = drawingLines();
        if (!recording.open(QIODevice::WriteOnly) ||
            recording.write(lines.data(), static_cast<qint64>(lines.size())) !=
                static_cast<qint64>(lines.size())) {
            std::fprintf(stderr, "export_repaint_bench: cannot write %s\n",
                         qPrintable(recordingPath));
            return kRunError;
        }
    }

    BenchDialogs dialogs(recordingPath, exportPath);
    Program program(dialogs,
                    [](VoiceParams&, PlayClock&) { return std::make_unique<SilentAudio>(); });
    if (!program.start()) {
        return kRunError;
    }
    MainWindow& window = *program.window();
    auto* open = window.findChild<QAction*>(QStringLiteral("menuOpen"));
    auto* exportWav = window.findChild<QAction*>(QStringLiteral("menuExportWav"));
    auto* area = window.findChild<DrawingArea*>(QStringLiteral("drawingArea"));
    if (open == nullptr || exportWav == nullptr || area == nullptr) {
        std::fprintf(stderr, "export_repaint_bench: the window lacks its controls\n");
        return kRunError;
    }
    open->trigger();
    QApplication::processEvents();

    PaintGaps gaps(*area);
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, area, [area] { area->update(); });
    repaint.start(kRepaintAskMs);

    gaps.start();
    Clock::time_point started = Clock::now();
    exportWav->trigger();
    const double exportMs = msSince(started);
    const double besideMs = gaps.longestMs();
    const int besidePaints = gaps.paints();
    const bool stored = QFile(exportPath).size() > 0;

    // The render as it once ran, inside the menu item's handling on the main thread.
    const Recording recording = program.recordingList();
    QApplication::processEvents();
    gaps.start();
    started = Clock::now();
    const bool rendered = exportBytes(FileKind::Wav, recording, {}).has_value();
    QApplication::processEvents();
    const double mainThreadMs = msSince(started);
    const double mainThreadGapMs = gaps.longestMs();

    std::printf("export of %d minutes of drawing to WAV: %s in %.0f ms, %d repaints\n",
                kRecordingMinutes, stored ? "stored" : "NOT stored", exportMs, besidePaints);
    std::printf("longest gap between repaints, export beside the window: %.1f ms\n", besideMs);
    std::printf(
        "longest gap between repaints, render on the main thread: %.1f ms (%s in %.0f ms)\n",
        mainThreadGapMs, rendered ? "rendered" : "NOT rendered", mainThreadMs);
    program.shutdown();
    return stored && rendered ? 0 : kRunError;
}
