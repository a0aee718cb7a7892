#include "GuiTestSupport.h"
#include "app/DrawingArea.h"

#include <QAccessible>
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QSlider>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTest>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace doodle::test {
namespace {

using MainWindowTest = ProgramTest;

// Every control of the window with its place in client pixels.
struct ShownControl {
    QWidget* widget;
    QRect rect;
};
std::vector<ShownControl> shownControls(const MainWindow& window, const WindowControls& ui) {
    const QWidget* client = window.centralWidget();
    std::vector<ShownControl> shown;
    for (QWidget* widget : std::initializer_list<QWidget*>{
             ui.recordToggle, ui.playToggle, ui.clearButton, ui.drawingArea, ui.speedSlider,
             ui.gridCheckBox, ui.unrestrictedOption, ui.majorOption, ui.minorOption,
             ui.pentatonicOption, ui.scaleFrame, ui.noteLabel, ui.rootNoteCombo}) {
        shown.push_back({widget, QRect(widget->mapTo(client, QPoint(0, 0)), widget->size())});
    }
    return shown;
}

TEST_F(MainWindowTest, WindowStartsAtItsLeastSizeMaximizesIsCentredAndGivesTheMenuBarItsHeight) {
    EXPECT_EQ(w->windowTitle(), QStringLiteral("DoodleChorus"));
    EXPECT_EQ(w->size(), QSize(380, 240));
    EXPECT_EQ(w->minimumSize(), QSize(380, 240));
    EXPECT_GT(w->maximumWidth(), 380);
    EXPECT_GT(w->maximumHeight(), 240);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    const int menuHeight = w->menuBar()->height();
    EXPECT_GT(menuHeight, 0);
    EXPECT_EQ(w->centralWidget()->height(), 240 - menuHeight);

    const QRect screen = w->screen()->geometry();
    const QRect frame = w->frameGeometry();
    EXPECT_EQ(frame.left(), screen.left() + (screen.width() - frame.width()) / 2);
    EXPECT_EQ(frame.top(), screen.top() + (screen.height() - frame.height()) / 2);
}

TEST_F(MainWindowTest, MenuHasItsItemsKeysAndTheType1Check) {
    const QList<QAction*> titles = w->menuBar()->actions();
    ASSERT_EQ(titles.size(), 5);
    // Alt and the underlined letter open a menu; "?" has no letter to give.
    EXPECT_EQ(titles[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(titles[1]->text(), QStringLiteral("&Edit"));
    EXPECT_EQ(titles[2]->text(), QStringLiteral("&Voice"));
    EXPECT_EQ(titles[3]->text(), QStringLiteral("&MIDI"));
    EXPECT_EQ(titles[4]->text(), QStringLiteral("?"));
    auto* channels = w->findChild<QMenu*>(QStringLiteral("menuMidiInChannel"));
    ASSERT_NE(channels, nullptr);
    auto* tunings = w->findChild<QMenu*>(QStringLiteral("menuTuning"));
    ASSERT_NE(tunings, nullptr);
    auto* recent = w->findChild<QMenu*>(QStringLiteral("menuOpenRecent"));
    auto* quit = w->findChild<QAction*>(QStringLiteral("menuQuit"));
    auto* undo = w->findChild<QAction*>(QStringLiteral("menuUndo"));
    ASSERT_NE(recent, nullptr);
    ASSERT_NE(quit, nullptr);
    ASSERT_NE(undo, nullptr);
    // The program's items first and in their order (Open and Save first), the desktop's after.
    const std::vector<std::vector<QAction*>> expected = {
        {ui.menuOpen, ui.menuSave, ui.menuExportWav, ui.menuExportMidi, nullptr,
         recent->menuAction(), nullptr, quit},
        {undo},
        {ui.menuType1, ui.menuType2, nullptr, tunings->menuAction()},
        {channels->menuAction()},
        {ui.menuAbout, ui.menuHelp}};
    const std::map<const QAction*, QKeySequence> keys = {
        {ui.menuOpen, QKeySequence(QStringLiteral("Ctrl+O"))},
        {ui.menuSave, QKeySequence(QStringLiteral("Ctrl+S"))},
        {quit, QKeySequence(QStringLiteral("Ctrl+Q"))},
        {undo, QKeySequence(QStringLiteral("Ctrl+Z"))}};
    const QStringList texts = {
        "Open",  "Save", "Export as WAV\u2026", "Export as MIDI\u2026", "Type 1", "Type 2",
        "About", "Help"};
    qsizetype item = 0;
    for (qsizetype m = 0; m < titles.size(); ++m) {
        const QList<QAction*> entries = titles[m]->menu()->actions();
        const std::vector<QAction*>& wanted = expected[static_cast<size_t>(m)];
        ASSERT_EQ(static_cast<std::size_t>(entries.size()), wanted.size());
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            const QAction* action = entries[static_cast<qsizetype>(i)];
            if (wanted[i] == nullptr) {
                EXPECT_TRUE(action->isSeparator());
                continue;
            }
            EXPECT_EQ(action, wanted[i]);
            const auto key = keys.find(action);
            EXPECT_EQ(action->shortcut(), key != keys.end() ? key->second : QKeySequence())
                << action->text().toStdString();
            if (action->objectName().startsWith(QStringLiteral("menu")) && action != quit &&
                action != undo && action != recent->menuAction() &&
                action != channels->menuAction() && action != tunings->menuAction()) {
                EXPECT_EQ(action->text(), texts.value(item++));
            }
        }
    }
    EXPECT_EQ(item, texts.size());
    for (const QAction* action : {ui.menuOpen, ui.menuSave, ui.menuExportWav, ui.menuExportMidi,
                                  ui.menuAbout, ui.menuHelp}) {
        EXPECT_FALSE(action->isCheckable()) << action->text().toStdString();
    }
    EXPECT_TRUE(ui.menuType1->isCheckable());
    EXPECT_TRUE(ui.menuType2->isCheckable());
    EXPECT_TRUE(ui.menuType1->isChecked());
    EXPECT_FALSE(ui.menuType2->isChecked());
    EXPECT_FALSE(undo->isEnabled()) << "nothing to bring back yet";
    EXPECT_FALSE(recent->isEnabled()) << "no file opened or saved yet";
}

TEST_F(MainWindowTest, ControlsStartWithTheirTextsAndStates) {
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("record"));
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("play"));
    EXPECT_EQ(ui.clearButton->text(), QStringLiteral("clear"));
    EXPECT_EQ(ui.gridCheckBox->text(), QStringLiteral("Grid"));
    EXPECT_EQ(ui.unrestrictedOption->text(), QStringLiteral("Unrestricted"));
    EXPECT_EQ(ui.majorOption->text(), QStringLiteral("Major"));
    EXPECT_EQ(ui.minorOption->text(), QStringLiteral("Minor"));
    EXPECT_EQ(ui.pentatonicOption->text(), QStringLiteral("Pentatonic"));
    EXPECT_EQ(ui.scaleFrame->title(), QStringLiteral("Scale"));
    EXPECT_TRUE(ui.noteLabel->text().isEmpty());
    for (const ShownControl& control : shownControls(*w, ui)) {
        EXPECT_TRUE(control.widget->isVisible()) << control.widget->objectName().toStdString();
        EXPECT_EQ(control.widget->isEnabled(), control.widget != ui.rootNoteCombo)
            << control.widget->objectName().toStdString();
    }

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

    // The drawing area's pixels are the pitch and vowel coordinates: exactly 240 by 200.
    EXPECT_EQ(ui.drawingArea->size(), QSize(240, 200));
    const QImage& image = ui.drawingArea->image();
    EXPECT_EQ(image.size(), QSize(240, 200));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(239, 199), qRgb(255, 255, 255));
    EXPECT_EQ(ui.drawingArea->focusPolicy(), Qt::NoFocus);
}

