#include "GuiTestSupport.h"
#include "mapping/DrawingArea.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace doodle::test {
namespace {

using MainWindowTest = ProgramTest;

TEST_F(MainWindowTest, WindowIsFixedCentredAndGivesTheMenuBarItsHeight) {
    EXPECT_EQ(w->windowTitle(), QStringLiteral("DoodleChorus"));
    EXPECT_EQ(w->size(), QSize(380, 240));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    const int menuHeight = w->menuBar()->height();
    EXPECT_GT(menuHeight, 0);
    EXPECT_EQ(w->centralWidget()->height(), 240 - menuHeight);
    // The lowest controls end at y = 210 and must still be inside.
    EXPECT_LE(210, w->centralWidget()->height());

    const QRect screen = w->screen()->geometry();
    const QRect frame = w->frameGeometry();
    EXPECT_EQ(frame.left(), screen.left() + (screen.width() - frame.width()) / 2);
    EXPECT_EQ(frame.top(), screen.top() + (screen.height() - frame.height()) / 2);
}

TEST_F(MainWindowTest, MenuHasItsSixItemsWithIdsAndTheType1Check) {
    const QList<QAction*> titles = w->menuBar()->actions();
    ASSERT_EQ(titles.size(), 3);
    EXPECT_EQ(titles[0]->text(), QStringLiteral("File"));
    EXPECT_EQ(titles[1]->text(), QStringLiteral("Voice"));
    EXPECT_EQ(titles[2]->text(), QStringLiteral("?"));

    struct Item {
        int menu;
        const char* text;
        int id;
        bool checkable;
        bool checked;
    };
    const Item items[] = {{0, "Open", 1, false, false},  {0, "Save", 2, false, false},
                          {1, "Type 1", 3, true, true},  {1, "Type 2", 4, true, false},
                          {2, "About", 5, false, false}, {2, "Help", 6, false, false}};
    int index[3] = {0, 0, 0};
    for (const Item& item : items) {
        const QList<QAction*> entries = titles[item.menu]->menu()->actions();
        ASSERT_LT(index[item.menu], entries.size());
        const QAction* action = entries[index[item.menu]++];
        EXPECT_EQ(action->text(), QString::fromLatin1(item.text));
        EXPECT_EQ(action->data().toInt(), item.id) << item.text;
        EXPECT_EQ(action->isCheckable(), item.checkable) << item.text;
        EXPECT_EQ(action->isChecked(), item.checked) << item.text;
        EXPECT_TRUE(action->shortcut().isEmpty()) << item.text;
    }
    for (int m = 0; m < 3; ++m) {
        EXPECT_EQ(index[m], titles[m]->menu()->actions().size()) << "no extra items or separators";
    }
}

TEST_F(MainWindowTest, ControlsStartWithTheirIdsPlacesTextsAndStates) {
    struct Expected {
        int id;
        QRect place;
        const char* text; // nullptr: no text to check
        bool enabled;
    };
    const Expected controls[] = {
        {97, {280, 28, 60, 20}, "record", true},
        {98, {280, 50, 60, 20}, "play", true},
        {108, {280, 5, 60, 20}, "clear", true},
        {99, {10, 10, 240, 200}, nullptr, true},
        {100, {275, 70, 75, 20}, nullptr, true},
        {110, {300, 90, 60, 20}, "Grid", true},
        {101, {265, 125, 80, 20}, "Unrestricted", true},
        {103, {265, 145, 45, 20}, "Major", true},
        {104, {265, 165, 45, 20}, "Minor", true},
        {107, {265, 185, 100, 20}, "Pentatonic", true},
        {105, {255, 110, 115, 100}, "Scale", true},
        {109, {350, 30, 20, 20}, "", true},
        {106, {315, 155, 45, 20}, nullptr, false},
    };
    for (const Expected& c : controls) {
        QWidget* control = w->control(c.id);
        ASSERT_NE(control, nullptr) << c.id;
        EXPECT_EQ(control->geometry(), c.place) << c.id;
        EXPECT_EQ(control->isEnabled(), c.enabled) << c.id;
        if (c.text == nullptr) {
            continue;
        }
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            text = button->text();
        } else if (auto* label = qobject_cast<QLabel*>(control)) {
            text = label->text();
        } else if (auto* frame = qobject_cast<QGroupBox*>(control)) {
            text = frame->title();
        }
        EXPECT_EQ(text, QString::fromLatin1(c.text)) << c.id;
    }
    EXPECT_EQ(w->control(102), nullptr);

    EXPECT_FALSE(ui.recordToggle->isChecked());
    EXPECT_TRUE(ui.recordToggle->isCheckable());
    EXPECT_FALSE(ui.playToggle->isChecked());
    EXPECT_TRUE(ui.playToggle->isCheckable());
    EXPECT_FALSE(ui.gridCheckBox->isChecked());
    EXPECT_TRUE(ui.unrestrictedOption->isChecked());
    EXPECT_FALSE(ui.majorOption->isChecked());
    EXPECT_FALSE(ui.minorOption->isChecked());
    EXPECT_FALSE(ui.pentatonicOption->isChecked());
    EXPECT_EQ(ui.speedSlider->orientation(), Qt::Horizontal);
    EXPECT_EQ(ui.speedSlider->minimum(), 10);
    EXPECT_EQ(ui.speedSlider->maximum(), 50);
    EXPECT_EQ(ui.speedSlider->value(), 10);

