#include "app/CommandLine.h"

#include "files/Quoted.h"

#include <algorithm>
#include <array>
#include <span>

namespace doodle {
namespace {

constexpr std::string_view kOptionsEnd = "--";
constexpr std::string_view kHelp = "--help";
constexpr std::string_view kHelpShort = "-h";
constexpr std::string_view kVersion = "--version";
constexpr int kExitSuccess = 0;
// The project's version, which CMake passes in, as the render tool gets its own.
constexpr std::string_view kProgramVersion = DC_VERSION;

// The options QApplication takes out of argv when it is made (QGuiApplication, QApplication
// and the xcb platform). Qt reads each with one dash or two.
constexpr std::array<std::string_view, 16> kQtOptionsWithValue{"platform",
                                                               "platformpluginpath",
                                                               "platformtheme",
                                                               "plugin",
                                                               "qwindowgeometry",
                                                               "geometry",
                                                               "qwindowtitle",
                                                               "title",
                                                               "qwindowicon",
                                                               "icon",
                                                               "session",
                                                               "display",
                                                               "name",
                                                               "visual",
                                                               "style",
                                                               "stylesheet"};
constexpr std::array<std::string_view, 6> kQtFlags{"reverse", "testability", "widgetcount",
                                                   "sync",    "nograb",      "dograb"};
// Qt's options that carry their value after "=" in the same argument.
constexpr std::array<std::string_view, 3> kQtJoinedValuePrefixes{
    "style=", "stylesheet=", "qmljsdebugger="};

// The option's name without its one or two leading dashes.
std::string_view qtOptionName(std::string_view argument) {
    argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
    return argument;
}

bool isQtOptionWithValue(std::string_view argument) {
    return std::ranges::find(kQtOptionsWithValue, qtOptionName(argument)) !=
           kQtOptionsWithValue.end();
}

bool isQtOptionAlone(std::string_view argument) {
    const std::string_view name = qtOptionName(argument);
    return std::ranges::find(kQtFlags, name) != kQtFlags.end() ||
           std::ranges::any_of(kQtJoinedValuePrefixes,
                               [&](std::string_view prefix) { return name.starts_with(prefix); });
}

std::string usage() {
    const std::string name(kProgramName);
    return "Usage: " + name +
           " [OPTION]... [FILE]\n"
           "Sings what you draw: drag with the left mouse button in the drawing area, and\n"
           "a voice sings at the pitch and vowel of the point. FILE, a recording (.sav) or\n"
           "a Standard MIDI File (.mid), is opened at start as File > Open opens it.\n"
           "\n"
           "  -h, --help     show this help and exit\n"
           "  --version      show the version and exit\n"
           "\n"
           "Qt's own options work too, as -platform offscreen, -style NAME or -reverse.\n"
           "Scale, root note, voice type, speed, Grid, the window's place and size, the last\n"
           "folder and the recent files are kept in\n"
           "$XDG_CONFIG_HOME/DoodleChorus/DoodleChorus.conf (~/.config by default).\n"
           "\n"
           "On an unknown option or a second FILE, the problem goes to stderr and the exit\n"
           "status is 2. " +
           name + "-render sings recordings into sound files\nwithout a window.\n";
}

CommandLine endingWith(int exitCode) {
    CommandLine ending;
    ending.exitCode = exitCode;
    return ending;
}

CommandLine failWith(const std::string& problem, std::ostream& err) {
    err << kProgramName << ": " << problem << "\nTry '" << kProgramName << " --help'.\n"
        << std::flush;
    return endingWith(kCommandLineError);
}

// Prints --help's or --version's text; a failed write (a closed pipe, a full disk) is an error.
CommandLine answerWith(const std::string& text, std::ostream& out) {
    out << text << std::flush;
    return endingWith(out ? kExitSuccess : kCommandLineError);
}

} // namespace

CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err) {
    const std::span<const char* const> arguments(argv, argc > 0 ? static_cast<std::size_t>(argc)
                                                                : std::size_t{0});
    CommandLine parsed;
    bool optionsEnded = false;
    // arguments[0] is the program's own name.
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        const bool isOption = !optionsEnded && argument.size() > 1 && argument.front() == '-';
        if (!isOption) {
            if (parsed.file) {
                return failWith("one file only, not also " + inQuotes(argument), err);
            }
            parsed.file = std::string(argument);
            continue;
        }
        if (argument == kOptionsEnd) {
            optionsEnded = true;
        } else if (argument == kHelp || argument == kHelpShort) {
            return answerWith(usage(), out);
        } else if (argument == kVersion) {
            return answerWith(std::string(kProgramName) + ' ' + std::string(kProgramVersion) + '\n',
                              out);
        } else if (isQtOptionWithValue(argument)) {
            if (i + 1 == arguments.size()) {
                return failWith(inQuotes(argument) + " needs a value", err);
            }
            ++i; // the value, which Qt reads
        } else if (!isQtOptionAlone(argument)) {
            return failWith("unknown option " + inQuotes(argument), err);
        }
    }
    return parsed;
}

} // namespace doodle
