#include "GuiTestSupport.h"
#include "Sanitizers.h"
#include "app/DrawingArea.h"
#include "recording/GestureLine.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace doodle::test {
namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kBlue = 0xff0000ff;

class RecordingGuiTest : public ProgramTest {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    static void writeBytes(const QString& name, const QByteArray& bytes) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    void SetUp() override {
        ProgramTest::SetUp();
        ASSERT_TRUE(dir.isValid());
    }
    void recordAClick() {
        click(ui.recordToggle);
        press({60, 60});
        release({60, 60});
        click(ui.recordToggle);
        ASSERT_EQ(program.recordingList().size(), 2u);
    }

    QTemporaryDir dir;
};

TEST_F(RecordingGuiTest, RecordsEveryHandledEventWithTheClampedPointAndItsTime) {
    press({5, 5}); // before recording: ink only
    release({5, 5});
    click(ui.recordToggle);
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("recording"));
    EXPECT_FALSE(ui.playToggle->isEnabled());
    EXPECT_TRUE(program.drawing().ink.empty()) << "recording start wipes the ink";
    EXPECT_EQ(area->image().pixel(5, 5), kWhite);

    press({120, 45}); // a click: two lines at one point
    release({120, 45});
    press({10, 10});
    QTest::qWait(5);
    drag({-20, 300}); // clamped
    drag({260, 100});
    release({260, 100});
    click(ui.recordToggle);
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("record"));
    EXPECT_TRUE(ui.playToggle->isEnabled());

    const std::vector<std::string> lines = program.recordingList().lineTexts();
    ASSERT_EQ(lines.size(), 6u);
    const int32_t expected[6][3] = {{120, 45, 0}, {120, 45, 1},  {10, 10, 0},
                                    {0, 200, 0},  {240, 100, 0}, {240, 100, 1}};
    int32_t previousMs = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::string& line = lines[i];
        EXPECT_EQ(parseDecimal(lineField(line, 1)), expected[i][0]) << line;
        EXPECT_EQ(parseDecimal(lineField(line, 2)), expected[i][1]) << line;
        EXPECT_EQ(parseDecimal(lineField(line, 3)), expected[i][2]) << line;
        const auto timeMs = static_cast<int32_t>(parseDecimal(lineField(line, 4)));
        EXPECT_GE(timeMs, previousMs) << "times never decrease";
        previousMs = timeMs;
    }
}

TEST_F(RecordingGuiTest, PlaybackRedrawsTheStrokeReleasesAndStopsAfterTheLastLine) {
    QTest::mouseClick(ui.majorOption, Qt::LeftButton);
    click(ui.recordToggle);
    press({30, 20});
    drag({80, 20});
    release({80, 20});
    click(ui.recordToggle);
    ASSERT_EQ(program.recordingList().size(), 3u);
    ui.speedSlider->triggerAction(QAbstractSlider::SliderToMaximum); // 5× is quicker

    click(ui.playToggle);
    EXPECT_EQ(area->image().pixel(30, 20), kWhite) << "playback starts on a white area";
    ASSERT_TRUE(processUntil([&] { return !ui.playToggle->isChecked(); }));
    EXPECT_EQ(area->image().pixel(30, 20), kBlue);
    EXPECT_EQ(area->image().pixel(80, 20), kBlue);
    EXPECT_EQ(ui.noteLabel->text(), QStringLiteral("D")) << "a played release keeps the label";
    EXPECT_TRUE(program.voice().released());
    EXPECT_EQ(program.drawing().pointX, 80);
    EXPECT_EQ(program.drawing().ink.size(), 2u) << "played dots are not ink";
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("play"));
}

TEST_F(RecordingGuiTest, PressingRecordDuringPlaybackEndsItAtTheNextTick) {
    recordAClick();
    click(ui.playToggle);
    click(ui.recordToggle); // empties the recording
    EXPECT_TRUE(program.recordingList().empty());
    ASSERT_TRUE(processUntil([&] { return !ui.playToggle->isChecked(); }));
    EXPECT_FALSE(program.playClock().running());
    click(ui.recordToggle);
}

