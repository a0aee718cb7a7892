// Qt widget tests run real widgets on the offscreen platform: no display needed.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer and guards its cross-thread event queue with a futex the
// sanitizer cannot see, so the memory operations that Qt itself makes through libc are not
// checked. Qt Gui's own worker threads (started while a dialog paints during an export) hand
// their work over the same way. The program's own code, and the hand-over of the play clock's ticks
// and of an export's render, still are.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n";
}
#endif

int main(int argc, char** argv) {
    // Test discovery also runs this binary, where the test environment does not apply.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A desktop session has a private runtime folder; without one Qt complains on stderr.
    QTemporaryDir runtimeDir;
    if (getenv("XDG_RUNTIME_DIR") == nullptr && runtimeDir.isValid()) {
        QFile::setPermissions(runtimeDir.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setenv("XDG_RUNTIME_DIR", QDir::toNativeSeparators(runtimeDir.path()).toLocal8Bit(), 1);
    }
    // The program joins a running JACK server for its MIDI ports: never a desktop's own server
    // here, nor one that another test started.
    const std::string noJackServer = "doodlechorus-gui-tests-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", noJackServer.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
#if defined(DC_GUI_TEST_SCALE_FACTOR)
    // A screen of that many device pixels to a desktop pixel, read as the application starts.
    setenv("QT_SCALE_FACTOR", DC_GUI_TEST_SCALE_FACTOR, 1);
#endif
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
