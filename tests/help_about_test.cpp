#include "GuiTestSupport.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace doodle::test {
namespace {

class HelpAboutTest : public ProgramTest {
protected:
    static QWidget* openHelpWindow() {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == QStringLiteral("helpWindow") && top->isVisible()) {
                return top;
            }
        }
        return nullptr;
    }

    // Chooses Help and runs `whileOpen` with the window and its text box inside the Help
    // window's own loop, then closes it unless `whileOpen` has.
    void withHelpOpen(const std::function<void(QWidget&, QPlainTextEdit&)>& whileOpen) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            QWidget* help = openHelpWindow();
            ASSERT_NE(help, nullptr);
            auto* text = help->findChild<QPlainTextEdit*>(QStringLiteral("helpText"));
            ASSERT_NE(text, nullptr);
            whileOpen(*help, *text);
            ran = true;
            if (help->isVisible()) {
                help->close();
            }
        });
        ui.menuHelp->trigger(); // returns when Help is closed
        EXPECT_TRUE(ran);
        EXPECT_EQ(openHelpWindow(), nullptr);
    }
};

// The help text's paragraphs as shown, each one line for the box to wrap: an empty first line,
// then each paragraph followed by an empty line. Where a paragraph was written in pieces, they
// are joined by one space.
const QStringList kHelpParagraphs = {
    "*Left click in the rectangular window area of the application and drag to draw an image.",
    "*As you draw, a synthesized voice will sound following the drawing movement. Vowel sounds "
    "change along the Y axis sound and the pitch along the X axis. Releasing and pressing left "
    "mouse button stops and starts sound respectively.",
    "*Choose 'Major', 'Minor' or 'Pentatonic' for the pitch change to follow a scale, and "
    "choose the Note of the scale.",
    "*'Voice>Tuning' chooses what the notes of the scales sound at. 'Classic' (the default) is "
    "the program's own tuning, in which every scale sounds a major third below its name (its C "
    "sounds as a concert A-flat). 'Concert' tunes A4 to 440 Hz, so that the notes sound as they "
    "are named, and a melody in C major played in over MIDI keeps all of its notes on the strips "
    "of Major on C. 'Unrestricted' has no notes and sounds the same under both.",
    "*Press 'clear' button to wipe the image from the drawing area.",
    "*To record your drawing movement, press 'Record' button, perform drawing and press the "
    "button again to finish.",
    "*Play back your recording by pressing 'Play' button. Use slider to adjust speed of "
    "playback.",
    "*If you have chosen 'Major', 'Minor' or 'Pentatonic' settings, you can tick the Grid "
    "checkbox during drawing/recording. The Grid shows position of notes of the scale in the "
    "drawing space, to aid your composition.",
    "*To save your recording, choose 'File>Save'. To load a recording, choose 'File>Open'.",
    "*The application synthesizes the voice sound by feeding a sawtooth wave into a set of "
    "three parallel narrow band-pass filters, each tuned to a resonant frequency (formant), and "
    "combining the outputs. Choosing 'Voice>Type1' or 'Voice>Type2' option from the menu simply "
    "alters the bandwidth and frequency tunings of each of the filters, which results in the "
    "vowel sweeps sounding a little different.",
    "*MIDI: a keyboard plays the voice. Note on starts it at the note's pitch, note off stops it; "
    "of several held notes the newest sounds. The sustain pedal (CC 64) holds the voice after the "
    "keys are let go, until it is let up. Pitch bend follows the range RPN 0 sets, CC 74 or "
    "CC 1 sets the vowel, CC 7 the volume, and CC 120 or 123 silences it. Velocity does nothing. "
    "'MIDI>Input Channel' chooses the channel played from: all channels but 10, the drums' (the "
    "default), or one of 1 to 16. The drawing and its playback go out as 'File>Export as MIDI' "
    "writes them, with the volume as CC 7.",
    "*'File>Export as WAV' sings the recording into a WAV sound file, and 'File>Export as MIDI' "
    "writes its notes into a MIDI file, with the current scale, root, tuning, voice type and "
    "speed. A "
    "progress dialog shows how far the export has come, and Cancel stops it. When the sound "
    "would pass full scale, you are offered to normalize it: its peak is then at -1 dBFS.",
    "*In the desktop program, Save and the exports ask before replacing a file, and Quit, Open "
    "and 'record' ask 'Save changes?' while the recording holds lines that are not saved; the "
    "window's title marks them. 'Edit>Undo' brings back the recording and the drawing as they "
    "were before the last 'clear', 'record' or Open.",
    "*In the desktop program, 'File>Open Recent' lists the last ten files. A file dropped on the "
    "window opens, and "
    "'doodlechorus FILE' opens FILE at start: a .sav recording or a .mid MIDI file.",
    "*The desktop program's keys: Ctrl+O Open, Ctrl+S Save, Ctrl+Z Undo, Ctrl+Q Quit. F10 opens "
    "the menu bar; Alt+F, "
    "Alt+E, Alt+V and Alt+M open the File, Edit, Voice and MIDI menus, and from the menu bar "
    "the arrow keys "
    "reach the '?' menu. The window can be resized or maximized: the drawing area grows with "
    "it.",
};

