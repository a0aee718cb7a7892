#include "GuiTestSupport.h"
#include "mapping/DrawingArea.h"
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
#include <gtest/gtest.h>
#include <unistd.h>

namespace doodle::test {
namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kBlue = 0xff0000ff;

class RecordingGuiTest : public ProgramTest {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    static std::string fileBytes(const QString& name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("?");
    }

    void SetUp() override {
        ProgramTest::SetUp();
        ASSERT_TRUE(dir.isValid());
    }

    QTemporaryDir dir;
};

TEST_F(RecordingGuiTest, RecordsEveryHandledEventWithTheClampedPointAndItsTime) {
    press({5, 5}); // before recording: ink only
    release({5, 5});
    click(w->m_recordToggle);
    EXPECT_EQ(w->m_recordToggle->text(), QStringLiteral("recording"));
    EXPECT_FALSE(w->m_playToggle->isEnabled());
    EXPECT_TRUE(program.drawing().inkList.empty()) << "recording start wipes the ink";
    EXPECT_EQ(area->image().pixel(5, 5), kWhite);

    press({120, 45}); // a click: two lines at one point
    release({120, 45});
    press({10, 10});
    QTest::qWait(5);
    drag({-20, 300}); // clamped
    drag({260, 100});
    release({260, 100});
    click(w->m_recordToggle);
    EXPECT_EQ(w->m_recordToggle->text(), QStringLiteral("record"));
    EXPECT_TRUE(w->m_playToggle->isEnabled());

    const RecordingList& lines = program.recordingList();
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
    QTest::mouseClick(w->m_majorOption, Qt::LeftButton);
    click(w->m_recordToggle);
    press({30, 20});
    drag({80, 20});
    release({80, 20});
    click(w->m_recordToggle);
    ASSERT_EQ(program.recordingList().size(), 3u);
    w->m_speedSlider->triggerAction(QAbstractSlider::SliderToMaximum); // 5× is quicker

    click(w->m_playToggle);
    EXPECT_EQ(area->image().pixel(30, 20), kWhite) << "playback starts on a white area";
    ASSERT_TRUE(processUntil([&] { return !w->m_playToggle->isChecked(); }));
    EXPECT_EQ(area->image().pixel(30, 20), kBlue);
    EXPECT_EQ(area->image().pixel(80, 20), kBlue);
    EXPECT_EQ(w->m_noteLabel->text(), QStringLiteral("D")) << "a played release keeps the label";
    EXPECT_EQ(program.voice().released.load(), 1);
    EXPECT_EQ(program.drawing().pointX, 80);
    EXPECT_EQ(program.drawing().inkList.size(), 2u) << "played dots are not ink";
    EXPECT_EQ(w->m_playToggle->text(), QStringLiteral("play"));
}

TEST_F(RecordingGuiTest, PressingRecordDuringPlaybackEndsItAtTheNextTick) {
    click(w->m_recordToggle);
    press({30, 20});
    release({30, 20});
    click(w->m_recordToggle);
    click(w->m_playToggle);
    click(w->m_recordToggle); // empties the recording
    EXPECT_TRUE(program.recordingList().empty());
    ASSERT_TRUE(processUntil([&] { return !w->m_playToggle->isChecked(); }));
    EXPECT_EQ(program.ticker().tickerPaused.load(), 1);
    click(w->m_recordToggle);
}

TEST_F(RecordingGuiTest, SavedRecordingOpensAsTheSameLines) {
    click(w->m_recordToggle);
    press({120, 45});
    drag({121, 46});
    release({121, 46});
    click(w->m_recordToggle);
    const RecordingList recorded = program.recordingList();

    dialogs.answers = {path("tune")};
    w->m_menuSave->trigger();
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].title, QStringLiteral("Please choose file to save"));
    EXPECT_TRUE(dialogs.saveRequests[0].start.endsWith(QStringLiteral("/DoodleChorus")));
    EXPECT_EQ(dialogs.saveRequests[0].filter, QStringLiteral("DoodleChorus (*.sav)"));
    std::string expectedBytes;
    for (const std::string& line : recorded) {
        expectedBytes += line + "\r\n";
    }
    EXPECT_EQ(fileBytes(path("tune.sav")), expectedBytes);

    click(w->m_clearButton);
    click(w->m_recordToggle); // recording when the file is opened
    press({1, 1});
    w->m_majorOption->click();
    dialogs.answers = {path("tune.sav")};
    w->m_menuOpen->trigger();
    ASSERT_EQ(dialogs.openRequests.size(), 1u);
    EXPECT_EQ(dialogs.openRequests[0].title, QStringLiteral("Please choose file to open"));
    EXPECT_TRUE(dialogs.openRequests[0].start.endsWith(u'/'));
    EXPECT_EQ(program.recordingList(), recorded);
    EXPECT_EQ(program.drawing().inkList, recorded);
    EXPECT_FALSE(w->m_recordToggle->isChecked()) << "opening ends the recording";
    EXPECT_EQ(w->m_recordToggle->text(), QStringLiteral("record"));
    EXPECT_TRUE(w->m_playToggle->isEnabled());
    EXPECT_EQ(area->image().pixel(120, 45), kBlue);
    EXPECT_EQ(area->image().pixel(1, 1), kWhite);
    release({1, 1});
}

