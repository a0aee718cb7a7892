#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace doodle {

inline constexpr std::string_view kProgramName = "doodlechorus";
inline constexpr int kCommandLineError = 2;

// What the command line asks for. With exitCode set the program ends at once with that status:
// after --help or --version (0), or after an error (kCommandLineError). Otherwise it starts,
// opening `file` when one is given.
struct CommandLine {
    std::optional<int> exitCode{};
    std::optional<std::string> file{};
};

// Reads `doodlechorus [OPTION]... [FILE]` before a QApplication exists, so that --help and
// --version need no display: they print to `out` (--version "doodlechorus VERSION", the
// project's version from CMake); an unknown option or a second file prints
// "doodlechorus: PROBLEM" and "Try 'doodlechorus --help'." to `err`. Qt's own options
// (-platform NAME, -style NAME, -reverse, ...) are passed over with their values, for
// QApplication to take from argv afterwards; argv is left as it is. "--" ends the options, so
// that a file whose name starts with "-" can be named.
CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err);

} // namespace doodle