    const QStringList names = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    ASSERT_EQ(ui.rootNoteCombo->count(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(ui.rootNoteCombo->itemText(i), names[i]);
    }
    EXPECT_EQ(ui.rootNoteCombo->currentIndex(), 0);
    EXPECT_FALSE(ui.rootNoteCombo->isEditable());

    const QImage& image = ui.drawingArea->image();
    EXPECT_EQ(image.size(), QSize(240, 200));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(239, 199), qRgb(255, 255, 255));
    EXPECT_EQ(ui.drawingArea->focusPolicy(), Qt::NoFocus);

    EXPECT_TRUE(w->textsFit()) << "every control's text must be readable in its box";
}

TEST_F(MainWindowTest, F10OpensTheFileMenuAndTabFollowsTheControlsAsSeen) {
    QMenu* file = w->menuBar()->actions().constFirst()->menu();
    QTest::keyClick(w, Qt::Key_F10);
    EXPECT_TRUE(file->isVisible());
    file->close();

    QTest::mouseClick(ui.majorOption, Qt::LeftButton); // enables the root list
    ui.clearButton->setFocus();
    // The scale options are one stop, at the selected one; after the list Tab starts over.
    const QList<QWidget*> expected = {ui.clearButton,   ui.recordToggle, ui.playToggle,
                                      ui.speedSlider,   ui.gridCheckBox, ui.majorOption,
                                      ui.rootNoteCombo, ui.clearButton};
    QList<QWidget*> seen = {w->focusWidget()};
    while (seen.size() < expected.size()) {
        QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
        seen.append(w->focusWidget());
    }
    EXPECT_EQ(seen, expected);
}

TEST_F(MainWindowTest, ScreenReadersNameTheControlsThatShowNoNameAndHearTheSpeed) {
    auto said = [](QWidget* control, QAccessible::Text kind) {
        return QAccessible::queryAccessibleInterface(control)->text(kind);
    };
    const std::pair<QWidget*, QString> names[] = {
        {ui.speedSlider, "Playback speed"},
        {ui.drawingArea, "Drawing area: left to right is pitch, top to bottom is vowel"},
        {ui.rootNoteCombo, "Root note"},
        {ui.noteLabel, "Current note"},
    };
    for (const auto& [control, name] : names) {
        EXPECT_EQ(control->accessibleName(), name);
        // Qt on Linux names the list by its item: its description says what it is.
        const bool list = control == ui.rootNoteCombo;
        EXPECT_EQ(said(control, list ? QAccessible::Description : QAccessible::Name), name);
        EXPECT_EQ(control->toolTip(), list ? QString() : name) << "a tooltip where no text shows";
    }
    EXPECT_EQ(said(ui.speedSlider, QAccessible::Description), QStringLiteral("1.0×"));
    ui.speedSlider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(said(ui.speedSlider, QAccessible::Description), QStringLiteral("1.1×"));
    ui.speedSlider->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(said(ui.speedSlider, QAccessible::Description), QStringLiteral("5.0×"));
    ui.noteLabel->setText(QStringLiteral("F#")); // the note itself is still heard
    EXPECT_EQ(said(ui.noteLabel, QAccessible::Description), QStringLiteral("F#"));
}

TEST_F(MainWindowTest, TheScaleFrameLineRunsThroughItsTitleAndAboveTheOptions) {
    // The frame's own painting, without its children or background: the first row with ink
    // right of the title is the top line.
    QWidget* frame = ui.scaleFrame;
    QImage image(frame->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    frame->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    const int rightOfTitleX = frame->width() - 10;
    int lineY = -1;
    for (int y = 0; y < image.height() && lineY < 0; ++y) {
        lineY = qAlpha(image.pixel(rightOfTitleX, y)) != 0 ? y : -1;
    }
    ASSERT_GE(lineY, 0) << "no frame line";
    const int titleHeightPx = frame->fontMetrics().height();
    EXPECT_LT(lineY, titleHeightPx) << "the title sits on the line";
    EXPECT_LT(frame->y() + lineY, ui.unrestrictedOption->y()) << "the line crosses an option";
}

TEST_F(MainWindowTest, FirstTickLeavesTheTickerPausedAndTheVoiceReleased) {
    EXPECT_TRUE(program.voice().released());
    EXPECT_FALSE(ui.playToggle->isChecked());
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("play"));
    EXPECT_TRUE(ui.gridCheckBox->isEnabled());
    const int32_t count = program.ticker().tickCount.load();
    QTest::qWait(20); // paused: further wake-ups neither count nor post
    EXPECT_EQ(program.ticker().tickCount.load(), count);
}

