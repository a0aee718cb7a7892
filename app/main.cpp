#include "app/CommandLine.h"
#include "app/Dialogs.h"
#include "app/Program.h"
#include "app/audio/PortAudioOutput.h"

#include <QApplication>
#include <QSettings>
#include <iostream>

int main(int argc, char** argv) {
    // Before Qt: --help and --version answer without a display.
    const doodle::CommandLine commandLine =
        doodle::parseCommandLine(argc, argv, std::cout, std::cerr);
    if (commandLine.exitCode) {
        return *commandLine.exitCode;
    }
    QApplication app(argc, argv);
    // ~/.config/DoodleChorus/DoodleChorus.conf (under $XDG_CONFIG_HOME where it is set). The
    // application keeps its name, which screen readers and the desktop know it by.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                       QStringLiteral("DoodleChorus"), QStringLiteral("DoodleChorus"));
    doodle::QtDialogs dialogs;
    doodle::Program program(
        dialogs,
        [](doodle::VoiceParams& voice) { return std::make_unique<doodle::PortAudioOutput>(voice); },
        &settings);
    return program.run(commandLine.file); // 0 on every path
}
