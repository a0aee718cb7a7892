#include "app/CommandLine.h"
#include "app/Dialogs.h"
#include "app/Program.h"
#include "app/audio/PortAudioOutput.h"

#include <QApplication>
#include <QSettings>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    // Before Qt: --help and --version answer without a display.
    const doodle::CommandLine commandLine =
        doodle::parseCommandLine(argc, argv, std::cout, std::cerr);
    if (commandLine.exitCode) {
        return *commandLine.exitCode;
    }
    // Past a file size limit (ulimit -f) a save then fails with its reason, rather than the
    // program ending at once with the recording.
    if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) {
        std::cerr << "doodlechorus: cannot ignore SIGXFSZ: " << std::strerror(errno) << '\n';
        return EXIT_FAILURE;
    }
    // Qt reads its own options (-reverse, -style ...) from the arguments before "--"; those
    // after it are files.
    int qtArgumentCount = argc;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--") {
            qtArgumentCount = i;
            break;
        }
    }
    QApplication app(qtArgumentCount, argv);
    // ~/.config/DoodleChorus/DoodleChorus.conf (under $XDG_CONFIG_HOME where it is set). The
    // application keeps its name, which screen readers and the desktop know it by.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                       QStringLiteral("DoodleChorus"), QStringLiteral("DoodleChorus"));
    doodle::QtDialogs dialogs;
    doodle::Program program(
        dialogs,
        [](doodle::VoiceParams& voice, doodle::PlayClock& clock) {
            return std::make_unique<doodle::PortAudioOutput>(voice, clock);
        },
        &settings);
    return program.run(commandLine.file); // 0 on every path
}
