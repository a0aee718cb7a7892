// The desktop program on the offscreen platform, opening RECORDING through its Open menu item
// and saving it over TARGET through Save, as a user would. Writes 'o' on stdout once the
// recording is open and 'd' once it is saved ('f' when the save showed a message), then waits
// for a signal. Uses Program(Dialogs&, AudioFactory), Program::start(), Program::window() and
// the menu items "menuOpen" and "menuSave".
// Usage: save_signal_gui_child RECORDING TARGET
#include "GuiTestSupport.h"

#include <QApplication>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr char kOpened = 'o';
constexpr char kSaved = 'd';
constexpr char kSaveFailed = 'f';

void say(char byte) {
    if (::write(STDOUT_FILENO, &byte, 1) != 1) {
        std::_Exit(EXIT_FAILURE);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return EXIT_FAILURE;
    }
    QApplication application(argc, argv);
    doodle::test::RecordingDialogs dialogs;
    dialogs.answers = {QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2])};
    doodle::Program program{dialogs, doodle::test::silentAudio()};
    if (!program.start()) {
        return EXIT_FAILURE;
    }
    const doodle::test::WindowControls ui(*program.window());
    ui.menuOpen->trigger();
    if (!dialogs.messages.empty()) {
        return EXIT_FAILURE;
    }
    say(kOpened);
    ui.menuSave->trigger();
    say(dialogs.messages.empty() ? kSaved : kSaveFailed);
    for (;;) {
        ::pause();
    }
}
