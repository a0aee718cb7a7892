#include "GuiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>

namespace doodle::test {
namespace {

// A note held for eight minutes: its render runs long enough for the progress dialog to show.
constexpr const char* kLongRecording = "100;100;0;0\n100;100;1;480000\n";
// A drag that passes full scale near X = 240, with a release.
constexpr const char* kLoudRecording = "240;100;0;0\n240;100;0;150\n230;40;0;164\n"
                                       "200;150;1;178\n20;180;0;300\n60;120;0;313\n";
// A short note that stays within full scale.
constexpr const char* kQuietRecording = "100;100;0;0\n100;100;1;500\n";
constexpr QByteArrayView kOldBytes = "the file the export would have replaced";

class ExportGuiTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        ASSERT_TRUE(dir.isValid());
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    static void writeBytes(const QString& name, QByteArrayView bytes) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes.data(), bytes.size()), bytes.size());
    }
    static QByteArray readBytes(const QString& name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Opens `lines` as the recording through File > Open, as saved in `name`.
    void openRecording(const QString& name, const char* lines) {
        writeBytes(path(name), lines);
        dialogs.answers = {path(name)};
        ui.menuOpen->trigger();
        ASSERT_FALSE(program.recordingList().empty()) << name.toStdString();
    }
    void exportWavAs(const QString& name) {
        dialogs.answers = {path(name)};
        ui.menuExportWav->trigger();
    }
    // The render tool's file of the recording in `saved`, with `options` and the window's
    // default settings.
    QByteArray toolBytes(const QString& saved, const QString& options) {
        const QString out = path(QStringLiteral("tool.wav"));
        const QString command = QStringLiteral(DC_RENDER_TOOL " -q ") + options + QLatin1Char(' ') +
                                path(saved) + QLatin1Char(' ') + out;
        EXPECT_EQ(std::system(command.toLocal8Bit().constData()), 0) << command.toStdString();
        const QByteArray bytes = readBytes(out);
        QFile::remove(out);
        return bytes;
    }
    QStringList folderEntries() const {
        return QDir(dir.path())
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir dir;
};

// What the user saw of the progress dialog before stopping the export.
struct SeenProgress {
    bool shown = false;
    int value = -1;
    int maximum = -1;
    QString label;
};

QProgressDialog* shownProgressDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QProgressDialog*>(widget);
            dialog != nullptr && dialog->isVisible()) {
            return dialog;
        }
    }
    return nullptr;
}

// A long export shows its progress in a dialog and takes no input elsewhere, even before the
// dialog shows; its Cancel button, Escape and closing it each stop the export, leaving an
// existing file's bytes as they were, no new file, and no temporary file in the folder.
TEST_F(ExportGuiTest, CancellingALongExportLeavesNoFile) {
    openRecording(QStringLiteral("long.sav"), kLongRecording);
    const std::vector<std::function<void(QProgressDialog&)>> cancels{
        [](QProgressDialog& dialog) {
            auto* cancel = dialog.findChild<QPushButton*>();
            ASSERT_NE(cancel, nullptr);
            QTest::mouseClick(cancel, Qt::LeftButton);
        },
        [](QProgressDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); },
        [](QProgressDialog& dialog) { dialog.close(); },
    };
    for (std::size_t way = 0; way < cancels.size(); ++way) {
        SCOPED_TRACE(way);
        const QString name = QStringLiteral("long%1.wav").arg(way);
        const bool existing = way == 0;
        if (existing) {
            writeBytes(path(name), kOldBytes);
        }
        const QStringList before = folderEntries();
        SeenProgress seen;
        bool clickedAway = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!clickedAway) {
                clickedAway = true;
                click(ui.recordToggle);
            }
            QProgressDialog* dialog = shownProgressDialog();
            if (dialog == nullptr || dialog->value() <= 0) {
                return;
            }
            seen = {true, dialog->value(), dialog->maximum(), dialog->labelText()};
            watch.stop();
            cancels[way](*dialog);
        });
        watch.start(5);
        exportWavAs(name);
        watch.stop();

        EXPECT_TRUE(seen.shown) << "no progress was shown";
        EXPECT_GT(seen.value, 0);
        EXPECT_LT(seen.value, seen.maximum) << "cancelled before the end";
        EXPECT_EQ(seen.label, QStringLiteral("Exporting\u2026"));
        EXPECT_EQ(shownProgressDialog(), nullptr) << "the dialog is gone";
        EXPECT_TRUE(clickedAway);
        EXPECT_FALSE(ui.recordToggle->isChecked()) << "the click during the export was not taken";
        EXPECT_EQ(folderEntries(), before) << "no file made, none left behind";
        if (existing) {
            EXPECT_EQ(readBytes(path(name)), kOldBytes.toByteArray());
        }
        EXPECT_TRUE(dialogs.clipQuestions.empty());
    }
}

