#pragma once

#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "app/Program.h"
#include "voice/AudioOutput.h"

#include <QCoreApplication>
#include <chrono>
#include <functional>
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

} // namespace doodle::test
