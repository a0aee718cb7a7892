// doodlechorus-render: sings a recording into a sound file, as the program plays it back, or
// writes the notes it plays into a MIDI file.
#include "recording/MidiExport.h"
#include "recording/OfflineRender.h"
#include "recording/RecordingFile.h"
#include "tools/MidiFileOutput.h"
#include "tools/Quoted.h"
#include "tools/RenderOptions.h"
#include "tools/SoundFileOutput.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
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

constexpr int kExitError = 2;
constexpr int kExitSignalBase = 128; // the shell's status for a process ended by a signal
constexpr std::array<int, 3> kInterruptSignals{SIGINT, SIGTERM, SIGHUP};
constexpr std::chrono::seconds kProgressDelay{1}; // shorter renders show no progress
constexpr int64_t kPercent = 100;
constexpr float kFullScale = 1.0f;          // the largest sample an integer format holds
constexpr double kDecibelsPerDecade = 20.0; // dB of amplitude per factor of kAmplitudeDecade
constexpr double kAmplitudeDecade = 10.0;
constexpr int kPeakDecimals = 3; // in the full-scale warning
constexpr int kDecibelDecimals = 2;
constexpr std::size_t kNumberChars = 32; // room for a fixed-point double in the warning
constexpr int kNormalizePasses = 2;      // one for the peak, one to write

volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void onInterrupt(int signalNumber) {
    interruptSignal = signalNumber;
}

// Best effort: if stderr itself fails there is nowhere left to say so.
void printToStderr(const std::string& text) {
    static_cast<void>(std::fwrite(text.data(), 1, text.size(), stderr));
    static_cast<void>(std::fflush(stderr));
}

int failWith(const std::string& reason) {
    printToStderr(std::string(kRenderProgramName) + ": " + reason + "\n");
    return kExitError;
}

// Why readRecordingFile found nothing to read.
std::string unreadableReason(const OpenedRecording& opened) {
    switch (opened.problem) {
    case OpenProblem::IsFolder:
        return "it is a folder";
    case OpenProblem::NotRegularFile:
        // Devices and pipes could block or never end: only regular files are recordings.
        return "it is not a regular file";
    case OpenProblem::OutOfMemory:
        return "its lines do not fit in memory";
    case OpenProblem::CannotOpen:
    case OpenProblem::ReadFailed:
    case OpenProblem::None:
        break;
    }
    return opened.errorNumber != 0 ? std::strerror(opened.errorNumber) : "a read failed";
}

// The output names the input itself, maybe through a link or another hard link: writing it
// would destroy the recording being read.
bool isSameFile(const std::string& input, const std::string& output) {
    struct stat inputStatus {};
    struct stat outputStatus {};
    return ::stat(input.c_str(), &inputStatus) == 0 && ::stat(output.c_str(), &outputStatus) == 0 &&
           inputStatus.st_dev == outputStatus.st_dev && inputStatus.st_ino == outputStatus.st_ino;
}

// Ctrl-C and the like end the render at the next block, so that the temporary file goes.
bool catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
    if (sigemptyset(&action.sa_mask) != 0) {
        return false;
    }
    for (const int signalNumber : kInterruptSignals) {
        if (sigaction(signalNumber, &action, nullptr) != 0) {
            return false;
        }
    }
    return true;
}

// Ends the process as the signal would have, once the temporary file is gone.
int endByInterrupt() {
    const int signalNumber = interruptSignal;
    if (std::signal(signalNumber, SIG_DFL) != SIG_ERR) {
        static_cast<void>(std::raise(signalNumber)); // returns only if the signal is blocked
    }
    return kExitSignalBase + signalNumber;
}

// A percentage on stderr, rewritten in place, once a render has run for a second and only
// when stderr is a terminal; cleared at the end.
class Progress {
public:
    explicit Progress(int64_t totalSamples) noexcept
        : m_totalSamples(totalSamples), m_enabled(::isatty(STDERR_FILENO) == 1) {}

