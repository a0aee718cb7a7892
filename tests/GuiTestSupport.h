#pragma once

#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "app/Program.h"
#include "mapping/DrawingArea.h"
#include "voice/AudioOutput.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace doodle::test {

// Answers every dialog at once and remembers what it was shown.
class RecordingDialogs final : public Dialogs {
public:
    struct Message {
        QString title;
        QString text;
    };
    struct FileRequest {
        QString title;
        QString start;
        QString filter;
    };
    void showMessage(QWidget* /*parent*/, const QString& title, const QString& text) override {
        messages.push_back({title, text});
    }
    QString chooseSaveFile(QWidget* /*parent*/, const QString& title, const QString& proposedPath,
                           const QString& filter) override {
        saveRequests.push_back({title, proposedPath, filter});
        return nextAnswer();
    }
    QString chooseOpenFile(QWidget* /*parent*/, const QString& title, const QString& folder,
                           const QString& filter) override {
        openRequests.push_back({title, folder, filter});
        return nextAnswer();
    }
    // The names the file dialogs answer with, in turn; empty (cancel) when none is left.
    std::vector<QString> answers;
    std::vector<Message> messages;
    std::vector<FileRequest> saveRequests;
    std::vector<FileRequest> openRequests;

private:
    QString nextAnswer() {
        if (answers.empty()) {
            return {};
        }
        QString answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
};

// An audio output that opens and starts without a device and renders nothing.
class SilentAudio final : public AudioOutput {
public:
    int open() override { return 0; }
    std::string errorText(int /*code*/) const override { return {}; }
    int start() override { return 0; }
    void terminate() override {}
};

inline Program::AudioFactory silentAudio() {
    return [](VoiceParams&) { return std::make_unique<SilentAudio>(); };
}

// Processes events until `done` holds or the wait gives up; returns whether it held. Waiting
// for a state is not a timing assertion: the limit only keeps a broken build from hanging.
inline bool processUntil(const std::function<bool()>& done,
                         std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The main window's controls and menu items, found by their ids as a user finds them by sight:
// the window keeps its widgets to itself, and tests click, trigger and read them.
struct WindowControls {
    WindowControls() = default;
    explicit WindowControls(const MainWindow& window)
        : menuOpen(action(window, kMenuOpen)), menuSave(action(window, kMenuSave)),
          menuType1(action(window, kMenuType1)), menuType2(action(window, kMenuType2)),
          menuAbout(action(window, kMenuAbout)), menuHelp(action(window, kMenuHelp)),
          recordToggle(control<QPushButton>(window, kRecordToggle)),
          playToggle(control<QPushButton>(window, kPlayToggle)),
          clearButton(control<QPushButton>(window, kClearButton)),
          drawingArea(control<DrawingArea>(window, kDrawingArea)),
          speedSlider(control<QSlider>(window, kSpeedSlider)),
          gridCheckBox(control<QCheckBox>(window, kGridCheckBox)),
          unrestrictedOption(control<QRadioButton>(window, kUnrestrictedOption)),
          majorOption(control<QRadioButton>(window, kMajorOption)),
          minorOption(control<QRadioButton>(window, kMinorOption)),
          pentatonicOption(control<QRadioButton>(window, kPentatonicOption)),
          scaleFrame(control<QGroupBox>(window, kScaleFrame)),
          noteLabel(control<QLabel>(window, kNoteLabel)),
          rootNoteCombo(control<QComboBox>(window, kRootNoteCombo)) {}

    QAction* menuOpen = nullptr;
    QAction* menuSave = nullptr;
    QAction* menuType1 = nullptr;
    QAction* menuType2 = nullptr;
    QAction* menuAbout = nullptr;
    QAction* menuHelp = nullptr;

    QPushButton* recordToggle = nullptr;
    QPushButton* playToggle = nullptr;
    QPushButton* clearButton = nullptr;
    DrawingArea* drawingArea = nullptr;
    QSlider* speedSlider = nullptr;
    QCheckBox* gridCheckBox = nullptr;
    QRadioButton* unrestrictedOption = nullptr;
    QRadioButton* majorOption = nullptr;
    QRadioButton* minorOption = nullptr;
    QRadioButton* pentatonicOption = nullptr;
    QGroupBox* scaleFrame = nullptr;
    QLabel* noteLabel = nullptr;
    QComboBox* rootNoteCombo = nullptr;

private:
    template <class Widget>
    static Widget* control(const MainWindow& window, int32_t id) {
        auto* widget = qobject_cast<Widget*>(window.control(id));
        EXPECT_NE(widget, nullptr) << "no control of that kind with id " << id;
        return widget;
    }
    // Menu items carry their id as data; the menus' own actions carry none.
    static QAction* action(const MainWindow& window, int32_t id) {
        for (QAction* item : window.findChildren<QAction*>()) {
            if (item->data().isValid() && item->data().toInt() == id) {
                return item;
            }
        }
        ADD_FAILURE() << "no menu item with id " << id;
        return nullptr;
    }
};

// A started program with a silent audio output, past its first tick (ticker paused, voice
// released), and ways to use its drawing area as a hand would.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.start());
        w = program.window();
        ui = WindowControls(*w);
        area = ui.drawingArea;
        ASSERT_TRUE(processUntil([&] { return program.ticker().tickerPaused.load() == 1; }));
    }
    void TearDown() override {
        program.shutdown();
        if (program.closeRequested()) {
            // The close asked Qt's running loop to end, and there was none: the request would
            // end the next loop that starts. Run one to take it.
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
            QCoreApplication::exec();
        }
    }

    // Sends a mouse event straight to the drawing area, so that positions outside it arrive
    // as they do while a held button drags past its edges.
    void send(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(pos), area->mapToGlobal(QPointF(pos)), button, held,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(area, &event);
    }
    void press(QPoint pos) { send(QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton); }
    void drag(QPoint pos) { send(QEvent::MouseMove, pos, Qt::NoButton, Qt::LeftButton); }
    void release(QPoint pos) {
        send(QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
    }
    static void click(QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); }

    RecordingDialogs dialogs;
    Program program{dialogs, silentAudio()};
    MainWindow* w = nullptr;
    WindowControls ui;
    DrawingArea* area = nullptr;
};

} // namespace doodle::test