TEST_F(RecordingGuiTest, SavedRecordingOpensAsTheSameLines) {
    click(ui.recordToggle);
    press({120, 45});
    drag({121, 46});
    release({121, 46});
    click(ui.recordToggle);
    const Recording recorded = program.recordingList();

    dialogs.answers = {path("tune")};
    ui.menuSave->trigger();
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].title, QStringLiteral("Please choose file to save"));
    EXPECT_TRUE(dialogs.saveRequests[0].start.endsWith(QStringLiteral("/DoodleChorus")));
    EXPECT_EQ(dialogs.saveRequests[0].filter, QStringLiteral("DoodleChorus (*.sav)"));

    click(ui.clearButton);
    click(ui.recordToggle); // recording when the file is opened
    press({1, 1});
    ui.majorOption->click();
    dialogs.answers = {path("tune.sav")};
    ui.menuOpen->trigger();
    ASSERT_EQ(dialogs.openRequests.size(), 1u);
    EXPECT_EQ(dialogs.openRequests[0].title, QStringLiteral("Please choose file to open"));
    EXPECT_EQ(dialogs.openRequests[0].start, dir.path()) << "where the last file went";
    EXPECT_EQ(program.recordingList(), recorded);
    EXPECT_FALSE(ui.recordToggle->isChecked()) << "opening ends the recording";
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("record"));
    EXPECT_TRUE(ui.playToggle->isEnabled());
    EXPECT_EQ(area->image().pixel(120, 45), kBlue);
    EXPECT_EQ(area->image().pixel(1, 1), kWhite);
    release({1, 1});
}

TEST_F(RecordingGuiTest, EmptyOrCancelledOrFailedSavesAreRefusedAndTheOldFileStays) {
    dialogs.answers = {path("empty")};
    ui.menuSave->trigger(); // nothing recorded
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Informer"));
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Your DoodleChorus file is not saved!"));
    EXPECT_FALSE(QFile::exists(path("empty.sav")));

    recordAClick();
    ui.menuSave->trigger(); // cancelled
    EXPECT_EQ(dialogs.messages.size(), 2u);

    // A name whose folder does not exist cannot be written, whoever runs the test.
    // The message keeps its text and adds the file's name and the reason.
    const auto cannotWrite = [](const QString& name) {
        return QStringLiteral("Your DoodleChorus file is not saved!\n\nCannot write '%1': ")
            .arg(name);
    };
    dialogs.answers = {path("missing-folder/tune")};
    ui.menuSave->trigger();
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_TRUE(dialogs.messages[2].text.startsWith(cannotWrite(path("missing-folder/tune.sav"))))
        << dialogs.messages[2].text.toStdString();
    EXPECT_GT(dialogs.messages[2].text.size(),
              cannotWrite(path("missing-folder/tune.sav")).size() + 1)
        << "a reason follows";

    // Something that a file cannot replace stays as it was, and the save is refused.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("taken.sav")));
    dialogs.answers = {path("taken")};
    ui.menuSave->trigger();
    ASSERT_EQ(dialogs.messages.size(), 4u);
    EXPECT_TRUE(dialogs.messages[3].text.startsWith(cannotWrite(path("taken.sav"))))
        << dialogs.messages[3].text.toStdString();
    EXPECT_TRUE(QFileInfo(path("taken.sav")).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 0) << "no stray temporary file";
}

TEST_F(RecordingGuiTest, AFileWhoseLinesDoNotFitInMemoryKeepsTheRecording) {
    if (kSanitized) {
        GTEST_SKIP() << "the sanitizers' allocators abort instead of throwing";
    }
    recordAClick();
    const Recording recorded = program.recordingList();
    const std::vector<InkPoint> ink = program.drawing().ink;
    // 8 Mi empty lines, at least 32 bytes each in memory: 256 MiB, against 64 MiB allowed.
    writeBytes(path("big.sav"), QByteArray(8 << 20, '\n'));
    ui.gridCheckBox->setChecked(true);
    dialogs.answers = {path("big.sav")};
    std::size_t sizePages = 0;
    std::ifstream("/proc/self/statm") >> sizePages;
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = (sizePages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))) + (64 << 20);
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limited), 0);
    ui.menuOpen->trigger();
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &previous), 0);
    EXPECT_EQ(program.recordingList(), recorded);
    EXPECT_EQ(program.drawing().ink, ink);
    EXPECT_EQ(area->image().pixel(60, 60), kBlue);
    EXPECT_TRUE(ui.gridCheckBox->isChecked()) << "nothing else changes either";
    ASSERT_EQ(dialogs.messages.size(), 1u) << "the user is told the file was not opened";
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Informer"));
}