    void advance(std::size_t frames) {
        m_doneSamples += static_cast<int64_t>(frames);
        if (!m_enabled || std::chrono::steady_clock::now() - m_start < kProgressDelay) {
            return;
        }
        const int64_t percent = m_doneSamples * kPercent / m_totalSamples;
        if (percent == m_shownPercent) {
            return;
        }
        m_shownPercent = percent;
        const std::string line =
            std::string(kRenderProgramName) + ": " + std::to_string(percent) + "%";
        m_shownWidth = line.size();
        printToStderr("\r" + line);
    }

    void clear() {
        if (m_shownWidth > 0) {
            printToStderr("\r" + std::string(m_shownWidth, ' ') + "\r");
            m_shownWidth = 0;
        }
    }

private:
    int64_t m_totalSamples = 1;
    bool m_enabled = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    int64_t m_doneSamples = 0;
    int64_t m_shownPercent = -1;
    std::size_t m_shownWidth = 0; // characters of the line on screen, 0 when none
};

// The loudest sample of a render and how many samples pass full scale (|x| > 1).
struct Loudness {
    float peak = 0.0f;
    int64_t pastFullScale = 0;

    void add(std::span<const float> samples) noexcept {
        for (const float sample : samples) {
            const float magnitude = std::fabs(sample);
            peak = std::max(peak, magnitude);
            pastFullScale += magnitude > kFullScale ? 1 : 0;
        }
    }
};

std::string fixedDecimals(double value, int decimals) {
    std::array<char, kNumberChars> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value,
                                            std::chars_format::fixed, decimals);
    return error == std::errc() ? std::string(text.data(), end) : std::string("?");
}

double decibelsOf(double amplitude) noexcept {
    return kDecibelsPerDecade * std::log10(amplitude);
}

// One line: how far the sound passes full scale and what the format does with it.
std::string clipWarning(const Loudness& loudness, const OutputFormat& format) {
    std::string line(kRenderProgramName);
    line += ": warning: the sound peaks at ";
    line += fixedDecimals(loudness.peak, kPeakDecimals);
    line += " (+";
    line += fixedDecimals(decibelsOf(loudness.peak), kDecibelDecimals);
    line += " dBFS) and ";
    line += std::to_string(loudness.pastFullScale);
    line += loudness.pastFullScale == 1 ? " sample passes" : " samples pass";
    line += " full scale; ";
    line += format.extension;
    line += format.clipsPastFullScale ? " clips them" : " keeps them, but players may clip them";
    line += " (--normalize avoids it)\n";
    return line;
}

// Writes the MIDI file of the recording as played.
int exportMidi(const RenderOptions& options, const Recording& recording) {
    const std::optional<std::vector<uint8_t>> bytes = midiFileOf(recording, options.settings);
    if (!bytes) {
        return failWith("cannot play " + inQuotes(options.inputPath) + " into a MIDI file");
    }
    if (interruptSignal != 0) {
        return endByInterrupt();
    }
    MidiFileOutput output;
    if (!output.open(options.outputPath) || !output.write(*bytes)) {
        return failWith(output.error());
    }
    if (interruptSignal != 0) {
        output.discard();
        return endByInterrupt();
    }
    if (!output.commit()) {
        return failWith(output.error());
    }
    return 0;
}