TEST_F(MainWindowTest, ControlsLieInsideTheWindowApartFromEachOther) {
    const std::vector<ShownControl> shown = shownControls(*w, ui);
    const QRect client = w->centralWidget()->rect();
    for (const ShownControl& control : shown) {
        EXPECT_TRUE(client.contains(control.rect))
            << control.widget->objectName().toStdString() << " runs past the window";
    }
    // No two overlap, but for the scale frame around what it holds.
    for (size_t i = 0; i < shown.size(); ++i) {
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const ShownControl& a = shown[i];
            const ShownControl& b = shown[j];
            if (a.widget->isAncestorOf(b.widget)) {
                EXPECT_TRUE(a.rect.contains(b.rect)) << b.widget->objectName().toStdString();
            } else if (b.widget->isAncestorOf(a.widget)) {
                EXPECT_TRUE(b.rect.contains(a.rect)) << a.widget->objectName().toStdString();
            } else {
                EXPECT_FALSE(a.rect.intersects(b.rect))
                    << a.widget->objectName().toStdString() << " overlaps "
                    << b.widget->objectName().toStdString();
            }
        }
    }
}

TEST_F(MainWindowTest, EveryTextShowsWholeInItsBox) {
    // Buttons in both states, as the toggles show them down.
    auto buttonFits = [](const QPushButton* button) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const QFontMetrics metrics = button->fontMetrics();
        return metrics.horizontalAdvance(button->text()) <= room.width() &&
               metrics.height() <= room.height();
    };
    for (bool down : {false, true}) {
        w->setRecording(down);
        w->setPlaying(down);
        for (const QPushButton* button : {ui.recordToggle, ui.playToggle, ui.clearButton}) {
            EXPECT_TRUE(buttonFits(button)) << button->text().toStdString();
        }
    }
    w->setRecording(false);
    w->setPlaying(false);
    // Beside the indicator, in the room the style draws the text in.
    for (const QAbstractButton* option : std::initializer_list<const QAbstractButton*>{
             ui.gridCheckBox, ui.unrestrictedOption, ui.majorOption, ui.minorOption,
             ui.pentatonicOption}) {
        QStyleOptionButton styleOption;
        styleOption.initFrom(option);
        styleOption.text = option->text();
        const QStyle::SubElement contents = option == ui.gridCheckBox
                                                ? QStyle::SE_CheckBoxContents
                                                : QStyle::SE_RadioButtonContents;
        const QRect room = option->style()->subElementRect(contents, &styleOption, option);
        const QFontMetrics metrics = option->fontMetrics();
        EXPECT_LE(metrics.horizontalAdvance(option->text()), room.width())
            << option->text().toStdString();
        EXPECT_LE(metrics.height(), room.height()) << option->text().toStdString();
    }
    // The widest note names, in the label and in the list beside its arrow.
    QStyleOptionComboBox comboOption;
    comboOption.initFrom(ui.rootNoteCombo);
    const QRect field = ui.rootNoteCombo->style()->subControlRect(
        QStyle::CC_ComboBox, &comboOption, QStyle::SC_ComboBoxEditField, ui.rootNoteCombo);
    for (int i = 0; i < ui.rootNoteCombo->count(); ++i) {
        const QString name = ui.rootNoteCombo->itemText(i);
        EXPECT_LE(ui.rootNoteCombo->fontMetrics().horizontalAdvance(name), field.width())
            << name.toStdString();
        EXPECT_LE(ui.noteLabel->fontMetrics().horizontalAdvance(name),
                  ui.noteLabel->contentsRect().width())
            << name.toStdString();
    }
    EXPECT_LE(ui.scaleFrame->fontMetrics().horizontalAdvance(ui.scaleFrame->title()),
              ui.scaleFrame->width());
}

