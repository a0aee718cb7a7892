#include "app/Dialogs.h"
#include "app/Program.h"
#include "app/audio/PortAudioOutput.h"

#include <QApplication>
#include <QSettings>
#include <optional>
#include <string>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // ~/.config/DoodleChorus/DoodleChorus.conf (under $XDG_CONFIG_HOME where it is set). The
    // application keeps its name, which screen readers and the desktop know it by.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("DoodleChorus"),
                       QStringLiteral("DoodleChorus"));
    std::optional<std::string> startFile;
    if (argc > 1) {
        startFile = argv[1];
    }
    doodle::QtDialogs dialogs;
    doodle::Program program(
        dialogs,
        [](doodle::VoiceParams& voice) { return std::make_unique<doodle::PortAudioOutput>(voice); },
        &settings);
    return program.run(startFile); // 0 on every path
}