QStringList helpLines() {
    QStringList lines{QString()};
    for (const QString& paragraph : kHelpParagraphs) {
        lines << paragraph << QString();
    }
    return lines;
}

TEST_F(HelpAboutTest, AboutShowsTitleNameVersionCreditAndMotto) {
    ui.menuAbout->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("About"));
    const QStringList lines = dialogs.messages[0].text.split(u'\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("DoodleChorus v1.01 ")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("DoodleChorus developers")));
    EXPECT_EQ(lines[1], QStringLiteral("Make your drawings truly sing!"));
    // The tests run with no JACK server (gui_test_main names one that does not exist).
    EXPECT_EQ(lines[2], QString());
    EXPECT_EQ(lines[3], QStringLiteral("MIDI: no JACK server"));
}

TEST_F(HelpAboutTest, HelpWindowShowsTheWholeTextReadOnlyFromTheTop) {
    withHelpOpen([](QWidget& help, QPlainTextEdit& text) {
        EXPECT_EQ(help.windowTitle(), QStringLiteral("DoodleChorus Help"));
        EXPECT_EQ(help.size(), QSize(620, 373));
        EXPECT_EQ(help.parentWidget(), nullptr) << "a window of its own, not owned by the main one";
        EXPECT_TRUE(help.rect().contains(text.geometry())) << "the box lies inside the window";
        EXPECT_TRUE(text.isVisible());
        EXPECT_EQ(text.toPlainText().split(u'\n'), helpLines());
        // Typing, pasting and deleting leave the text as it is.
        text.setFocus();
        QTest::keyClicks(&text, QStringLiteral("xyz"));
        QTest::keyClick(&text, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(&text, Qt::Key_Delete);
        QTest::keyClick(&text, Qt::Key_Backspace);
        EXPECT_EQ(text.toPlainText().split(u'\n'), helpLines());
        text.verticalScrollBar()->setValue(text.verticalScrollBar()->maximum());
    });
    withHelpOpen([](QWidget&, QPlainTextEdit& text) {
        EXPECT_EQ(text.verticalScrollBar()->value(), 0) << "a new window, at the top";
        EXPECT_EQ(text.toPlainText().split(u'\n'), helpLines()) << "the same text again";
    });
}

TEST_F(HelpAboutTest, HelpTextWrapsToTheWindowAndEscapeClosesTheWindow) {
    withHelpOpen([](QWidget& help, QPlainTextEdit& text) {
        const QTextDocument* document = text.document();
        const int narrowLines = document->lineCount();
        EXPECT_GT(narrowLines, document->blockCount()) << "the long lines wrap";
        EXPECT_EQ(text.horizontalScrollBar()->maximum(), 0) << "no line runs past the right edge";
        // A wider window: the box fills it, and the paragraphs wrap into fewer, longer lines.
        const QSize wider(1200, 500);
        help.resize(wider);
        QApplication::processEvents();
        EXPECT_EQ(help.size(), wider);
        EXPECT_GT(text.width(), wider.width() * 9 / 10) << "the box follows the window";
        EXPECT_LT(document->lineCount(), narrowLines);
        EXPECT_EQ(text.horizontalScrollBar()->maximum(), 0);
        QTest::keyClick(&text, Qt::Key_A); // a key the box ignores leaves it open
        EXPECT_TRUE(help.isVisible());
        QTest::keyClick(&text, Qt::Key_Escape); // from the box, which has the focus
        EXPECT_FALSE(help.isVisible());
    });
}

TEST_F(HelpAboutTest, WhileHelpIsOpenTheMainWindowsEventsAreDropped) {
    withHelpOpen([&](QWidget&, QPlainTextEdit&) {
        EXPECT_TRUE(w->isEnabled());
        QTest::mouseClick(ui.playToggle, Qt::LeftButton);
        EXPECT_TRUE(ui.playToggle->isChecked()) << "the button shows the click";
        EXPECT_EQ(ui.playToggle->text(), QStringLiteral("play")) << "but nothing reacts";
        EXPECT_FALSE(program.playClock().running());
        QTest::mouseClick(ui.majorOption, Qt::LeftButton);
        EXPECT_FALSE(ui.rootNoteCombo->isEnabled());
        ui.menuType2->trigger();
        EXPECT_TRUE(ui.menuType1->isChecked());
        w->close();
        EXPECT_FALSE(program.closeRequested()) << "closing the main window is ignored";
    });
    EXPECT_FALSE(program.closeRequested());
    // Handlers run again on the next action: the play toggle, left down, is clicked up.
    QTest::mouseClick(ui.playToggle, Qt::LeftButton);
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("play"));
    QTest::mouseClick(ui.minorOption, Qt::LeftButton);
    EXPECT_TRUE(ui.rootNoteCombo->isEnabled());
}

} // namespace
} // namespace doodle::test