TEST_F(MainWindowTest, F10OpensTheFileMenuAndTabReachesEveryControlTopToBottom) {
    QMenu* file = w->menuBar()->actions().constFirst()->menu();
    QTest::keyClick(w, Qt::Key_F10);
    EXPECT_TRUE(file->isVisible());
    file->close();

    QTest::mouseClick(ui.majorOption, Qt::LeftButton); // enables the root list
    // What Tab must reach: every control that takes focus from Tab, the scale options being
    // one stop at the selected one (the arrow keys move among them).
    QSet<QWidget*> focusable;
    for (QWidget* widget : w->centralWidget()->findChildren<QWidget*>()) {
        const bool otherOption =
            qobject_cast<QRadioButton*>(widget) != nullptr && widget != ui.majorOption;
        if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->isEnabled() &&
            widget->isVisible() && !otherOption) {
            focusable.insert(widget);
        }
    }
    EXPECT_TRUE(focusable.contains(ui.rootNoteCombo));
    ui.clearButton->setFocus();
    QList<QWidget*> cycle = {ui.clearButton};
    for (qsizetype i = 0; i < focusable.size(); ++i) {
        QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
        cycle.append(w->focusWidget());
    }
    EXPECT_EQ(cycle.constLast(), ui.clearButton) << "Tab starts over after the last control";
    cycle.removeLast();
    EXPECT_EQ(QSet<QWidget*>(cycle.begin(), cycle.end()), focusable);
    EXPECT_EQ(cycle.size(), focusable.size()) << "each control once";
    // As they are read: from the top of the window down.
    const QWidget* client = w->centralWidget();
    for (qsizetype i = 1; i < cycle.size(); ++i) {
        EXPECT_LE(cycle[i - 1]->mapTo(client, QPoint(0, 0)).y(),
                  cycle[i]->mapTo(client, QPoint(0, 0)).y())
            << cycle[i - 1]->objectName().toStdString() << " before "
            << cycle[i]->objectName().toStdString();
    }
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

