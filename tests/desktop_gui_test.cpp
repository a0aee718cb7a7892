// The desktop program's conventions: the title, Open Recent, dropped files, MIDI files, the
// questions before unsaved lines go, Undo, and the settings kept between runs.
#include "GuiTestSupport.h"
#include "app/DrawingArea.h"
#include "program/Exports.h"
#include "recording/RecordingFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>
#include <tuple>

namespace doodle::test {
namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kBlue = 0xff0000ff;

class DesktopGuiTest : public ProgramTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ProgramTest::SetUp();
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    static void writeBytes(const QString& name, const QByteArray& bytes) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    void recordStroke(QPoint from, QPoint to) {
        click(ui.recordToggle);
        press(from);
        drag(to);
        release(to);
        click(ui.recordToggle);
    }
    QMenu* recentMenu() const { return w->findChild<QMenu*>(QStringLiteral("menuOpenRecent")); }
    QAction* undoItem() const { return w->findChild<QAction*>(QStringLiteral("menuUndo")); }

    QTemporaryDir dir;
};

TEST_F(DesktopGuiTest, TheTitleNamesTheFileAndMarksUnsavedLines) {
    EXPECT_EQ(w->windowTitle(), QStringLiteral("DoodleChorus"));
    recordStroke({20, 20}, {40, 20});
    EXPECT_EQ(w->windowTitle(), QStringLiteral("*DoodleChorus"));
    dialogs.answers = {path("song")};
    ui.menuSave->trigger();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("song.sav \u2014 DoodleChorus"));
    // Save proposes the file it came from.
    dialogs.answers = {path("song.sav")};
    ui.menuSave->trigger();
    ASSERT_EQ(dialogs.saveRequests.size(), 2u);
    EXPECT_EQ(dialogs.saveRequests[1].start, path("song.sav"));
    click(ui.recordToggle);
    press({30, 30});
    EXPECT_EQ(w->windowTitle(), QStringLiteral("*DoodleChorus")) << "a new recording has no file";
    release({30, 30});
    click(ui.recordToggle);
}

TEST_F(DesktopGuiTest, RecentDroppedAndMidiFilesOpen) {
    recordStroke({20, 20}, {40, 20});
    const Recording first = program.recordingList();
    dialogs.answers = {path("first")};
    ui.menuSave->trigger();
    recordStroke({100, 150}, {120, 150});
    dialogs.answers = {path("second")};
    ui.menuSave->trigger();

    // Most recent first, each opening its file.
    QMenu* recent = recentMenu();
    ASSERT_TRUE(recent->isEnabled());
    const QList<QAction*> entries = recent->actions();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0]->data().toString(), path("second.sav"));
    EXPECT_EQ(entries[1]->data().toString(), path("first.sav"));
    entries[1]->trigger();
    EXPECT_EQ(program.recordingList(), first);
    EXPECT_EQ(area->image().pixel(20, 20), kBlue);
    EXPECT_EQ(area->image().pixel(100, 150), kWhite);
    EXPECT_TRUE(dialogs.openRequests.empty()) << "no dialog for a file already chosen";

    // A file dropped on the window opens once the drop is over.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path("second.sav"))});
    // Qt delivers a drop to the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(processUntil([&] { return area->image().pixel(100, 150) == kBlue; }));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("second.sav \u2014 DoodleChorus"));

    // A MIDI file is sung as a keyboard plays it: the same points as the tool makes of it.
    const std::optional<std::vector<uint8_t>> midi =
        exportBytes(FileKind::Midi, first, RenderSettings{});
    ASSERT_TRUE(midi.has_value());
    writeBytes(path("tune.mid"), QByteArray(reinterpret_cast<const char*>(midi->data()),
                                            static_cast<qsizetype>(midi->size())));
    dialogs.answers = {path("tune.mid")};
    ui.menuOpen->trigger();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(program.recordingList().empty());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("tune.mid \u2014 DoodleChorus"));
}

TEST_F(DesktopGuiTest, UnsavedLinesAreAskedForAndUndoBringsBackWhatWent) {
    recordStroke({20, 20}, {40, 20});
    const Recording first = program.recordingList();

    // Closing asks; Cancel keeps the program running.
    dialogs.saveChoices = {SaveChoice::Cancel};
    w->close();
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0].title, QStringLiteral("Save changes?"));
    EXPECT_FALSE(program.closeRequested());

    // Record asks too; Cancel leaves the toggle up and the recording as it was.
    dialogs.saveChoices = {SaveChoice::Cancel};
    click(ui.recordToggle);
    EXPECT_EQ(dialogs.questions.size(), 2u);
    EXPECT_FALSE(ui.recordToggle->isChecked());
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("record"));
    EXPECT_EQ(program.recordingList(), first);

    // Clear, even by Space on the focused button, can be undone.
    ui.clearButton->setFocus();
    QTest::keyClick(ui.clearButton, Qt::Key_Space);
    EXPECT_EQ(area->image().pixel(20, 20), kWhite);
    ASSERT_TRUE(undoItem()->isEnabled());
    undoItem()->trigger();
    EXPECT_EQ(area->image().pixel(20, 20), kBlue);
    EXPECT_TRUE(undoItem()->isEnabled()) << "Undo again clears again";

    // Discard lets the recording go to a new one; Undo brings it back with its ink.
    dialogs.saveChoices = {SaveChoice::Discard};
    recordStroke({100, 150}, {120, 150});
    EXPECT_NE(program.recordingList(), first);
    const Recording second = program.recordingList();
    undoItem()->trigger();
    EXPECT_EQ(program.recordingList(), first);
    EXPECT_EQ(area->image().pixel(20, 20), kBlue);
    EXPECT_EQ(area->image().pixel(100, 150), kWhite);
    // A reflex Ctrl+Z loses nothing: the next one brings the new take back.
    QTest::keyClick(w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(program.recordingList(), second);
    EXPECT_EQ(area->image().pixel(100, 150), kBlue);
}