// A sound past full scale asks before it is stored: Normalize stores the render tool's
// --normalize file, "Export as is" its plain file, Cancel nothing.
TEST_F(ExportGuiTest, ASoundPastFullScaleAsksWhetherToNormalizeIt) {
    openRecording(QStringLiteral("loud.sav"), kLoudRecording);
    dialogs.clipAnswers = {ClipAnswer::Normalize, ClipAnswer::ExportAsIs, ClipAnswer::Cancel};
    exportWavAs(QStringLiteral("normal.wav"));
    exportWavAs(QStringLiteral("as-is.wav"));
    exportWavAs(QStringLiteral("cancelled.wav"));

    ASSERT_EQ(dialogs.clipQuestions.size(), 3U);
    EXPECT_EQ(dialogs.clipQuestions[0].title, QStringLiteral("The sound is too loud"));
    EXPECT_TRUE(dialogs.clipQuestions[0].text.startsWith(
        QStringLiteral("The sound peaks at +2.83 dBFS: 855 samples pass full scale")))
        << dialogs.clipQuestions[0].text.toStdString();
    const QByteArray normalized =
        toolBytes(QStringLiteral("loud.sav"), QStringLiteral("--normalize"));
    const QByteArray plain = toolBytes(QStringLiteral("loud.sav"), QString());
    ASSERT_GT(plain.size(), 80);
    EXPECT_NE(normalized, plain);
    EXPECT_EQ(readBytes(path(QStringLiteral("normal.wav"))), normalized);
    EXPECT_EQ(readBytes(path(QStringLiteral("as-is.wav"))), plain);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("cancelled.wav"))));

    // A MIDI file holds no sound to clip.
    dialogs.answers = {path(QStringLiteral("loud.mid"))};
    ui.menuExportMidi->trigger();
    EXPECT_EQ(dialogs.clipQuestions.size(), 3U);
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("loud.mid"))));
}

// A sound within full scale is stored without a question.
TEST_F(ExportGuiTest, ASoundWithinFullScaleIsStoredWithoutAsking) {
    openRecording(QStringLiteral("quiet.sav"), kQuietRecording);
    exportWavAs(QStringLiteral("quiet.wav"));
    EXPECT_TRUE(dialogs.clipQuestions.empty());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(readBytes(path(QStringLiteral("quiet.wav"))),
              toolBytes(QStringLiteral("quiet.sav"), QString()));
}

// A WAV or MIDI export that cannot be written keeps the message's text and adds the file's name
// and why.
TEST_F(ExportGuiTest, AnExportThatCannotBeWrittenSaysWhichFileAndWhy) {
    openRecording(QStringLiteral("quiet.sav"), kQuietRecording);
    exportWavAs(QStringLiteral("missing-folder/quiet"));
    dialogs.answers = {path(QStringLiteral("missing-folder/quiet"))};
    ui.menuExportMidi->trigger();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    for (const auto& [message, name] :
         {std::pair{dialogs.messages[0], QStringLiteral("quiet.wav")},
          std::pair{dialogs.messages[1], QStringLiteral("quiet.mid")}}) {
        const QString opening = QStringLiteral("Your DoodleChorus file is not saved!\n\n"
                                               "Cannot write '%1': ")
                                    .arg(path(QStringLiteral("missing-folder/") + name));
        EXPECT_TRUE(message.text.startsWith(opening)) << message.text.toStdString();
        EXPECT_GT(message.text.size(), opening.size() + 1) << "a reason follows";
    }
}

// The question's buttons give their answers; Escape and closing it cancel.
TEST_F(ExportGuiTest, TheFullScaleQuestionAnswersWithItsButtons) {
    QtDialogs qtDialogs;
    const auto answerWith = [&](const std::function<void(QMessageBox&)>& answer) {
        QTimer::singleShot(0, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    answer(*box);
                    return;
                }
            }
            ADD_FAILURE() << "no question shown";
        });
        return qtDialogs.askAboutClipping(w, QStringLiteral("title"), QStringLiteral("text"));
    };
    const auto button = [](const char* caption) {
        return [caption](QMessageBox& box) {
            for (QAbstractButton* shown : box.buttons()) {
                if (shown->text() == QString::fromUtf8(caption)) {
                    QTest::mouseClick(shown, Qt::LeftButton);
                    return;
                }
            }
            ADD_FAILURE() << "no button " << caption;
        };
    };
    EXPECT_EQ(answerWith(button("Normalize")), ClipAnswer::Normalize);
    EXPECT_EQ(answerWith(button("Export as is")), ClipAnswer::ExportAsIs);
    EXPECT_EQ(answerWith(button("Cancel")), ClipAnswer::Cancel);
    EXPECT_EQ(answerWith([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }),
              ClipAnswer::Cancel);
    EXPECT_EQ(answerWith([](QMessageBox& box) { box.close(); }), ClipAnswer::Cancel);
}

} // namespace
} // namespace doodle::test
