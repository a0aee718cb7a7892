#pragma once

#include "app/Dialogs.h"
#include "app/DrawingArea.h"
#include "app/MainWindow.h"
#include "app/Program.h"
#include "app/audio/AudioOutput.h"

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
#include <ostream>
#include <thread>
#include <vector>

// GoogleTest shows a QString as its text rather than as code units.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

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
                           const QString& filter, const QString& /*extension*/) override {
        saveRequests.push_back({title, proposedPath, filter});
        return nextAnswer();
    }
    QString chooseOpenFile(QWidget* /*parent*/, const QString& title, const QString& folder,
                           const QString& filter) override {
        openRequests.push_back({title, folder, filter});
        return nextAnswer();
    }
    SaveChoice askSaveChanges(QWidget* /*parent*/, const QString& title,
                              const QString& text) override {
        questions.push_back({title, text});
        if (saveChoices.empty()) {
            return SaveChoice::Discard;
        }
        const SaveChoice choice = saveChoices.front();
        saveChoices.erase(saveChoices.begin());
        return choice;
    }
    // The names the file dialogs answer with, in turn; empty (cancel) when none is left.
    std::vector<QString> answers;
    // "Save changes?" answers, in turn; Discard when none is left.
    std::vector<SaveChoice> saveChoices;
    std::vector<Message> questions; // "Save changes?" as asked
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

public:
    // The question about an exported sound past full scale: what it asked, and the answers it
    // gives in turn; Cancel when none is left.
    ClipAnswer askAboutClipping(QWidget* /*parent*/, const QString& title,
                                const QString& text) override {
        clipQuestions.push_back({title, text});
        if (clipAnswers.empty()) {
            return ClipAnswer::Cancel;
        }
        const ClipAnswer answer = clipAnswers.front();
        clipAnswers.erase(clipAnswers.begin());
        return answer;
    }
    std::vector<ClipAnswer> clipAnswers;
    std::vector<Message> clipQuestions;
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
    return [](VoiceParams&, PlayClock&) { return std::make_unique<SilentAudio>(); };
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

// The main window's controls and menu items, found by their names; tests click, trigger and
// read them as a user does.
struct WindowControls {
    WindowControls() = default;
    explicit WindowControls(const MainWindow& window)
        : menuOpen(find<QAction>(window, "menuOpen")), menuSave(find<QAction>(window, "menuSave")),
          menuExportWav(find<QAction>(window, "menuExportWav")),
          menuExportMidi(find<QAction>(window, "menuExportMidi")),
          menuType1(find<QAction>(window, "menuType1")),
          menuType2(find<QAction>(window, "menuType2")),
          menuAbout(find<QAction>(window, "menuAbout")),
          menuHelp(find<QAction>(window, "menuHelp")),
          recordToggle(find<QPushButton>(window, "recordToggle")),
          playToggle(find<QPushButton>(window, "playToggle")),
          clearButton(find<QPushButton>(window, "clearButton")),
          drawingArea(find<DrawingArea>(window, "drawingArea")),
          speedSlider(find<QSlider>(window, "speedSlider")),
          gridCheckBox(find<QCheckBox>(window, "gridCheckBox")),
          unrestrictedOption(find<QRadioButton>(window, "unrestrictedOption")),
          majorOption(find<QRadioButton>(window, "majorOption")),
          minorOption(find<QRadioButton>(window, "minorOption")),
          pentatonicOption(find<QRadioButton>(window, "pentatonicOption")),
          scaleFrame(find<QGroupBox>(window, "scaleFrame")),
          noteLabel(find<QLabel>(window, "noteLabel")),
          rootNoteCombo(find<QComboBox>(window, "rootNoteCombo")) {}

    QAction* menuOpen = nullptr;
    QAction* menuSave = nullptr;
    QAction* menuExportWav = nullptr;
    QAction* menuExportMidi = nullptr;
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
    template <class Object>
    static Object* find(const MainWindow& window, const char* name) {
        auto* object = window.findChild<Object*>(QLatin1String(name));
        EXPECT_NE(object, nullptr)
            << "no " << Object::staticMetaObject.className() << " named " << name;
        return object;
    }
};

// A started program with a silent audio output, past its first tick (play clock paused, voice
// released), and ways to use its drawing area as a hand would.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.start());
        w = program.window();
        ui = WindowControls(*w);
        area = ui.drawingArea;
        ASSERT_TRUE(processUntil([&] { return !program.playClock().running(); }));
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
