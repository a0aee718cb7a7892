// The three threads that share state, for real: PortAudio's callback rendering into a file
// through ALSA, the ticker posting ticks, and the main thread retuning the voice and starting
// and stopping playback. Built with ThreadSanitizer, a data race fails the run.
#include "GuiTestSupport.h"
#include "app/MainWindow.h"
#include "app/audio/PortAudioOutput.h"
#include "mapping/MapPoint.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

namespace doodle::test {
namespace {

// ALSA's whole configuration for this process: one "default" device that writes the samples
// into a file at the pace of a sound card (pv drains 44100 × 4 bytes a second).
void useCaptureDevice(const QTemporaryDir& dir) {
    const QString conf = dir.filePath(QStringLiteral("asound.conf"));
    QFile file(conf);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QString capture = dir.filePath(QStringLiteral("capture.raw"));
    file.write(QStringLiteral("pcm.!default {\n type file\n slave.pcm { type null }\n"
                              " file \"|pv -q -L 176400 > %1\"\n format \"raw\"\n}\n")
                   .arg(capture)
                   .toLocal8Bit());
    file.close();
    setenv("ALSA_CONFIG_PATH", conf.toLocal8Bit().constData(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
}

TEST(Threads, CallbackTickerAndMainThreadShareTheVoiceAndTheTicker) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    useCaptureDevice(dir);
    RecordingDialogs dialogs;
    Program program(dialogs,
                    [](VoiceParams& voice) { return std::make_unique<PortAudioOutput>(voice); });
    ASSERT_TRUE(program.start()) << "no audio device in the capture configuration";
    ASSERT_TRUE(dialogs.messages.empty());
    const WindowControls ui(*program.window());
    VoiceParams& voice = program.voice();
    ASSERT_TRUE(processUntil([&] { return program.ticker().tickerPaused.load() == 1; }));

    MapControls controls;
    VowelWorking vowel;
    constexpr int kStrokes = 40;
    constexpr int kPointsPerStroke = 25;
    for (int stroke = 0; stroke < kStrokes; ++stroke) {
        controls.scaleMode = stroke % 2 == 0 ? ScaleMode::Unrestricted : ScaleMode::Major;
        controls.scale = buildScale(controls.scaleMode, stroke % 12, controls.scale);
        for (int i = 0; i < kPointsPerStroke; ++i) {
            startVoice(voice);
            mapPoint(voice, (stroke * 7 + i * 9) % 241, (stroke * 11 + i * 5) % 201, controls,
                     vowel);
            QTest::qWait(1); // the callback and the ticker run meanwhile
        }
        stopVoice(voice);
        QTest::mouseClick(ui.playToggle, Qt::LeftButton); // ticker runs, then ends playback
        ASSERT_TRUE(processUntil([&] { return !ui.playToggle->isChecked(); }));
    }
    // The stream really ran: the callback's voice reached the capture file.
    QFile capture(dir.filePath(QStringLiteral("capture.raw")));
    ASSERT_TRUE(processUntil([&] {
        if (!capture.isOpen() && !capture.open(QIODevice::ReadOnly)) {
            return false;
        }
        const QByteArray bytes = capture.readAll();
        return std::any_of(bytes.begin(), bytes.end(), [](char byte) { return byte != 0; });
    }));
    EXPECT_EQ(program.ticker().tickerPaused.load(), 1);
    program.shutdown();
}

} // namespace
} // namespace doodle::test