TEST_F(MainWindowTest, VoiceTypeCheckMoveOnlyToTheOtherType) {
    ui.menuType2->trigger();
    EXPECT_TRUE(ui.menuType2->isChecked());
    EXPECT_FALSE(ui.menuType1->isChecked());
    ui.menuType2->trigger(); // already checked: nothing changes
    EXPECT_TRUE(ui.menuType2->isChecked());
    EXPECT_FALSE(ui.menuType1->isChecked());
    ui.menuType1->trigger();
    EXPECT_TRUE(ui.menuType1->isChecked());
    EXPECT_FALSE(ui.menuType2->isChecked());
    ui.menuType1->trigger();
    EXPECT_TRUE(ui.menuType1->isChecked());
    EXPECT_FALSE(ui.menuType2->isChecked());
}

TEST_F(MainWindowTest, GridClickWithUnrestrictedUnticksAndDisablesTheBox) {
    QTest::mouseClick(ui.gridCheckBox, Qt::LeftButton);
    EXPECT_FALSE(ui.gridCheckBox->isChecked());
    EXPECT_FALSE(ui.gridCheckBox->isEnabled());
}

TEST_F(MainWindowTest, ScaleOptionsEnableRootAndGridAndUnrestrictedDisablesThem) {
    QTest::mouseClick(ui.gridCheckBox, Qt::LeftButton); // disabled by Unrestricted
    QTest::mouseClick(ui.majorOption, Qt::LeftButton);
    EXPECT_TRUE(ui.majorOption->isChecked());
    EXPECT_TRUE(ui.rootNoteCombo->isEnabled());
    EXPECT_TRUE(ui.gridCheckBox->isEnabled());

    QTest::mouseClick(ui.gridCheckBox, Qt::LeftButton);
    EXPECT_TRUE(ui.gridCheckBox->isChecked()); // a scale is selected: the tick stays
    ui.noteLabel->setText(QStringLiteral("D"));
    QTest::mouseClick(ui.unrestrictedOption, Qt::LeftButton);
    EXPECT_FALSE(ui.gridCheckBox->isChecked());
    EXPECT_FALSE(ui.gridCheckBox->isEnabled());
    EXPECT_FALSE(ui.rootNoteCombo->isEnabled());
    EXPECT_EQ(ui.rootNoteCombo->currentIndex(), 0);
    EXPECT_TRUE(ui.noteLabel->text().isEmpty());
}

TEST_F(MainWindowTest, PlayWithAnEmptyRecordingEndsOnTheNextTick) {
    QTest::mouseClick(ui.playToggle, Qt::LeftButton);
    EXPECT_TRUE(ui.playToggle->isChecked());
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("playing"));
    EXPECT_EQ(program.ticker().tickerPaused.load(), 0);
    EXPECT_FALSE(ui.gridCheckBox->isEnabled());
    // A scale chosen during playback does not enable Grid.
    QTest::mouseClick(ui.pentatonicOption, Qt::LeftButton);
    EXPECT_FALSE(ui.gridCheckBox->isEnabled());

    ASSERT_TRUE(processUntil([&] { return !ui.playToggle->isChecked(); }));
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("play"));
    EXPECT_EQ(program.ticker().tickerPaused.load(), 1);
    EXPECT_TRUE(ui.gridCheckBox->isEnabled());
    EXPECT_FALSE(ui.gridCheckBox->isChecked());
    EXPECT_TRUE(program.voice().released());
}

TEST_F(MainWindowTest, AnyMenuChoiceDuringPlaybackEndsItFirst) {
    QTest::mouseClick(ui.playToggle, Qt::LeftButton);
    ASSERT_TRUE(ui.playToggle->isChecked());
    ui.menuType1->trigger(); // even the type that is already checked
    EXPECT_FALSE(ui.playToggle->isChecked());
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("play"));
    EXPECT_EQ(program.ticker().tickerPaused.load(), 1);
    EXPECT_TRUE(ui.gridCheckBox->isEnabled());
    EXPECT_TRUE(ui.menuType1->isChecked());
}

TEST_F(MainWindowTest, SliderSetsThePlaybackSpeedInTenths) {
    ui.speedSlider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_DOUBLE_EQ(program.playSpeed(), 1.1);
    ui.speedSlider->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_DOUBLE_EQ(program.playSpeed(), 5.0);
}

TEST_F(MainWindowTest, ClosingTheWindowEndsTheProgram) {
    EXPECT_FALSE(program.closeRequested());
    w->close();
    EXPECT_TRUE(program.closeRequested());
    EXPECT_TRUE(w->isVisible()) << "the dispatch ends the program, not Qt";
    // Nothing reacts once the close has been handled.
    QTest::mouseClick(ui.playToggle, Qt::LeftButton);
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("play"));
    EXPECT_EQ(program.ticker().tickerPaused.load(), 1);
}

} // namespace
} // namespace doodle::test
