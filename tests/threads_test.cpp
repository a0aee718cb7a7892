// The threads that share state, for real: PortAudio's callback rendering into a file through
// ALSA and counting the play clock's ticks into its queue, and the main thread taking them,
// retuning the voice and starting and stopping playback. Built with ThreadSanitizer, a data race
// fails the run.
#include "GuiTestSupport.h"
#include "app/MainWindow.h"
#include "app/audio/PortAudioOutput.h"
#include "mapping/MapPoint.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

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

// The program with its PortAudio stream on the capture device, started up to the idle state:
// the first tick has paused the play clock.
class Threads : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        useCaptureDevice(m_dir);
        m_program = std::make_unique<Program>(m_dialogs, [](VoiceParams& voice, PlayClock& clock) {
            return std::make_unique<PortAudioOutput>(voice, clock);
        });
        ASSERT_TRUE(m_program->start()) << "no audio device in the capture configuration";
        ASSERT_TRUE(m_dialogs.messages.empty());
        ASSERT_TRUE(processUntil([&] { return !m_program->playClock().running(); }));
    }

    QTemporaryDir m_dir{};
    RecordingDialogs m_dialogs{};
    std::unique_ptr<Program> m_program{};
};

TEST_F(Threads, CallbackAndMainThreadShareTheVoiceAndThePlayClock) {
    Program& program = *m_program;
    const WindowControls ui(*program.window());
    VoiceParams& voice = program.voice();

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
            QTest::qWait(1); // the callback and the clock's pump run meanwhile
        }
        stopVoice(voice);
        QTest::mouseClick(ui.playToggle, Qt::LeftButton); // the clock runs, then ends playback
        ASSERT_TRUE(processUntil([&] { return !ui.playToggle->isChecked(); }));
    }
    // The stream really ran: the callback's voice reached the capture file.
    QFile capture(m_dir.filePath(QStringLiteral("capture.raw")));
    ASSERT_TRUE(processUntil([&] {
        if (!capture.isOpen() && !capture.open(QIODevice::ReadOnly)) {
            return false;
        }
        const QByteArray bytes = capture.readAll();
        return std::any_of(bytes.begin(), bytes.end(), [](char byte) { return byte != 0; });
    }));
    EXPECT_FALSE(program.playClock().running());
    program.shutdown();
}

// The samples the capture device has received so far, as the callback wrote them.
std::vector<float> capturedSamples(const QTemporaryDir& dir) {
    QFile capture(dir.filePath(QStringLiteral("capture.raw")));
    if (!capture.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = capture.readAll();
    std::vector<float> samples(static_cast<std::size_t>(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

// What the desktop program sends to the sound card stays within full scale: a press high on
// the pitch scale, on a vowel where the voice itself peaks past 1.0, is bent below it; a voice
// that runs away (resonators tuned to a negative bandwidth grow without end) is muted, and the
// next press after a release sings again.
TEST_F(Threads, TheCallbacksVoiceStaysWithinFullScale) {
    VoiceParams& voice = m_program->voice();
    MapControls controls;
    VowelWorking vowel;
    auto press = [&](int32_t x, int32_t y) {
        startVoice(voice);
        mapPoint(voice, x, y, controls, vowel);
    };

    press(228, 60);
    QTest::qWait(500);
    stopVoice(voice);
    QTest::qWait(200);
    startVoice(voice);
    setFormants(voice, {{500, 1500, 2500}, {-50, -50, -50}});
    QTest::qWait(300);
    stopVoice(voice);
    QTest::qWait(200);
    press(100, 100);
    QTest::qWait(400);
    // The capture runs at the sound card's pace, behind the callback by the pipe's and the
    // device's buffers: two more seconds of it, the last press still held, hold all of the above.
    constexpr std::size_t kTwoSeconds = 88200;
    const std::size_t heard = capturedSamples(m_dir).size();
    ASSERT_TRUE(processUntil([&] { return capturedSamples(m_dir).size() > heard + kTwoSeconds; }));
    const std::vector<float> samples = capturedSamples(m_dir);
    m_program->shutdown();

    ASSERT_FALSE(samples.empty());
    float peak = 0.0f;
    for (const float sample : samples) {
        ASSERT_TRUE(std::isfinite(sample));
        peak = std::max(peak, std::fabs(sample));
    }
    EXPECT_LE(peak, 1.0f);
    EXPECT_GT(peak, 0.9f) << "the high press was not heard";
    const auto sung = std::ranges::count_if(std::span(samples).last(8192),
                                            [](float sample) { return std::fabs(sample) > 0.1f; });
    EXPECT_GT(sung, 0) << "the press after the runaway is silent";
}

} // namespace
} // namespace doodle::test