TEST_F(RecordingGuiTest, AFileThatIsNoRecordingIsRefusedWithItsReasonAndChangesNothing) {
    recordAClick();
    const Recording recorded = program.recordingList();
    ui.majorOption->click();
    QTest::mouseClick(ui.gridCheckBox, Qt::LeftButton);
    area->paint(oneDot({150, 150})); // a played dot: the drawing stays as it is shown
    writeBytes(path("notes.txt"), "# DoodleChorus\n\nSings what you draw.\n");
    writeBytes(path("empty.sav"), {});
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.sav")).constData(), 0600), 0);
    const std::vector<std::pair<const char*, QString>> refused = {
        {"does-not-exist.sav", QStringLiteral("No such file or directory")},
        {"notes.txt",
         QStringLiteral("'notes.txt' has no recording lines: none of its 3 lines is one")},
        {"empty.sav", QStringLiteral("'empty.sav' has no recording lines (read 0 lines)")},
        {"pipe.sav", QStringLiteral("it is not a regular file")},
    };
    for (const auto& [name, reason] : refused) {
        dialogs.messages.clear();
        dialogs.answers = {path(name)};
        ui.menuOpen->trigger();
        EXPECT_EQ(program.recordingList(), recorded) << name;
        EXPECT_TRUE(ui.gridCheckBox->isChecked()) << name;
        EXPECT_EQ(area->image().pixel(150, 150), kBlue) << name;
        EXPECT_EQ(area->image().pixel(60, 60), kBlue) << name;
        ASSERT_EQ(dialogs.messages.size(), 1u) << name;
        EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Informer"));
        EXPECT_TRUE(dialogs.messages[0].text.startsWith(
            QStringLiteral("Your DoodleChorus file is not opened!\n\n")));
        EXPECT_TRUE(dialogs.messages[0].text.contains(reason))
            << dialogs.messages[0].text.toStdString();
    }

    dialogs.messages.clear();
    ui.menuOpen->trigger(); // cancelled: nothing changes, nothing is said
    EXPECT_EQ(program.recordingList(), recorded);
    EXPECT_TRUE(dialogs.messages.empty());
}

} // namespace
// The File menu's exports: the render tool's files, byte for byte, with the scale, root, voice
// and speed the window shows.
TEST_F(RecordingGuiTest, ExportsAreTheRenderToolsFilesWithTheWindowsSettings) {
    click(ui.recordToggle);
    press({30, 150});
    QTest::qWait(5);
    drag({120, 90});
    QTest::qWait(5);
    drag({200, 40});
    release({200, 40});
    click(ui.recordToggle);
    ui.minorOption->click();
    ui.rootNoteCombo->setCurrentIndex(2);
    emit ui.rootNoteCombo->activated(2);
    ui.menuType2->trigger();
    ui.speedSlider->setValue(25);

    dialogs.answers = {path("song"), path("song.mid"), path("song")};
    ui.menuExportWav->trigger();
    ui.menuExportMidi->trigger();
    ui.menuSave->trigger();
    ASSERT_EQ(dialogs.saveRequests.size(), 3U);
    EXPECT_EQ(dialogs.saveRequests[0].title, QStringLiteral("Export as WAV"));
    EXPECT_EQ(dialogs.saveRequests[0].filter, QStringLiteral("WAV sound (*.wav)"));
    EXPECT_EQ(dialogs.saveRequests[1].title, QStringLiteral("Export as MIDI"));
    EXPECT_EQ(dialogs.saveRequests[1].filter, QStringLiteral("MIDI file (*.mid)"));
    EXPECT_TRUE(dialogs.messages.empty()) << "every file was stored";

    for (const char* extension : {".wav", ".mid"}) {
        const QString tool = path("tool") + QString::fromLatin1(extension);
        const QString command = QStringLiteral(DC_RENDER_TOOL) +
                                QStringLiteral(" --scale minor --root D --voice 2 --speed 2.5 ") +
                                path("song.sav") + QLatin1Char(' ') + tool;
        ASSERT_EQ(std::system(command.toLocal8Bit().constData()), 0) << command.toStdString();
        QFile exported(path("song") + QString::fromLatin1(extension));
        QFile rendered(tool);
        ASSERT_TRUE(exported.open(QIODevice::ReadOnly)) << extension;
        ASSERT_TRUE(rendered.open(QIODevice::ReadOnly)) << extension;
        const QByteArray bytes = exported.readAll();
        EXPECT_GT(bytes.size(), 64) << extension; // more than the MIDI headers
        EXPECT_EQ(bytes, rendered.readAll()) << extension;
    }
}

} // namespace doodle::test