// A name with a dot gets no suffix from Qt's dialog but the program's extension: the file that
// name then replaces is asked about, and No goes back to the dialog.
TEST_F(DesktopGuiTest, ANameTheExtensionIsAddedToIsAskedAboutBeforeItIsReplaced) {
    writeBytes(path("take.2.sav"), "1;2;0;3\r\n");
    QtDialogs qtDialogs;
    const auto save = [&](QMessageBox::StandardButton answer) {
        int questions = 0;
        int dialogsShown = 0;
        QTimer driver;
        driver.setInterval(20);
        QObject::connect(&driver, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (!widget->isVisible()) {
                    continue;
                }
                if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    ++questions;
                    QTest::mouseClick(box->button(answer), Qt::LeftButton);
                    return;
                }
                if (auto* fileDialog = qobject_cast<QFileDialog*>(widget)) {
                    // The first time a name is typed; back after No, the dialog is cancelled.
                    if (++dialogsShown == 1) {
                        auto* name =
                            fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                        ASSERT_NE(name, nullptr);
                        name->setText(QStringLiteral("take.2"));
                        QTest::keyClick(name, Qt::Key_Return);
                    } else {
                        fileDialog->reject();
                    }
                    return;
                }
            }
        });
        driver.start();
        const QString chosen =
            qtDialogs.chooseSaveFile(w, QStringLiteral("Save"), dir.path(),
                                     QStringLiteral("(*.sav)"), QStringLiteral(".sav"));
        return std::tuple{chosen, questions, dialogsShown};
    };
    EXPECT_EQ(save(QMessageBox::No), std::tuple(QString(), 1, 2));
    EXPECT_EQ(save(QMessageBox::Yes), std::tuple(path("take.2.sav"), 1, 1));
}

TEST(DesktopSettingsTest, TheControlsAndFoldersAreRememberedBetweenRuns) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings settings(dir.filePath(QStringLiteral("DoodleChorus.conf")), QSettings::IniFormat);
    {
        RecordingDialogs dialogs;
        Program program(dialogs, silentAudio(), &settings);
        ASSERT_TRUE(program.start());
        const WindowControls ui(*program.window());
        ui.minorOption->click();
        ui.rootNoteCombo->setCurrentIndex(7);
        emit ui.rootNoteCombo->activated(7);
        ui.menuType2->trigger();
        program.window()->findChild<QAction*>(QStringLiteral("menuTuningConcert"))->trigger();
        program.window()->findChild<QAction*>(QStringLiteral("menuMidiIn5"))->trigger();
        ui.speedSlider->setValue(35);
        QTest::mouseClick(ui.gridCheckBox, Qt::LeftButton);
        dialogs.answers = {dir.filePath(QStringLiteral("nothing"))};
        ui.menuOpen->trigger(); // the folder is remembered even when the file is refused
        program.window()->close();
        ASSERT_TRUE(program.closeRequested());
        program.shutdown();
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
    RecordingDialogs dialogs;
    Program program(dialogs, silentAudio(), &settings);
    ASSERT_TRUE(program.start());
    const WindowControls ui(*program.window());
    EXPECT_TRUE(ui.minorOption->isChecked());
    EXPECT_EQ(ui.rootNoteCombo->currentIndex(), 7);
    EXPECT_TRUE(ui.rootNoteCombo->isEnabled());
    EXPECT_TRUE(ui.menuType2->isChecked());
    EXPECT_TRUE(
        program.window()->findChild<QAction*>(QStringLiteral("menuTuningConcert"))->isChecked());
    EXPECT_FALSE(
        program.window()->findChild<QAction*>(QStringLiteral("menuTuningClassic"))->isChecked());
    EXPECT_EQ(settings.value(QStringLiteral("tuning")).toString(), QStringLiteral("concert"));
    EXPECT_TRUE(program.window()->findChild<QAction*>(QStringLiteral("menuMidiIn5"))->isChecked());
    EXPECT_FALSE(
        program.window()->findChild<QAction*>(QStringLiteral("menuMidiInAll"))->isChecked());
    EXPECT_EQ(ui.speedSlider->value(), 35);
    EXPECT_TRUE(ui.gridCheckBox->isChecked());
    const RenderSettings& restored = program.renderSettings();
    EXPECT_EQ(restored.scaleMode, ScaleMode::Minor);
    EXPECT_EQ(restored.rootIndex, 7);
    EXPECT_EQ(restored.voiceType, VoiceType::Type2);
    EXPECT_EQ(restored.tuning, Tuning::Concert);
    EXPECT_DOUBLE_EQ(restored.playSpeed, 3.5);
    dialogs.answers = {};
    ui.menuOpen->trigger();
    ASSERT_EQ(dialogs.openRequests.size(), 1u);
    EXPECT_EQ(dialogs.openRequests[0].start, dir.path());
    program.shutdown();
}

} // namespace
} // namespace doodle::test