TEST_F(MainWindowTest, AScreenReadersToggleActionWorksAsAClick) {
    auto toggle = [](QWidget* control) {
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(spoken, nullptr);
        QAccessibleActionInterface* actions = spoken->actionInterface();
        ASSERT_NE(actions, nullptr);
        ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()))
            << control->objectName().toStdString();
        actions->doAction(QAccessibleActionInterface::toggleAction());
    };
    toggle(ui.recordToggle);
    EXPECT_TRUE(ui.recordToggle->isChecked());
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("recording")) << "recording started";
    EXPECT_FALSE(ui.playToggle->isEnabled());
    toggle(ui.recordToggle);
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("record"));
    EXPECT_TRUE(ui.playToggle->isEnabled());

    toggle(ui.minorOption);
    EXPECT_TRUE(ui.minorOption->isChecked());
    EXPECT_TRUE(ui.rootNoteCombo->isEnabled()) << "the scale is in effect";
    toggle(ui.gridCheckBox);
    EXPECT_TRUE(ui.gridCheckBox->isChecked());
    EXPECT_NE(area->image().pixel(0, 0), qRgb(255, 255, 255)) << "the grid is drawn";
    toggle(ui.unrestrictedOption);
    EXPECT_FALSE(ui.gridCheckBox->isChecked());
    EXPECT_FALSE(ui.gridCheckBox->isEnabled()) << "Unrestricted takes the grid away";

    toggle(ui.playToggle);
    EXPECT_TRUE(program.playClock().running()) << "playback runs";
    ASSERT_TRUE(processUntil([&] { return !ui.playToggle->isChecked(); }));
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("play"));
}

TEST_F(MainWindowTest, ArrowKeysMoveThroughTheScaleOptionsInsideTheirFrame) {
    // The frame does not split the options: they are one group and the program hears it.
    ui.unrestrictedOption->setFocus();
    QTest::keyClick(ui.unrestrictedOption, Qt::Key_Down);
    EXPECT_TRUE(ui.majorOption->isChecked());
    EXPECT_FALSE(ui.unrestrictedOption->isChecked());
    EXPECT_TRUE(ui.rootNoteCombo->isEnabled()) << "the program heard the choice";
    QTest::mouseClick(ui.pentatonicOption, Qt::LeftButton);
    EXPECT_FALSE(ui.majorOption->isChecked()) << "exactly one selected";
}

TEST_F(MainWindowTest, ReturnAndKeypadEnterPressAButtonAsSpaceDoes) {
    ui.recordToggle->setFocus();
    QTest::keyClick(ui.recordToggle, Qt::Key_Space);
    ASSERT_TRUE(ui.recordToggle->isChecked());
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("recording"));
    EXPECT_FALSE(ui.playToggle->isEnabled());
    QTest::keyClick(ui.recordToggle, Qt::Key_Return);
    EXPECT_FALSE(ui.recordToggle->isChecked());
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("record"));
    EXPECT_TRUE(ui.playToggle->isEnabled());
    QTest::keyClick(ui.recordToggle, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(ui.recordToggle->isChecked());
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("recording"));

    // A held key presses once, however often it repeats.
    QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QCoreApplication::sendEvent(ui.recordToggle, &repeated);
    EXPECT_TRUE(ui.recordToggle->isChecked());
    EXPECT_EQ(ui.recordToggle->text(), QStringLiteral("recording"));
    // With Ctrl held the key is not the button's.
    QTest::keyClick(ui.recordToggle, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(ui.recordToggle->isChecked());
    QTest::keyClick(ui.recordToggle, Qt::Key_Return);
    EXPECT_FALSE(ui.recordToggle->isChecked());

    ui.playToggle->setFocus();
    QTest::keyClick(ui.playToggle, Qt::Key_Return);
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("playing"));
    EXPECT_TRUE(program.playClock().running()) << "playback runs";
    ASSERT_TRUE(processUntil([&] { return !ui.playToggle->isChecked(); }));

    press({100, 100});
    release({100, 100});
    ASSERT_NE(area->image().pixel(100, 100), qRgb(255, 255, 255));
    ui.clearButton->setFocus();
    QTest::keyClick(ui.clearButton, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(area->image().pixel(100, 100), qRgb(255, 255, 255)) << "cleared";
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
    EXPECT_LT(lineY, ui.unrestrictedOption->mapTo(frame, QPoint(0, 0)).y())
        << "the line crosses an option";
}

