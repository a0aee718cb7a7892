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
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace doodle::test {
namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kBlue = 0xff0000ff;
constexpr uid_t kNobody = 65534; // user and group

class RecordingGuiTest : public ProgramTest {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    static void writeBytes(const QString& name, const QByteArray& bytes) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    static std::string fileBytes(const QString& name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("?");
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
    void save(const char* name) {
        dialogs.answers = {path(name)};
        ui.menuSave->trigger();
    }
    mode_t typeOf(const char* name) const {
        struct stat status {};
        EXPECT_EQ(::lstat(QFile::encodeName(path(name)).constData(), &status), 0) << name;
        return status.st_mode & S_IFMT;
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
    click(ui.recordToggle);
    press({30, 20});
    release({30, 20});
    click(ui.recordToggle);
    click(ui.playToggle);
    click(ui.recordToggle); // empties the recording
    EXPECT_TRUE(program.recordingList().empty());
    ASSERT_TRUE(processUntil([&] { return !ui.playToggle->isChecked(); }));
    EXPECT_EQ(program.ticker().tickerPaused.load(), 1);
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
    std::string expectedBytes;
    for (const std::string_view line : recorded) {
        expectedBytes += line;
        expectedBytes += "\r\n";
    }
    EXPECT_EQ(fileBytes(path("tune.sav")), expectedBytes);

    click(ui.clearButton);
    click(ui.recordToggle); // recording when the file is opened
    press({1, 1});
    ui.majorOption->click();
    dialogs.answers = {path("tune.sav")};
    ui.menuOpen->trigger();
    ASSERT_EQ(dialogs.openRequests.size(), 1u);
    EXPECT_EQ(dialogs.openRequests[0].title, QStringLiteral("Please choose file to open"));
    EXPECT_TRUE(dialogs.openRequests[0].start.endsWith(u'/'));
    EXPECT_EQ(program.recordingList(), recorded);
    std::vector<InkPoint> recordedInk;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        recordedInk.push_back({recorded.event(i).x, recorded.event(i).y});
    }
    EXPECT_EQ(program.drawing().ink, recordedInk) << "a dot for every line, releases too";
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

    click(ui.recordToggle);
    press({7, 7});
    release({7, 7});
    click(ui.recordToggle);
    ui.menuSave->trigger(); // cancelled
    EXPECT_EQ(dialogs.messages.size(), 2u);

    // A name whose folder does not exist cannot be written, whoever runs the test.
    dialogs.answers = {path("missing-folder/tune")};
    ui.menuSave->trigger();
    EXPECT_EQ(dialogs.messages.size(), 3u);

    // Something that a file cannot replace stays as it was, and the save is refused.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("taken.sav")));
    dialogs.answers = {path("taken")};
    ui.menuSave->trigger();
    EXPECT_EQ(dialogs.messages.size(), 4u);
    EXPECT_TRUE(QFileInfo(path("taken.sav")).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 0) << "no stray temporary file";
}

TEST_F(RecordingGuiTest, SavingOverADeviceOrAFifoIsRefusedAndLeavesItAsItWas) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root may make a device";
    }
    recordAClick();
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.sav")).constData(), 0666), 0);
    ASSERT_EQ(::mknod(QFile::encodeName(path("null.sav")).constData(), S_IFCHR | 0666,
                      ::makedev(1, 3)), // a null device
              0);
    ASSERT_TRUE(QFile::link(path("null.sav"), path("link.sav")));
    for (const char* name : {"pipe", "null", "link"}) {
        save(name);
    }
    ASSERT_EQ(dialogs.messages.size(), 3u);
    for (const auto& message : dialogs.messages) {
        EXPECT_EQ(message.text, QStringLiteral("Your DoodleChorus file is not saved!"));
    }
    EXPECT_EQ(typeOf("pipe.sav"), S_IFIFO);
    EXPECT_EQ(typeOf("null.sav"), S_IFCHR);
    EXPECT_EQ(typeOf("link.sav"), S_IFLNK);
    EXPECT_EQ(QDir(dir.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                  .size(),
              3);
}

TEST_F(RecordingGuiTest, AWritableFileInAFolderTheUserCannotWriteIsSavedInPlace) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "acts as nobody in a folder of root's, which needs root";
    }
    recordAClick();
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QByteArray mine = QFile::encodeName(path("mine.sav"));
    writeBytes(path("mine.sav"), "1;2;0;3\r\n");
    writeBytes(path("theirs.sav"), "1;2;0;3\r\n");
    ASSERT_EQ(::chown(mine.constData(), kNobody, kNobody), 0);
    // The whole process (every thread) acts as nobody for the two saves.
    ASSERT_EQ(::setegid(kNobody), 0);
    ASSERT_EQ(::seteuid(kNobody), 0);
    save("mine");
    const std::size_t messagesForMine = dialogs.messages.size();
    save("theirs"); // nobody may write neither the file nor the folder
    ASSERT_EQ(::seteuid(0), 0);
    ASSERT_EQ(::setegid(0), 0);
    EXPECT_EQ(messagesForMine, 0u);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    const std::vector<std::string> lines = program.recordingList().lineTexts();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(fileBytes(path("mine.sav")), lines[0] + "\r\n" + lines[1] + "\r\n");
    EXPECT_EQ(fileBytes(path("theirs.sav")), "1;2;0;3\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
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
    EXPECT_FALSE(ui.gridCheckBox->isChecked()) << "the rest of an open happens all the same";
    ASSERT_EQ(dialogs.messages.size(), 1u) << "the user is told the file was not opened";
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Informer"));
}

TEST_F(RecordingGuiTest, AnUnreadableFileKeepsTheRecordingButStillRedrawsAndUnticksGrid) {
    click(ui.recordToggle);
    press({60, 60});
    release({60, 60});
    click(ui.recordToggle);
    const Recording recorded = program.recordingList();
    ui.majorOption->click();
    QTest::mouseClick(ui.gridCheckBox, Qt::LeftButton);
    area->drawInkDot(150, 150); // a played dot, gone after the redraw
    dialogs.answers = {path("does-not-exist.sav")};
    ui.menuOpen->trigger();
    EXPECT_EQ(program.recordingList(), recorded);
    EXPECT_FALSE(ui.gridCheckBox->isChecked());
    EXPECT_EQ(area->image().pixel(150, 150), kWhite);
    EXPECT_EQ(area->image().pixel(60, 60), kBlue);
    EXPECT_TRUE(dialogs.messages.empty());

    ui.menuOpen->trigger(); // cancelled: nothing changes
    EXPECT_EQ(program.recordingList(), recorded);
}

} // namespace
} // namespace doodle::test
