#include "app/Dialogs.h"
#include "app/Program.h"
#include "app/audio/PortAudioOutput.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    doodle::QtDialogs dialogs;
    doodle::Program program(dialogs, [](doodle::VoiceParams& voice) {
        return std::make_unique<doodle::PortAudioOutput>(voice);
    });
    return program.run(); // 0 on every path
}