TEST_F(MainWindowTest, VoiceTypeCheckMoveOnlyToTheOtherType) {
    // Each choice twice: choosing the checked type again changes nothing.
    for (QAction* chosen : {ui.menuType2, ui.menuType2, ui.menuType1, ui.menuType1}) {
        chosen->trigger();
        EXPECT_TRUE(chosen->isChecked());
        EXPECT_NE(ui.menuType1->isChecked(), ui.menuType2->isChecked());
    }
}

// Voice > Tuning: Classic and Concert, from the program's captions, Classic checked at first;
// a choice moves the check and the settings, the checked one again changes nothing, and the
// scale modes' pitches follow.
TEST_F(MainWindowTest, TuningIsAChoiceOfTwoUnderVoiceStartingAtClassic) {
    auto* tunings = w->findChild<QMenu*>(QStringLiteral("menuTuning"));
    ASSERT_NE(tunings, nullptr);
    EXPECT_EQ(tunings->title(), QStringLiteral("&Tuning"));
    auto* classic = w->findChild<QAction*>(QStringLiteral("menuTuningClassic"));
    auto* concert = w->findChild<QAction*>(QStringLiteral("menuTuningConcert"));
    ASSERT_NE(classic, nullptr);
    ASSERT_NE(concert, nullptr);
    EXPECT_EQ(tunings->actions(), (QList<QAction*>{classic, concert}));
    EXPECT_EQ(classic->text(), QStringLiteral("Classic"));
    EXPECT_EQ(concert->text(), QStringLiteral("Concert"));
    EXPECT_TRUE(classic->isCheckable());
    EXPECT_TRUE(concert->isCheckable());
    EXPECT_TRUE(classic->isChecked());
    EXPECT_FALSE(concert->isChecked());
    for (QAction* chosen : {concert, concert, classic, classic, concert}) {
        chosen->trigger();
        EXPECT_TRUE(chosen->isChecked());
        EXPECT_NE(classic->isChecked(), concert->isChecked());
        EXPECT_EQ(program.renderSettings().tuning,
                  chosen == concert ? Tuning::Concert : Tuning::Classic);
    }
}

TEST_F(MainWindowTest, MidiInputChannelIsARadioChoiceStartingAtAllButTheDrums) {
    auto* channels = w->findChild<QMenu*>(QStringLiteral("menuMidiInChannel"));
    ASSERT_NE(channels, nullptr);
    EXPECT_EQ(channels->title(), QStringLiteral("&Input Channel"));
    const QList<QAction*> items = channels->actions();
    ASSERT_EQ(items.size(), 17);
    EXPECT_EQ(items[0]->text(), QStringLiteral("All except 10 (drums)"));
    EXPECT_EQ(items[16]->text(), QStringLiteral("Channel 16"));
    const auto checkedItems = [&] {
        QList<QAction*> checked;
        for (QAction* item : items) {
            EXPECT_TRUE(item->actionGroup() != nullptr && item->actionGroup()->isExclusive())
                << "drawn as a radio item: " << item->text().toStdString();
            if (item->isChecked()) {
                checked << item;
            }
        }
        return checked;
    };
    EXPECT_EQ(checkedItems(), QList<QAction*>{items[0]}) << "all channels by default";
    // Each choice twice: choosing the checked item again keeps its mark.
    for (const qsizetype chosen : {3, 3, 10, 0, 0}) {
        items[chosen]->trigger();
        EXPECT_EQ(checkedItems(), QList<QAction*>{items[chosen]}) << "item " << chosen;
    }
}

TEST_F(MainWindowTest, ScaleOptionsEnableRootAndGridAndUnrestrictedDisablesThem) {
    QTest::mouseClick(ui.gridCheckBox, Qt::LeftButton); // refused in Unrestricted
    EXPECT_FALSE(ui.gridCheckBox->isChecked());
    EXPECT_FALSE(ui.gridCheckBox->isEnabled());
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
    EXPECT_TRUE(program.playClock().running());
    EXPECT_FALSE(ui.gridCheckBox->isEnabled());
    // A scale chosen during playback does not enable Grid.
    QTest::mouseClick(ui.pentatonicOption, Qt::LeftButton);
    EXPECT_FALSE(ui.gridCheckBox->isEnabled());

    ASSERT_TRUE(processUntil([&] { return !ui.playToggle->isChecked(); }));
    EXPECT_EQ(ui.playToggle->text(), QStringLiteral("play"));
    EXPECT_FALSE(program.playClock().running());
    EXPECT_TRUE(ui.gridCheckBox->isEnabled());
    EXPECT_FALSE(ui.gridCheckBox->isChecked());
    EXPECT_TRUE(program.voice().released());
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
}

} // namespace
} // namespace doodle::test
