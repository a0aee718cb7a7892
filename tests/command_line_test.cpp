// The desktop program's command line, read before any QApplication exists: this binary makes
// none, as the program has none yet when it reads it.
#include "app/CommandLine.h"

#include <gtest/gtest.h>
#include <sstream>
#include <vector>

namespace doodle::test {
namespace {

struct Outcome {
    CommandLine parsed;
    std::string out;
    std::string err;
};

Outcome parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "doodlechorus");
    std::ostringstream out;
    std::ostringstream err;
    Outcome outcome;
    outcome.parsed =
        parseCommandLine(static_cast<int>(arguments.size()), arguments.data(), out, err);
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

TEST(CommandLineTest, HelpAndVersionAnswerOnStandardOutputAndEndWithZero) {
    for (const char* help : {"--help", "-h"}) {
        const Outcome outcome = parse({"song.sav", help, "--unknown"});
        EXPECT_EQ(outcome.parsed.exitCode, 0) << help;
        EXPECT_TRUE(outcome.out.starts_with("Usage: doodlechorus [OPTION]... [FILE]\n")) << help;
        for (const char* word : {"--help", "--version", ".sav", ".mid", "-platform",
                                 "DoodleChorus/DoodleChorus.conf"}) {
            EXPECT_NE(outcome.out.find(word), std::string::npos) << word;
        }
        EXPECT_EQ(outcome.err, "");
    }
    const Outcome version = parse({"--version"});
    EXPECT_EQ(version.parsed.exitCode, 0);
    EXPECT_EQ(version.out, "doodlechorus " DC_PROJECT_VERSION "\n");
    EXPECT_EQ(version.err, "");

    // A standard output that cannot be written (a closed pipe, a full disk) is an error.
    std::ostringstream broken;
    broken.setstate(std::ios::badbit);
    std::ostringstream err;
    const std::vector<const char*> arguments{"doodlechorus", "--version"};
    EXPECT_EQ(parseCommandLine(2, arguments.data(), broken, err).exitCode, kCommandLineError);
}

TEST(CommandLineTest, StartsWithNoFileOrOneAndPassesQtsOptionsOver) {
    const Outcome none = parse({});
    EXPECT_FALSE(none.parsed.exitCode);
    EXPECT_FALSE(none.parsed.file);

    const Outcome one = parse({"my song.sav"});
    EXPECT_FALSE(one.parsed.exitCode);
    EXPECT_EQ(one.parsed.file, "my song.sav");

    // Qt's options and their values, with one dash or two, are Qt's: the value is no file.
    const Outcome withQt =
        parse({"-platform", "offscreen", "--style", "fusion", "-reverse", "-stylesheet=a.qss",
               "tune.mid", "-qwindowgeometry", "400x300+10+10"});
    EXPECT_FALSE(withQt.parsed.exitCode) << withQt.err;
    EXPECT_EQ(withQt.parsed.file, "tune.mid");
    EXPECT_EQ(withQt.out + withQt.err, "");

    // After "--" a name that starts with a dash is a file; "-" alone is always one.
    EXPECT_EQ(parse({"--", "--help"}).parsed.file, "--help");
    EXPECT_EQ(parse({"-"}).parsed.file, "-");
}

TEST(CommandLineTest, AnUnknownOptionOrASecondFileIsAnErrorNamingIt) {
    struct Case {
        std::vector<const char*> arguments;
        std::string problem;
    };
    const std::vector<Case> cases{
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"a.sav", "-x"}, "unknown option '-x'"},
        {{"--help=yes"}, "unknown option '--help=yes'"},
        {{"a.sav", "b.sav"}, "one file only, not also 'b.sav'"},
        {{"a.sav", "--", "-b.sav"}, "one file only, not also '-b.sav'"},
        {{"a.sav", "-platform"}, "'-platform' needs a value"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = parse(c.arguments);
        EXPECT_EQ(outcome.parsed.exitCode, kCommandLineError) << c.problem;
        EXPECT_EQ(outcome.err, "doodlechorus: " + c.problem + "\nTry 'doodlechorus --help'.\n");
        EXPECT_EQ(outcome.out, "");
    }
}

} // namespace
} // namespace doodle::test