// Renders the recording into the sound file: with --normalize twice, first for the peak, then
// scaled by the gain that puts it at kNormalizedPeakDbfs, so memory stays flat.
int renderSound(const RenderOptions& options, const OutputFormat& format,
                const Recording& recording, const RenderPlan& plan) {
    SoundFileOutput output;
    if (!output.open(options.outputPath, format)) {
        return failWith(output.error());
    }
    Progress progress(plan.sampleCount * (options.normalize ? kNormalizePasses : 1));
    double gain = 1.0;
    RenderOutcome outcome = RenderOutcome::Finished;
    if (options.normalize) {
        Loudness unscaled;
        outcome = renderRecording(recording, options.settings, [&](std::span<const float> samples) {
            if (interruptSignal != 0) {
                return false;
            }
            unscaled.add(samples);
            progress.advance(samples.size());
            return true;
        });
        // A silent render stays silent.
        if (unscaled.peak > 0.0f) {
            gain = std::pow(kAmplitudeDecade, kNormalizedPeakDbfs / kDecibelsPerDecade) /
                   unscaled.peak;
        }
    }
    Loudness written;
    std::vector<float> scaled(options.normalize ? kRenderBlockFrames : 0);
    if (outcome == RenderOutcome::Finished) {
        outcome = renderRecording(recording, options.settings, [&](std::span<const float> samples) {
            if (interruptSignal != 0) {
                return false;
            }
            if (options.normalize) {
                std::ranges::transform(samples, scaled.begin(), [&](float sample) {
                    return static_cast<float>(sample * gain);
                });
                samples = std::span<const float>(scaled.data(), samples.size());
            }
            if (!output.write(samples)) {
                return false;
            }
            written.add(samples);
            progress.advance(samples.size());
            return true;
        });
    }
    progress.clear();
    if (interruptSignal != 0) {
        output.discard();
        return endByInterrupt();
    }
    if (outcome != RenderOutcome::Finished) {
        output.discard();
        return failWith(output.error().empty() ? "the render stopped early" : output.error());
    }
    if (!output.commit()) {
        return failWith(output.error());
    }
    if (written.pastFullScale > 0) {
        printToStderr(clipWarning(written, format));
    }
    return 0;
}

// Every extension OUT may have, for the message about one it lacks.
std::string knownExtensions() {
    std::string known;
    for (const OutputFormat& f : outputFormats()) {
        known += f.extension;
        known += ' ';
    }
    known += kMidiExtension;
    return known;
}

int run(std::span<const char* const> arguments) {
    const ParsedOptions parsed = parseRenderOptions(arguments);
    if (!parsed.error.empty()) {
        return failWith(parsed.error);
    }
    const RenderOptions& options = parsed.options;
    if (options.helpWanted || options.versionWanted) {
        std::string text;
        if (options.helpWanted) {
            text = renderUsage(outputFormatLines() + midiFormatLine());
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

    const bool midi = isMidiFileName(options.outputPath);
    const OutputFormat* format = formatForFileName(options.outputPath);
    if (!midi && format == nullptr) {
        return failWith(inQuotes(options.outputPath) +
                        " has no sound or MIDI file extension; use " + "one of " +
                        knownExtensions());
    }
    if (midi && options.normalize) {
        return failWith("--normalize scales sound files; a " + std::string(kMidiExtension) +
                        " file holds no sound");
    }
    if (isSameFile(options.inputPath, options.outputPath)) {
        return failWith("cannot write " + inQuotes(options.outputPath) +
                        ": it is the input recording " + inQuotes(options.inputPath));
    }
    const OpenedRecording opened = readRecordingFile(options.inputPath);
    if (!opened.recording) {
        return failWith("cannot read the recording " + inQuotes(options.inputPath) + ": " +
                        unreadableReason(opened));
    }
    const Recording& recording = *opened.recording;
    const std::optional<RenderPlan> plan = planRender(recording, options.settings.playSpeed);
    if (!plan) {
        return failWith(inQuotes(options.inputPath) +
                        " never ends: a line is due on the tick where the program's counter wraps");
    }
    if (midi && plan->stopTick > kMidiMaxTick) {
        return failWith(inQuotes(options.inputPath) + " plays too long for a " +
                        std::string(kMidiExtension) + " file (over 74 hours)");
    }
    if (!midi && format->maxFrames != 0 && plan->sampleCount > format->maxFrames) {
        return failWith(inQuotes(options.inputPath) + " plays too long for a " +
                        std::string(format->extension) + " file; use .w64, .caf or .flac");
    }
    if (!catchInterrupts()) {
        return failWith("cannot catch interrupts: " + std::string(std::strerror(errno)));
    }
    return midi ? exportMidi(options, recording) : renderSound(options, *format, recording, *plan);
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