TEST_F(RecordingGuiTest, EmptyOrCancelledOrFailedSavesAreRefusedAndTheOldFileStays) {
    dialogs.answers = {path("empty")};
    w->m_menuSave->trigger(); // nothing recorded
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Informer"));
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Your DoodleChorus file is not saved!"));
    EXPECT_FALSE(QFile::exists(path("empty.sav")));

    click(w->m_recordToggle);
    press({7, 7});
    release({7, 7});
    click(w->m_recordToggle);
    w->m_menuSave->trigger(); // cancelled
    EXPECT_EQ(dialogs.messages.size(), 2u);

    // A name whose folder does not exist cannot be written, whoever runs the test.
    dialogs.answers = {path("missing-folder/tune")};
    w->m_menuSave->trigger();
    EXPECT_EQ(dialogs.messages.size(), 3u);

    // Something that a file cannot replace stays as it was, and the save is refused.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("taken.sav")));
    dialogs.answers = {path("taken")};
    w->m_menuSave->trigger();
    EXPECT_EQ(dialogs.messages.size(), 4u);
    EXPECT_TRUE(QFileInfo(path("taken.sav")).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 0) << "no stray temporary file";

    // A folder the user may not write keeps its file (root may write anywhere: not checked).
    if (geteuid() != 0) {
        QFile old(path("keep.sav"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("1;2;0;3\r\n");
        old.close();
        ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        dialogs.answers = {path("keep")};
        w->m_menuSave->trigger();
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(fileBytes(path("keep.sav")), "1;2;0;3\r\n");
        EXPECT_EQ(dialogs.messages.size(), 5u);
    }
}

TEST_F(RecordingGuiTest, AnUnreadableFileKeepsTheRecordingButStillRedrawsAndUnticksGrid) {
    click(w->m_recordToggle);
    press({60, 60});
    release({60, 60});
    click(w->m_recordToggle);
    const RecordingList recorded = program.recordingList();
    w->m_majorOption->click();
    QTest::mouseClick(w->m_gridCheckBox, Qt::LeftButton);
    area->drawInkDot(150, 150); // a played dot, gone after the redraw
    dialogs.answers = {path("does-not-exist.sav")};
    w->m_menuOpen->trigger();
    EXPECT_EQ(program.recordingList(), recorded);
    EXPECT_FALSE(w->m_gridCheckBox->isChecked());
    EXPECT_EQ(area->image().pixel(150, 150), kWhite);
    EXPECT_EQ(area->image().pixel(60, 60), kBlue);
    EXPECT_TRUE(dialogs.messages.empty());

    w->m_menuOpen->trigger(); // cancelled: nothing changes
    EXPECT_EQ(program.recordingList(), recorded);
}

} // namespace
} // namespace doodle::test
