// doodlechorus-render: sings a recording into a sound file, as the program plays it back, or
// writes the notes it plays into a MIDI file.
#include "files/OpenedFile.h"
#include "files/Quoted.h"
#include "files/RecordingFiles.h"
#include "recording/OfflineRender.h"
#include "recording/RecordingFile.h"
#include "tools/MidiFileOutput.h"
#include "tools/MidiInput.h"
#include "tools/OutputFile.h"
#include "tools/RecordingLink.h"
#include "tools/RecordingOutput.h"
#include "tools/RenderJob.h"
#include "tools/RenderOptions.h"
#include "tools/SoundFileOutput.h"
#include "tools/ToolConsole.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace doodle;

// "1 line", "2 lines".
std::string linesText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " line" : " lines");
}

bool isStandardStream(const std::string& path) {
    return path == kStandardStreamName;
}

// The recording as messages name it.
std::string recordingName(const std::string& path) {
    return isStandardStream(path) ? std::string("the recording on standard input")
                                  : "the recording " + inQuotes(path);
}

// The output names the input itself, maybe through a link or another hard link: writing it
// would destroy the recording being read.
bool isSameFile(const std::string& input, const std::string& output) {
    struct stat inputStatus {};
    struct stat outputStatus {};
    return !isStandardStream(input) && !isStandardStream(output) &&
           ::stat(input.c_str(), &inputStatus) == 0 && ::stat(output.c_str(), &outputStatus) == 0 &&
           inputStatus.st_dev == outputStatus.st_dev && inputStatus.st_ino == outputStatus.st_ino;
}

// Why the input is no recording at all, or nothing: an empty input, or one without a single
// recording line (an upstream command that failed, a file given by mistake), would replace OUT
// with a moment of silence. Lines of another form among recording lines play as the program
// plays them, after a warning (unless quiet).
std::string checkRecordingLines(const Recording& recording, const RenderOptions& options) {
    const std::string name = recordingName(options.inputPath);
    if (std::string reason = noRecordingLinesReason(recording, name); !reason.empty()) {
        return reason;
    }
    const auto recorded = static_cast<std::size_t>(std::ranges::count_if(
        recording, [](std::string_view line) { return hasGestureLineForm(line); }));
    const std::size_t others = recording.size() - recorded;
    if (others > 0 && !options.quiet) {
        printToStderr(std::string(kRenderProgramName) + ": warning: " + linesText(others) +
                      " of the " + linesText(recording.size()) + " in " + name +
                      (others == 1 ? " is not a recording line" : " are not recording lines") +
                      "; they play as the program plays them, a missing or non-numeric field "
                      "as 0\n");
    }
    return {};
}

int printHelpOrVersion(const RenderOptions& options) {
    std::string text;
    if (options.helpWanted) {
        text = renderUsage(outputFormatLines() + midiFormatLine() + recordingFormatLine());
    } else {
        text = kRenderProgramName;
        text += ' ';
        text += kRenderProgramVersion;
        text += '\n';
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        return kExitError;
    }
    return 0;
}

// --link: the page's link to the recording, on a line of its own on stdout.
int printLink(const Recording& recording, const RenderOptions& options) {
    const std::vector<uint8_t> bytes = recordingFileBytes(recording);
    const std::string line =
        recordingLink(options.linkPageUrl, bytes, options.settings, false) + '\n';
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
        std::fflush(stdout) != 0) {
        return failWith("cannot write the link to standard output: " +
                        std::string(std::strerror(errno)));
    }
    return 0;
}

int run(std::span<const char* const> arguments) {
    const ParsedOptions parsed = parseRenderOptions(arguments);
    if (!parsed.error.empty()) {
        return failWith(parsed.error);
    }
    const RenderOptions& options = parsed.options;
    if (options.helpWanted || options.versionWanted) {
        return printHelpOrVersion(options);
    }
    const bool linkWanted = !options.linkPageUrl.empty();
    const ChosenJob chosen = linkWanted ? ChosenJob{} : chooseRenderJob(options);
    if (!linkWanted && !chosen.job) {
        return failWith(chosen.error);
    }
    if (!linkWanted && isSameFile(options.inputPath, options.outputPath)) {
        return failWith("cannot write " + inQuotes(options.outputPath) +
                        ": it is the input recording " + inQuotes(options.inputPath));
    }
    constexpr ReadLimits kInputLimits{kMaxInputBytes, kMaxInputLines};
    MidiInput midi = readMidiInput(options);
    if (!midi.error.empty()) {
        return failWith(midi.error);
    }
    if (!midi.notice.empty() && !options.quiet) {
        printToStderr(std::string(kRenderProgramName) + ": " + midi.notice + '\n');
    }
    const OpenedRecording opened =
        midi.recording ? OpenedRecording{std::move(midi.recording)}
        : isStandardStream(options.inputPath)
            ? readRecordingStream(STDIN_FILENO, kInputLimits, midi.consumed)
            : readRecordingFile(options.inputPath, kInputLimits);
    if (!opened.recording) {
        return failWith("cannot read " + recordingName(options.inputPath) + ": " +
                        openProblemReason(opened, kInputLimits, "this tool"));
    }
    const Recording& recording = *opened.recording;
    if (const std::string refusal = checkRecordingLines(recording, options); !refusal.empty()) {
        return failWith(refusal);
    }
    if (linkWanted) {
        return printLink(recording, options);
    }
    const std::optional<RenderPlan> plan = planRender(recording, options.settings.playSpeed);
    if (!plan) {
        return failWith(recordingName(options.inputPath) +
                        " never ends: a line is due on the tick where the program's counter wraps");
    }
    if (const std::string tooLong = chosen.job->tooLong(*plan); !tooLong.empty()) {
        return failWith(recordingName(options.inputPath) + " " + tooLong);
    }
    if (!catchInterrupts()) {
        return failWith("cannot catch interrupts: " + std::string(std::strerror(errno)));
    }
    // Past a file size limit (ulimit -f) a write then fails with a message, rather than the
    // process ending at once.
    if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) {
        return failWith("cannot ignore SIGXFSZ: " + std::string(std::strerror(errno)));
    }
    return chosen.job->run(recording, *plan);
}

} // namespace

int main(int argc, char** argv) {
    // argv[0] is the program; an exec with no arguments at all leaves argc at 0.
    const std::size_t argumentCount = argc > 0 ? static_cast<std::size_t>(argc - 1) : 0;
    try {
        return run(std::span<const char* const>(argc > 0 ? argv + 1 : argv, argumentCount));
    } catch (const std::bad_alloc&) {
        // The output's temporary file went as the stack unwound.
        return failWith("out of memory");
    } catch (const std::length_error&) {
        return failWith("out of memory");
    }
}
