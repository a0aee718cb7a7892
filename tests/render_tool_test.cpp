// doodlechorus-render run as a user runs it: what it writes, and how it fails.
#include "RunawayRecording.h"
#include "Sanitizers.h"
#include "mapping/DrawingSurface.h"
#include "mapping/MapPoint.h"
#include "recording/CompactRecording.h"
#include "recording/GestureLine.h"
#include "recording/MidiFormat.h"
#include "recording/OfflineRender.h"
#include "recording/RecordingFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <map>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

extern char** environ;

namespace doodle {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

constexpr int kExitError = 2;

// A drag that passes full scale near X = 240 (the voice is not clipped), with a release.
const Strings kRecording{"240;100;0;0",   "240;100;0;150", "230;40;0;164",
                         "200;150;1;178", "20;180;0;300",  "60;120;0;313"};

// A folder of its own in the temporary folder, removed with everything in it.
class Folder {
public:
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "render-tool-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        m_path = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::string operator/(const std::string& name) const { return (m_path / name).string(); }
    Strings names() const {
        Strings names;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_path)) {
            names.push_back(entry.path().filename().string());
        }
        std::ranges::sort(names);
        return names;
    }

private:
    fs::path m_path{};
};

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string saveRecording(const Folder& folder, const Strings& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line + "\r\n";
    }
    writeBytes(folder / "in.sav", bytes);
    return folder / "in.sav";
}

struct ToolRun {
    int exitCode = -1; // or 128 + the signal that ended it
    std::string out;
    std::string err;
    long peakKib = 0; // the largest resident size of the program and what it waited for
};

// Starts a program with stdout and stderr going to files in `captures`.
pid_t startProgram(Strings all, const Folder& captures) {
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    EXPECT_EQ(posix_spawn_file_actions_init(&actions), 0);
    const std::string outPath = captures / "stdout";
    const std::string errPath = captures / "stderr";
    EXPECT_EQ(posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                               O_WRONLY | O_CREAT | O_TRUNC, 0600),
              0);
    EXPECT_EQ(posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                               O_WRONLY | O_CREAT | O_TRUNC, 0600),
              0);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    EXPECT_EQ(posix_spawn_file_actions_destroy(&actions), 0);
    return pid;
}

// Starts the tool, through `wrapper` (a command that runs the rest of its arguments) when one
// is given.
pid_t startTool(const Strings& arguments, const Folder& captures, const Strings& wrapper = {}) {
    Strings all = wrapper;
    all.push_back(DC_RENDER_TOOL);
    all.insert(all.end(), arguments.begin(), arguments.end());
    return startProgram(all, captures);
}

ToolRun finishTool(pid_t pid, const Folder& captures) {
    ToolRun run;
    int status = 0;
    rusage usage{};
    EXPECT_EQ(::wait4(pid, &status, 0, &usage), pid);
    run.peakKib = usage.ru_maxrss;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readBytes(captures / "stdout");
    run.err = readBytes(captures / "stderr");
    return run;
}

ToolRun runTool(const Strings& arguments, const Strings& wrapper = {}) {
    const Folder captures;
    return finishTool(startTool(arguments, captures, wrapper), captures);
}

const Strings kAsNobody{"runuser", "-u", "nobody", "--"};
// 128 MiB of address space, so that running out of memory is quick and harms nothing else.
const Strings kIn128Mebibytes{"/bin/sh", "-c", "ulimit -v 131072 && exec \"$0\" \"$@\""};

bool isRoot() {
    return ::geteuid() == 0;
}

std::vector<float> coreSamples(const Strings& lines, const RenderSettings& settings) {
    std::vector<float> samples;
    const Recording recording(lines);
    const std::optional<RenderPlan> plan = planRender(recording, settings.playSpeed);
    if (!plan) {
        ADD_FAILURE() << "the recording does not end";
        return samples;
    }
    renderRecording(recording, settings, *plan, [&](std::span<const float> block) {
        samples.insert(samples.end(), block.begin(), block.end());
        return true;
    });
    return samples;
}

struct SoundFile {
    SF_INFO info{};
    std::vector<float> samples;
};

SoundFile readSoundFile(const std::string& path) {
    SoundFile file;
    SNDFILE* sndfile = sf_open(path.c_str(), SFM_READ, &file.info);
    if (sndfile == nullptr) {
        ADD_FAILURE() << path << ": " << sf_strerror(nullptr);
        return file;
    }
    // A file streamed through a pipe may not know its length (FLAC gives SF_COUNT_MAX).
    std::vector<float> block(4096);
    sf_count_t count = 0;
    while ((count = sf_read_float(sndfile, block.data(), 4096)) > 0) {
        file.samples.insert(file.samples.end(), block.begin(), block.begin() + count);
    }
    if (file.info.frames != SF_COUNT_MAX) {
        EXPECT_EQ(static_cast<sf_count_t>(file.samples.size()),
                  file.info.frames * file.info.channels)
            << path;
    }
    EXPECT_EQ(sf_close(sndfile), 0);
    return file;
}

float peakOf(const std::vector<float>& samples) {
    return std::fabs(std::ranges::max(samples, {}, [](float v) { return std::fabs(v); }));
}

TEST(RenderToolOutput, AWavHoldsTheCoresSamplesAsMonoFloatAt44100AndNothingIsPrinted) {
    const Folder folder;
    const std::string in = saveRecording(folder, kRecording);
    struct Case {
        Strings options;
        RenderSettings settings;
    };
    const std::vector<Case> cases{
        {{}, {}},
        {{"--speed", "2.5", "--voice", "2", "--scale", "minor", "--root", "A"},
         {2.5, VoiceType::Type2, ScaleMode::Minor, 9}},
        {{"--speed=5", "--scale=Pentatonic", "--root=f#"},
         {5.0, VoiceType::Type1, ScaleMode::Pentatonic, 6}},
    };
    for (const Case& c : cases) {
        Strings arguments = c.options;
        arguments.insert(arguments.end(), {in, folder / "out.wav"});
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "");

        const SoundFile wav = readSoundFile(folder / "out.wav");
        EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(wav.info.channels, 1);
        EXPECT_EQ(wav.info.samplerate, 44100);
        const std::vector<float> expected = coreSamples(kRecording, c.settings);
        // Only the warning of a sound past full scale is printed.
        EXPECT_EQ(run.err.empty(), peakOf(expected) <= 1.0f) << run.err;
        ASSERT_EQ(wav.samples.size(), expected.size()) << c.settings.playSpeed;
        EXPECT_EQ(std::memcmp(wav.samples.data(), expected.data(), expected.size() * sizeof(float)),
                  0);
    }
}

TEST(RenderToolOutput, EveryFormatReadsBackAndTheSameInputGivesTheSameBytes) {
    struct Format {
        std::string extension;
        int format = 0;
    };
    const std::vector<Format> formats{{"wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                                      {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
                                      {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                                      {"OGA", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                                      {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
                                      {"aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
                                      {"aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
                                      {"au", SF_FORMAT_AU | SF_FORMAT_FLOAT},
                                      {"caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
                                      {"w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT}};
    const Folder folder;
    const std::string in = saveRecording(folder, kRecording);
    const std::vector<float> expected = coreSamples(kRecording, {});
    auto renderAll = [&](const std::string& stem) {
        for (const Format& f : formats) {
            EXPECT_EQ(runTool({in, folder / (stem + "." + f.extension)}).exitCode, 0);
        }
    };
    renderAll("first");
    // Dates in headers have whole seconds, Ogg's clock-chosen serial numbers microseconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    renderAll("second");
    for (const Format& f : formats) {
        const std::string first = folder / ("first." + f.extension);
        EXPECT_EQ(readBytes(first), readBytes(folder / ("second." + f.extension))) << f.extension;
        const SoundFile file = readSoundFile(first);
        EXPECT_EQ(file.info.format, f.format) << f.extension;
        EXPECT_EQ(file.info.channels, 1) << f.extension;
        EXPECT_EQ(file.info.samplerate, 44100) << f.extension;
        EXPECT_EQ(file.samples.size(), expected.size()) << f.extension;
    }
}

// "-" reads the recording from standard input and writes to standard output in the format
// --type names, for the formats that need no seeking back; the sound is the file's sound.
TEST(RenderToolPipes, StandardInputAndOutputCarryWhatAFileWould) {
    const Folder folder;
    const std::string in = saveRecording(folder, kRecording);
    for (const std::string type : {"wav", "flac", "ogg", "oga", "au", "mid", "sav"}) {
        const std::string file = folder / ("file." + type);
        ASSERT_EQ(runTool({"-q", in, file}).exitCode, 0) << type;
        // Through a pipe, as in a shell pipeline, and from standard input.
        const Folder captures;
        const ToolRun piped = finishTool(
            startProgram({"/bin/sh", "-c", "cat \"$0\" | \"$1\" -q --type \"$2\" - - | cat", in,
                          DC_RENDER_TOOL, type},
                         captures),
            captures);
        ASSERT_EQ(piped.exitCode, 0) << type << ": " << piped.err;
        EXPECT_EQ(piped.err, "") << type;
        const std::string streamed = folder / ("streamed." + type);
        writeBytes(streamed, piped.out);
        if (type == "wav" || type == "mid" || type == "sav" || type == "ogg" || type == "oga") {
            // Nothing in these is written after the fact: the same bytes.
            EXPECT_EQ(piped.out, readBytes(file)) << type;
            continue;
        }
        const SoundFile fromFile = readSoundFile(file);
        const SoundFile fromPipe = readSoundFile(streamed);
        EXPECT_EQ(fromPipe.info.format, fromFile.info.format) << type;
        EXPECT_EQ(fromPipe.samples, fromFile.samples) << type;
    }
    // A WAV on a pipe is whole as it comes: sox reads it from its own standard input, without a
    // warning, and gives back every sample, to its own 32-bit integer precision (of a sound
    // within full scale, which sox would clip).
    const Folder soft;
    const std::string quiet = saveRecording(soft, {"100;100;0;0", "100;100;0;300"});
    ASSERT_EQ(runTool({"-q", quiet, soft / "file.wav"}).exitCode, 0);
    const Folder captures;
    const ToolRun bySox = finishTool(
        startProgram({"/bin/sh", "-c", "\"$1\" -q --type wav \"$0\" - | sox -t wav - \"$2\"", quiet,
                      DC_RENDER_TOOL, soft / "by-sox.wav"},
                     captures),
        captures);
    ASSERT_EQ(bySox.exitCode, 0) << bySox.err;
    EXPECT_EQ(bySox.err, "");
    const std::vector<float> throughSox = readSoundFile(soft / "by-sox.wav").samples;
    const std::vector<float> written = readSoundFile(soft / "file.wav").samples;
    ASSERT_EQ(throughSox.size(), written.size());
    constexpr float kSoxStep = 1.0f / (1 << 24); // finer than any difference in sound
    for (std::size_t i = 0; i < written.size(); ++i) {
        ASSERT_NEAR(throughSox[i], written[i], kSoxStep) << "sample " << i;
    }
    // --type also names the format of a named file, whatever its extension.
    ASSERT_EQ(runTool({"-q", "--type", "flac", in, folder / "sound.bin"}).exitCode, 0);
    EXPECT_EQ(readSoundFile(folder / "sound.bin").info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
}

// -q silences the warning of a sound past full scale (and the progress), never an error.
TEST(RenderToolPipes, QuietSilencesTheWarningButNotErrors) {
    const Folder folder;
    const std::string in = saveRecording(folder, kRecording);
    const ToolRun loud = runTool({in, folder / "loud.wav"});
    ASSERT_EQ(loud.exitCode, 0);
    ASSERT_NE(loud.err, "");
    for (const std::string quiet : {"-q", "--quiet"}) {
        const ToolRun run = runTool({quiet, in, folder / "quiet.wav"});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out + run.err, "");
        EXPECT_EQ(readBytes(folder / "quiet.wav"), readBytes(folder / "loud.wav"));
        const ToolRun failed = runTool({quiet, folder / "missing.sav", folder / "no.wav"});
        EXPECT_EQ(failed.exitCode, kExitError);
        EXPECT_TRUE(failed.err.starts_with("doodlechorus-render: cannot read ")) << failed.err;
    }
}

// A float WAV's fmt chunk carries the size of its extension (18 bytes, WAVE_FORMAT_IEEE_FLOAT,
// cbSize 0), which sox and other readers expect; the samples start where they did.
TEST(RenderToolOutput, AFloatWavHasTheExtendedFmtChunkAndSoxReadsItWithoutWarning) {
    const Folder folder;
    const std::string in = saveRecording(folder, kRecording);
    const std::string out = folder / "out.wav";
    RenderSettings chorus;
    chorus.chorus = ChorusMode::Harmony;
    for (const RenderSettings& settings : {RenderSettings{}, chorus}) {
        const bool solo = settings.chorus == ChorusMode::Solo;
        const uint32_t channels = solo ? 1 : 2;
        ASSERT_EQ(
            runTool(solo ? Strings{"-q", in, out} : Strings{"-q", "--chorus", "harmony", in, out})
                .exitCode,
            0);
        const std::string bytes = readBytes(out);
        auto field = [&](std::size_t at, std::size_t count) {
            uint32_t value = 0;
            for (std::size_t i = count; i-- > 0;) {
                value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
            }
            return value;
        };
        ASSERT_GT(bytes.size(), 80u);
        EXPECT_EQ(bytes.substr(0, 4), "RIFF");
        EXPECT_EQ(field(4, 4), bytes.size() - 8);
        EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(field(16, 4), 18u);
        EXPECT_EQ(field(20, 2), 3u); // IEEE float
        EXPECT_EQ(field(22, 2), channels);
        EXPECT_EQ(field(28, 4), 44100u * 4 * channels); // bytes a second
        EXPECT_EQ(field(32, 2), 4 * channels);          // bytes a frame
        EXPECT_EQ(field(36, 2), 0u);                    // cbSize
        // Every chunk after it is well formed, up to the samples.
        std::size_t at = 38;
        while (bytes.substr(at, 4) != "data") {
            ASSERT_LT(at + 8, bytes.size());
            if (bytes.substr(at, 4) == "fact") {
                EXPECT_EQ(field(at + 8, 4) * channels * sizeof(float), bytes.size() - 80)
                    << "frames";
            }
            at += 8 + field(at + 4, 4);
        }
        const std::vector<float> core = coreSamples(kRecording, settings);
        EXPECT_EQ(field(at + 4, 4), core.size() * sizeof(float));
        EXPECT_EQ(std::memcmp(bytes.data() + at + 8, core.data(), core.size() * sizeof(float)), 0);

        const Folder captures;
        const ToolRun sox = finishTool(startProgram({"sox", "--i", out}, captures), captures);
        EXPECT_EQ(sox.exitCode, 0);
        EXPECT_EQ(sox.err, "");
        EXPECT_NE(sox.out.find("32-bit Floating Point PCM"), std::string::npos) << sox.out;
        EXPECT_NE(sox.out.find("Channels       : " + std::to_string(channels)), std::string::npos)
            << sox.out;
    }
}

// --bits 16 or 24 writes integer WAV, AIFF and FLAC: each sample within one step of the float
// render, clipped at full scale.
TEST(RenderToolOutput, BitsWriteIntegerSamplesWithinOneStepOfTheFloatRender) {
    const Folder folder;
    const std::string in = saveRecording(folder, kRecording);
    std::vector<float> clipped = coreSamples(kRecording, {});
    for (float& sample : clipped) {
        sample = std::clamp(sample, -1.0f, 1.0f);
    }
    struct Case {
        std::string extension;
        std::string bits;
        int format = 0;
    };
    const std::vector<Case> cases{{"wav", "16", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                  {"wav", "24", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                                  {"aiff", "16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                                  {"aif", "24", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
                                  {"flac", "16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                                  {"flac", "24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24}};
    for (const Case& c : cases) {
        const std::string out = folder / ("out" + c.bits + "." + c.extension);
        const ToolRun run = runTool({"--bits", c.bits, in, out});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find("clips them"), std::string::npos) << run.err;
        const SoundFile file = readSoundFile(out);
        EXPECT_EQ(file.info.format, c.format) << out;
        ASSERT_EQ(file.samples.size(), clipped.size()) << out;
        const float step = std::ldexp(1.0f, 1 - std::stoi(c.bits));
        float worst = 0.0f;
        for (std::size_t n = 0; n < clipped.size(); ++n) {
            worst = std::max(worst, std::fabs(file.samples[n] - clipped[n]));
        }
        EXPECT_LE(worst, step) << out;
        EXPECT_GT(worst, 0.0f) << out; // integer, not float, samples
    }
}

TEST(RenderToolHelp, ExplainsEveryOptionAndFormatOnStdout) {
    const ToolRun run = runTool({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    for (const char* word : {"--speed",
                             "1.0 to 5.0",
                             "--voice",
                             "--scale",
                             "pentatonic",
                             "--root",
                             "C#",
                             "--normalize",
                             "--version",
                             ".wav",
                             ".flac",
                             ".ogg",
                             ".aiff",
                             ".w64",
                             ".mid",
                             "G#1",
                             "controller 74",
                             "120;45;0;1532",
                             "128 MiB and 8388608 lines",
                             "runs away",
                             "--channel",
                             "--vowel",
                             ".sav",
                             "Velocity does nothing",
                             "RPN 0",
                             "--chorus",
                             "harmony",
                             "--singers",
                             "stereo"}) {
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    }
}

// --version; the warning of a sound past full scale, whose samples a float format keeps and an
// integer one clips; --normalize, which puts the peak at -1 dBFS.
TEST(RenderToolConventions, VersionFullScaleWarningAndNormalize) {
    const ToolRun version = runTool({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::string("doodlechorus-render ") + DC_VERSION + "\n");
    EXPECT_EQ(version.err, "");

    const Folder folder;
    const std::string in = saveRecording(folder, kRecording);
    const std::vector<float> core = coreSamples(kRecording, {});
    const auto past = std::ranges::count_if(core, [](float v) { return std::fabs(v) > 1.0f; });
    ASSERT_GT(past, 0);
    for (const std::string extension : {"wav", "flac"}) {
        const ToolRun run = runTool({in, folder / ("loud." + extension)});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.err.starts_with("doodlechorus-render: warning: ")) << run.err;
        EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << run.err;
        std::ostringstream count;
        count << " and " << past << " samples pass full scale";
        EXPECT_NE(run.err.find(count.str()), std::string::npos) << run.err;
        std::ostringstream peak;
        peak << "peaks at " << std::fixed << std::setprecision(3) << peakOf(core) << " ";
        EXPECT_NE(run.err.find(peak.str()), std::string::npos) << run.err;
        const std::string fate = extension == "flac" ? "clips them" : "keeps them";
        EXPECT_NE(run.err.find(fate), std::string::npos) << run.err;
        const float filePeak = peakOf(readSoundFile(folder / ("loud." + extension)).samples);
        EXPECT_EQ(filePeak, extension == "flac" ? 1.0f : peakOf(core));
    }

    const ToolRun run = runTool({"--normalize", in, folder / "normal.wav"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out + run.err, "");
    const std::vector<float> normal = readSoundFile(folder / "normal.wav").samples;
    ASSERT_EQ(normal.size(), core.size());
    const double gain = std::pow(10.0, -1.0 / 20.0) / peakOf(core);
    for (std::size_t n = 0; n < core.size(); ++n) {
        ASSERT_FLOAT_EQ(normal[n], static_cast<float>(core[n] * gain)) << n;
    }
    EXPECT_NEAR(20.0 * std::log10(peakOf(normal)), -1.0, 1e-5);
}

// What playback plays, from the documented rules and the core's mapping chain: a line at time
// t plays on the first tick past t / speed rounded and after the line before it; a sounding
// line's pitch is what mapPoint gives the voice; the tick after the last line ends playback.
// One point a line, as midi_check.py reads them.
std::string playedPoints(const Strings& lines, const RenderSettings& settings) {
    VoiceParams voice;
    VowelWorking vowel;
    const MapControls controls{settings.scaleMode,
                               buildScale(settings.scaleMode, settings.rootIndex, Scale{}),
                               settings.voiceType};
    std::ostringstream points;
    points.precision(17);
    int32_t tick = 0;
    for (const std::string& line : lines) {
        auto field = [&](int32_t n) { return parseDecimal(lineField(line, n)); };
        tick = std::max(tick + 1, roundToWhole(field(kFieldTime) / settings.playSpeed) + 1);
        if (field(kFieldReleased) >= 1.0) {
            points << tick << " release\n";
            continue;
        }
        const int32_t y = clampY(roundToWhole(field(kFieldY)));
        mapPoint(voice, clampX(roundToWhole(field(kFieldX))), y, controls, vowel);
        points << tick << " sound " << voice.pitchHz() << " " << y << "\n";
    }
    points << tick + 1 << " end\n";
    return points.str();
}

// Two strokes 3 ms a point: right over the whole width while the vowel moves down, a release
// and a pause, then back left on one vowel, ended by the end of playback.
Strings twoStrokes() {
    Strings lines;
    int32_t ms = 0;
    auto add = [&](int32_t x, int32_t y, int32_t released) {
        lines.push_back(std::to_string(x) + ";" + std::to_string(y) + ";" +
                        std::to_string(released) + ";" + std::to_string(ms));
        ms += 3;
    };
    for (int32_t x = 0; x <= kMaxPointX; x += 2) {
        add(x, x * kMaxPointY / kMaxPointX, 0);
    }
    add(kMaxPointX, kMaxPointY, 1);
    ms += 500;
    for (int32_t x = kMaxPointX; x >= 0; x -= 3) {
        add(x, 60, 0);
    }
    // Down over 31 semitones in Unrestricted: a note nearest its first pitch would not reach
    // its last, one in the middle reaches both.
    add(0, 60, 1);
    ms += 500;
    for (int32_t x = 230; x >= 30; x -= 4) {
        add(x, 120, 0);
    }
    return lines;
}

// A MIDI file read back by an independent reader: at every played point the sounding pitch,
// the timing and the silences, in a scale mode (whole notes) and in Unrestricted (bend, a
// stroke on one note unless it is wider than the bend range); the voice patch of each type.
TEST(RenderToolMidi, TheFileSoundsEveryPlayedPointOnItsTickAndReadsBackTheSameTwice) {
    const Folder folder;
    const Strings lines = twoStrokes();
    const std::string in = saveRecording(folder, lines);
    struct Case {
        Strings options;
        RenderSettings settings;
        std::string mode;
        std::string program; // General MIDI, 0-based
    };
    const std::vector<Case> cases{
        {{"--scale", "minor", "--root", "A", "--speed", "2.5"},
         {2.5, VoiceType::Type1, ScaleMode::Minor, 9},
         "whole",
         "52"},
        {{"--voice", "2"}, {1.0, VoiceType::Type2, ScaleMode::Unrestricted, 0}, "bend", "53"},
        {{}, {}, "bend", "52"},
    };
    for (const Case& c : cases) {
        Strings arguments = c.options;
        arguments.insert(arguments.end(), {in, folder / "out.mid"});
        const ToolRun run = runTool(arguments);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out + run.err, "");
        writeBytes(folder / "expected.txt", playedPoints(lines, c.settings));
        const Folder captures;
        const ToolRun check =
            finishTool(startProgram({DC_PYTHON3, DC_MIDI_CHECK, folder / "out.mid",
                                     folder / "expected.txt", c.mode, c.program},
                                    captures),
                       captures);
        EXPECT_EQ(check.exitCode, 0) << c.mode << ":\n" << check.out << check.err;

        const std::string first = readBytes(folder / "out.mid");
        ASSERT_EQ(runTool(arguments).exitCode, 0);
        EXPECT_EQ(readBytes(folder / "out.mid"), first) << c.mode;
    }
}

// One line on stderr naming the tool, exit 2, nothing on stdout, the folder as it was.
void expectCleanFailure(const Strings& arguments, const Folder& folder, const Strings& before) {
    const ToolRun run = runTool(arguments);
    std::string shown;
    for (const std::string& a : arguments) {
        shown += " " + a;
    }
    EXPECT_EQ(run.exitCode, kExitError) << shown;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_TRUE(run.err.starts_with("doodlechorus-render: ")) << shown << ": " << run.err;
    EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << shown << ": " << run.err;
    EXPECT_TRUE(run.err.ends_with("\n")) << shown;
    EXPECT_EQ(folder.names(), before) << shown;
    EXPECT_EQ(readBytes(folder / "keep.wav"), "keep") << shown;
}

// Names reach the terminal quoted for the shell: a newline or an escape sequence in one can
// neither break the message's one line nor drive the terminal.
TEST(RenderToolErrors, NamesInMessagesAreQuotedForTheShell) {
    const Folder folder;
    const std::string in = saveRecording(folder, kRecording);
    const std::string at = folder / "";
    struct Case {
        std::string name;
        std::string shown; // the whole path as the message shows it
    };
    const std::vector<Case> cases{
        {"plain.xyz", "'" + at + "plain.xyz'"},
        {"it's.xyz", "'" + at + "it'\\''s.xyz'"},
        {"a\nb.xyz", "$'" + at + "a\\nb.xyz'"},
        {"red\033[31m.xyz", "$'" + at + "red\\033[31m.xyz'"},
        {"tab\t'q'\\.xyz", "$'" + at + "tab\\t\\'q\\'\\\\.xyz'"},
        {"caf\xc3\xa9.xyz", "'" + at + "caf\xc3\xa9.xyz'"},  // UTF-8 stays as it is
        {"bad\xff.xyz", "$'" + at + "bad\\377.xyz'"},        // not UTF-8
        {"c1\xc2\x9b.xyz", "$'" + at + "c1\\302\\233.xyz'"}, // CSI, a C1 control
        // Right-to-left override and isolate: they would show "zyx.gnp" for "png.xyz".
        {"rlo\xe2\x80\xaegnp.xyz", "$'" + at + "rlo\\342\\200\\256gnp.xyz'"},
        {"lre\xe2\x80\xaa.xyz", "$'" + at + "lre\\342\\200\\252.xyz'"},
        {"rli\xe2\x81\xa7.xyz", "$'" + at + "rli\\342\\201\\247.xyz'"},
        {"pdi\xe2\x81\xa9.xyz", "$'" + at + "pdi\\342\\201\\251.xyz'"},
        {"sup\xe2\x81\xb0.xyz", "'" + at + "sup\xe2\x81\xb0.xyz'"}, // U+2070, printable
    };
    for (const Case& c : cases) {
        const ToolRun run = runTool({in, folder / c.name});
        EXPECT_EQ(run.exitCode, kExitError);
        EXPECT_EQ(run.err, "doodlechorus-render: " + c.shown +
                               " has no sound, MIDI or recording file extension; use one of wav "
                               "flac ogg oga mp3 aiff aif au caf w64 mid sav as its extension or "
                               "with --type\n");
    }
}

TEST(RenderToolErrors, BadCommandLinesInputsAndOutputsExitWithTwoAndLeaveNothingBehind) {
    const Folder folder;
    const std::string in = saveRecording(folder, kRecording);
    const std::string out = folder / "keep.wav";
    writeBytes(out, "keep");
    writeBytes(folder / "endless.sav", "1;1;0;2147483647\r\n"); // due as the tick counter wraps
    writeBytes(folder / "days.sav", "1;1;0;300000000\r\n");     // past a MIDI file's last tick
    fs::create_directory(folder / "folder.wav");
    const Strings before = folder.names();
    const std::vector<Strings> cases{
        {},
        {in},
        {in, out, folder / "third.wav"},
        {"--bogus", in, out},
        {"-s", "2", in, out},
        {"--speed", "0.5", in, out},
        {"--speed", "6", in, out},
        {"--speed", "abc", in, out},
        {"--speed", "nan", in, out},
        {"--speed", "1.5x", in, out},
        {"--speed=", in, out},
        {in, out, "--speed"},
        {"--voice", "3", in, out},
        {"--voice", "type1", in, out},
        {"--scale", "dorian", in, out},
        {"--tuning", "baroque", in, out},
        {"--tuning=", in, out},
        {"--root", "H", in, out},
        {"--root", "Db", in, out},
        {"--chorus", "choir", in, out},
        {"--chorus=", in, out},
        {"--singers", "3", in, out},
        {"--singers", "02", in, out},
        {"--chorus", "harmony", "--singers", "8", in, out},
        {"--singers", "2", in, out}, // the voice alone has no singers
        {"--chorus", "unison", in, folder / "keep.sav"},
        {"--chorus", "harmony", "--link", "http://127.0.0.1/", in},
        {in, folder / "keep.txt"},
        {in, folder / "keep"},
        {in, folder / ".wav"},
        {"--normalize", in, folder / "keep.mid"},
        {"--bits", "8", in, out},
        {"--bits", "32", in, out},
        {"--bits", "16", in, folder / "keep.ogg"},
        {"--bits", "24", in, folder / "keep.mid"},
        {"--type", "xyz", in, out},
        {"--type=", in, out},
        {in, "-"},
        {"--type", "wav", "--bits", "16", in, "-"},
        {"--type", "aiff", in, "-"},
        {"--type", "caf", in, "-"},
        {"--type", "w64", in, "-"},
        {"--type", "mp3", in, "-"},
        {"-q", "--speed", "9", in, out},
        {folder / "missing.sav", out},
        {folder / "folder.wav", out},
        {folder / "endless.sav", out},
        {in, folder / "no-such-folder/out.wav"},
        {in, folder / "in.sav/out.wav"},
        {in, folder / "folder.wav"},
        {folder / "endless.sav", folder / "out.mid"},
        {folder / "days.sav", folder / "out.mid"},
        {in, folder / "no-such-folder/out.mid"},
    };
    for (const Strings& arguments : cases) {
        expectCleanFailure(arguments, folder, before);
    }
    if (::geteuid() != 0) { // root may write anything
        ASSERT_EQ(::chmod(out.c_str(), 0444), 0);
        expectCleanFailure({in, out}, folder, before);
    }
}

// Whether the process has a file open in `folder`, by name or anonymous.
bool hasFileOpenIn(pid_t pid, const std::string& folder) {
    std::error_code error;
    for (const fs::directory_entry& entry :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        if (fs::read_symlink(entry.path(), error).string().starts_with(folder)) {
            return true;
        }
    }
    return false;
}

TEST(RenderToolErrors, AnInterruptedOrKilledRenderLeavesNoFile) {
    for (const int signalNumber : {SIGTERM, SIGKILL}) {
        const Folder inputs; // elsewhere: only the output is ever open in `folder`
        const Folder folder;
        // Twenty minutes of sound: the render is still running when the signal comes.
        const std::string in = saveRecording(inputs, {"100;100;0;0", "100;100;0;1200000"});
        const Folder captures;
        const pid_t pid = startTool({in, folder / "out.wav"}, captures);
        // Waits for the output file to be open, so that the signal finds the render under way.
        for (int attempt = 0; attempt < 500 && !hasFileOpenIn(pid, folder / ""); ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(::kill(pid, signalNumber), 0);
        const ToolRun run = finishTool(pid, captures);
        EXPECT_EQ(run.exitCode, 128 + signalNumber);
        EXPECT_EQ(folder.names(), Strings{}) << "signal " << signalNumber;
    }
}

// Every entry under `folder` with its type and what it holds (a link's target, a small file's
// bytes), to show that a refused render left everything as it was.
Strings snapshot(const std::string& folder) {
    Strings entries;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        const fs::file_status status = entry.symlink_status();
        // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) on " " + std::string.
        std::string line = entry.path().string();
        line += ' ';
        line += std::to_string(static_cast<int>(status.type()));
        line += ' ';
        if (fs::is_symlink(status)) {
            line += fs::read_symlink(entry.path()).string();
        } else if (fs::is_regular_file(status) && entry.file_size() < 4096) {
            line += readBytes(entry.path());
        }
        entries.push_back(line);
    }
    std::ranges::sort(entries);
    return entries;
}

TEST(RenderToolErrors, HostileOutputsAndInputsAreRefusedAndLeftAsTheyWere) {
    if (!isRoot()) {
        GTEST_SKIP() << "makes devices, mounts file systems and runs the tool as nobody";
    }
    using Make = std::function<void(const Folder&)>;
    struct Attack {
        std::string name;
        Make make;         // what the attack needs in the folder, which holds in.sav
        Strings arguments; // names in the folder
        std::string reason;
        Strings wrapper{};
    };
    const auto node = [](const char* name, mode_t type) {
        return [=](const Folder& f) {
            EXPECT_EQ(::mknod((f / name).c_str(), type | 0666, ::makedev(1, 3)), 0); // null
        };
    };
    const auto then = [](Make first, const char* link, const char* target) {
        return [=](const Folder& f) {
            first(f);
            fs::create_symlink(target, f / link);
        };
    };
    const Make take = [](const Folder& f) { fs::copy_file(f / "in.sav", f / "take.wav"); };
    const Make big = [](const Folder& f) { // 8 Mi empty lines, as many as the tool reads
        writeBytes(f / "big.sav", std::string(std::size_t{8} << 20, '\n'));
    };
    const Make unwritable = [](const Folder& f) {
        writeBytes(f / "out.wav", "root's");
        EXPECT_EQ(::chmod((f / "").c_str(), 0755), 0);
    };
    const std::string notRegular = "not a regular file";
    const std::string isInput = "it is the input recording";
    std::vector<Attack> attacks{
        {"fifo", node("out.wav", S_IFIFO), {"in.sav", "out.wav"}, notRegular},
        {"device", node("out.wav", S_IFCHR), {"in.sav", "out.wav"}, notRegular},
        {"link to fifo", then(node("p", S_IFIFO), "o.ogg", "p"), {"in.sav", "o.ogg"}, notRegular},
        {"link to device", then(node("d", S_IFCHR), "o.mp3", "d"), {"in.sav", "o.mp3"}, notRegular},
        {"input as output", take, {"take.wav", "take.wav"}, isInput},
        {"input by link", then(take, "link.wav", "take.wav"), {"take.wav", "link.wav"}, isInput},
        {"input by hard link",
         [&](const Folder& f) {
             take(f);
             fs::create_hard_link(f / "take.wav", f / "hard.wav");
         },
         {"hard.wav", "take.wav"},
         isInput},
        {"unwritable", unwritable, {"in.sav", "out.wav"}, "Permission denied", kAsNobody},
    };
    if (!test::kSanitized) {
        attacks.push_back(
            {"memory", big, {"big.sav", "out.wav"}, "do not fit in memory", kIn128Mebibytes});
    }
    for (const std::string extension : {"wav", "flac", "ogg", "mp3", "aiff", "au", "caf", "w64"}) {
        const std::string out = "disk/keep." + extension;
        attacks.push_back({"full disk",
                           [out](const Folder& f) { writeBytes(f / out, "keep"); },
                           {"in.sav", out},
                           "No space left on device"});
    }

    for (const Attack& attack : attacks) {
        const Folder folder;
        // A minute of sound: more than the small disk holds in any format.
        saveRecording(folder, {"100;100;0;0", "100;100;0;60000"});
        const std::string disk = folder / "disk";
        fs::create_directory(disk);
        // A fresh full disk each time: a failed write may have left the last one full.
        ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=300k"), 0);
        attack.make(folder);
        Strings arguments;
        for (const std::string& name : attack.arguments) {
            arguments.push_back(folder / name);
        }
        const Strings before = snapshot(folder / "");
        const ToolRun run = runTool(arguments, attack.wrapper);
        const std::string shown = attack.name + " " + arguments.back() + ": " + run.err;
        EXPECT_EQ(run.exitCode, kExitError) << shown;
        EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << shown;
        EXPECT_NE(run.err.find(attack.reason), std::string::npos) << shown;
        EXPECT_EQ(snapshot(folder / ""), before) << shown;
        EXPECT_EQ(::umount(disk.c_str()), 0);
    }
}

// Runs the tool through /bin/sh: `script` sees the tool as "$0", then `arguments` as "$1"...
ToolRun runThroughShell(const std::string& script, const Strings& arguments = {}) {
    const Folder captures;
    Strings all{"/bin/sh", "-c", script, DC_RENDER_TOOL};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return finishTool(startProgram(all, captures), captures);
}

// An input that is empty or holds no recording line (an upstream command that failed, a file
// given by mistake) is refused before OUT is touched, saying what was read; some lines of
// another form among recording lines play as the program plays them, after a warning.
TEST(RenderToolInput, AnInputWithoutRecordingLinesIsRefusedAndOtherLinesAreNamed) {
    const Folder folder;
    writeBytes(folder / "keep.wav", "keep");
    writeBytes(folder / "empty.sav", "");
    writeBytes(folder / "commas.sav", "120,45,0,1532\r\n");
    writeBytes(folder / "words.sav", "hello\r\nworld\r\n");
    writeBytes(folder / "almost.sav",
               "120;45;0\n120;45;0;1532;9\n120;45;0; 1532\n1e3;2;0;5\nNaN;1;0;2\n");
    const Strings before = folder.names();
    struct Case {
        std::string script;
        std::string input; // "$1"
        std::string message;
    };
    const std::string standardInput = "the recording on standard input";
    const std::string form =
        " (a recording line is four decimal numbers joined by \";\", as 120;45;0;1532)";
    const std::vector<Case> cases{
        {"true | \"$0\" - \"$2\"", "", standardInput + " has no recording lines (read 0 lines)"},
        {"printf 'hello\\nworld\\n' | \"$0\" - \"$2\"", "",
         standardInput + " has no recording lines: none of its 2 lines is one" + form},
        {"\"$0\" \"$1\" \"$2\"", folder / "empty.sav",
         "the recording '" + folder / "empty.sav" + "' has no recording lines (read 0 lines)"},
        {"\"$0\" \"$1\" \"$2\"", folder / "commas.sav",
         "the recording '" + folder / "commas.sav" +
             "' has no recording lines: its only line is not one" + form},
        {"\"$0\" \"$1\" \"$2\"", folder / "words.sav",
         "the recording '" + folder / "words.sav" +
             "' has no recording lines: none of its 2 lines is one" + form},
        {"\"$0\" \"$1\" \"$2\"", folder / "almost.sav",
         "the recording '" + folder / "almost.sav" +
             "' has no recording lines: none of its 5 lines is one" + form},
    };
    for (const Case& c : cases) {
        const ToolRun run = runThroughShell(c.script, {c.input, folder / "keep.wav"});
        EXPECT_EQ(run.exitCode, kExitError) << c.message;
        EXPECT_EQ(run.err, "doodlechorus-render: " + c.message + "\n");
        EXPECT_TRUE(readBytes(folder / "keep.wav") == "keep") << c.message;
        EXPECT_EQ(folder.names(), before) << c.message;
    }

    const Strings mixed{"120;45;0;0", "garbage", "", "-3.5;+250;1;40.25", "60;60;0;80"};
    const std::string in = saveRecording(folder, mixed);
    const ToolRun warned = runTool({in, folder / "mixed.wav"});
    EXPECT_EQ(warned.exitCode, 0) << warned.err;
    EXPECT_EQ(warned.err,
              "doodlechorus-render: warning: 2 lines of the 5 lines in the recording '" + in +
                  "' are not recording lines; they play as the program plays them, "
                  "a missing or non-numeric field as 0\n");
    const std::vector<float> core = coreSamples(mixed, {});
    EXPECT_EQ(readSoundFile(folder / "mixed.wav").samples, core);
    const ToolRun quiet = runTool({"-q", in, folder / "quiet.wav"});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.err, "");
}

// No input fills the memory: an endless standard input is refused once it passes the lines or
// bytes the tool reads, a larger file unread, and the memory it took is printed. Each runs in
// 1 GiB of address space, so that a tool that reads on cannot take the machine's memory.
TEST(RenderToolInput, AnEndlessInputIsRefusedAtTheLimitWithBoundedMemory) {
    if (test::kSanitized) {
        GTEST_SKIP() << "a sanitizer's shadow memory needs more address space than the limit";
    }
    const Folder folder;
    writeBytes(folder / "keep.wav", "keep");
    // Sparse: a file one byte over the limit, read as zero bytes, each an empty line.
    const std::string huge = folder / "huge.sav";
    writeBytes(huge, "");
    ASSERT_EQ(::truncate(huge.c_str(), (off_t{128} << 20) + 1), 0);
    const Strings before = folder.names();
    const std::string lines = "it holds more than 8388608 lines, the most this tool reads";
    const std::string bytes = "it holds more than 128 MiB, the most this tool reads";
    struct Case {
        std::string name;
        std::string script;
        std::string reason;
    };
    const std::vector<Case> cases{
        {"yes", "yes '10;10;0;1' | \"$0\" - \"$1\"", lines},
        {"/dev/zero", "\"$0\" - \"$1\" < /dev/zero", lines},
        {"one endless line", "yes | tr -d '\\n' | \"$0\" - \"$1\"", bytes},
        {"a larger file", "\"$0\" \"$2\" \"$1\"", bytes},
    };
    for (const Case& c : cases) {
        const ToolRun run =
            runThroughShell("ulimit -v 1048576 && " + c.script, {folder / "keep.wav", huge});
        EXPECT_EQ(run.exitCode, kExitError) << c.name;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << c.name << ": " << run.err;
        EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << c.name << ": " << run.err;
        EXPECT_TRUE(readBytes(folder / "keep.wav") == "keep") << c.name;
        EXPECT_EQ(folder.names(), before) << c.name;
        std::cout << "[ figures  ] " << c.name << ": peak resident memory " << run.peakKib / 1024
                  << " MiB\n";
    }
}

// m:ss.mmm of a sample index at 44100 Hz, the milliseconds cut.
std::string minutesSecondsMs(std::size_t sampleIndex) {
    const std::size_t ms = sampleIndex * 1000 / 44100;
    std::ostringstream text;
    text << ms / 60000 << ':' << std::setw(2) << std::setfill('0') << ms / 1000 % 60 << '.'
         << std::setw(3) << ms % 1000;
    return text.str();
}

// A recording that makes the voice run away: the tool keeps the voice's numbers, so the render
// is refused where they stop being finite, and OUT is left as it was.
TEST(RenderToolRunaway, ARenderThatRunsAwayIsRefusedWithItsTimeAndOutIsLeftAlone) {
    const Folder folder;
    const Strings lines = test::runawayLines();
    const std::vector<float> core = coreSamples(lines, {});
    const auto firstNonFinite =
        std::ranges::find_if(core, [](float sample) { return !std::isfinite(sample); });
    ASSERT_NE(firstNonFinite, core.end()) << "the recording no longer runs the voice away";
    const std::string at =
        minutesSecondsMs(static_cast<std::size_t>(firstNonFinite - core.begin()));
    const std::string in = saveRecording(folder, lines);
    writeBytes(folder / "keep.wav", "keep");
    writeBytes(folder / "keep.flac", "keep");
    const Strings before = folder.names();
    for (const Strings& options :
         {Strings{}, Strings{"--normalize"}, Strings{"-q", "--bits", "16"}}) {
        for (const std::string out : {"keep.wav", "keep.flac"}) {
            Strings arguments = options;
            arguments.insert(arguments.end(), {in, folder / out});
            const ToolRun run = runTool(arguments);
            EXPECT_EQ(run.exitCode, kExitError) << out;
            EXPECT_EQ(run.err, "doodlechorus-render: the voice runs away at " + at +
                                   " into the sound: from there its samples are not finite "
                                   "numbers, which no sound file should hold\n")
                << out;
            EXPECT_TRUE(readBytes(folder / out) == "keep") << out << " was replaced";
            EXPECT_EQ(folder.names(), before) << out;
        }
    }
}

// Standard output on a full disk: the reason in the tool's words, never libsndfile's ("System
// error : ... .", a FLAC encoder called a decoder).
TEST(RenderToolErrors, AFullStandardOutputIsReportedInTheToolsOwnWords) {
    if (!isRoot()) {
        GTEST_SKIP() << "mounts a small file system";
    }
    const Folder folder;
    const std::string in = saveRecording(folder, {"100;100;0;0", "100;100;0;60000"});
    const std::string disk = folder / "disk";
    fs::create_directory(disk);
    // libsndfile leaves its Vorbis encoder allocated when the first Ogg page cannot be
    // written; the process ends right after, but LeakSanitizer would fail the run.
    const std::string leaks = folder / "leaks.supp";
    writeBytes(leaks, "leak:libvorbis.so\nleak:libogg.so\n");
    for (const std::string type : {"flac", "au", "ogg", "mid"}) {
        ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k"), 0);
        writeBytes(disk + "/full", std::string(std::size_t{64} << 10, 'x')); // fills it
        const ToolRun run = runThroughShell("LSAN_OPTIONS=print_suppressions=0:suppressions=\"$4\" "
                                            "\"$0\" --type \"$1\" \"$2\" - > \"$3\"",
                                            {type, in, disk + "/out", leaks});
        EXPECT_EQ(run.exitCode, kExitError) << type;
        EXPECT_EQ(run.err,
                  "doodlechorus-render: cannot write to standard output: No space left on device\n")
            << type;
        EXPECT_EQ(::umount(disk.c_str()), 0);
    }
}

// MIDI files in.

const std::string kExamplesFolder = DC_EXAMPLES_DIR;

Strings savLines(const std::string& path) {
    return splitRecordingLines(readBytes(path)).lineTexts();
}

// The pitch the map gives the voice on every tick of a playback (index: tick), 0 where it is
// silent, from the core's own playback.
std::vector<double> pitchTrack(const Strings& lines, const RenderSettings& settings) {
    const Recording recording(lines);
    const std::optional<RenderPlan> plan = planRender(recording, settings.playSpeed);
    if (!plan) {
        ADD_FAILURE() << "the recording does not end";
        return {};
    }
    std::vector<double> track(static_cast<std::size_t>(plan->stopTick) + 1, 0.0);
    double pitchHz = 0.0;
    std::size_t from = 0;
    playRecording(recording, settings, *plan,
                  [&](const PlayedTick& played) {
                      const auto tick = static_cast<std::size_t>(played.tick);
                      std::fill(track.begin() + static_cast<std::ptrdiff_t>(from),
                                track.begin() + static_cast<std::ptrdiff_t>(tick), pitchHz);
                      from = tick;
                      pitchHz = played.step.action == PlaybackAction::Sound ? played.pitchHz : 0.0;
                  },
                  {});
    return track;
}

double centsBetween(double hz, double otherHz) {
    return 1200.0 * std::log2(hz / otherHz);
}

struct Example {
    std::string name;
    Strings scaleOptions; // for the export and the reading back
    RenderSettings settings;
    Strings speedOptions{}; // for the export only: its file holds played time
};

const std::vector<Example> kExamples{
    {"tune", {"--scale", "major"}, {1.0, VoiceType::Type1, ScaleMode::Major, 0}},
    {"tune", {}, {}},
    {"tune",
     {"--scale", "pentatonic", "--root", "D"},
     {2.5, VoiceType::Type1, ScaleMode::Pentatonic, 2},
     {"--speed", "2.5"}},
    {"scale-run", {"--scale", "major"}, {1.0, VoiceType::Type1, ScaleMode::Major, 0}},
    {"scale-run", {}, {}},
    {"vowel-sweep", {}, {}},
    {"vowel-sweep",
     {"--scale", "minor", "--root", "A"},
     {1.0, VoiceType::Type1, ScaleMode::Minor, 9}},
};

// Exports an example to MIDI and reads it back into a .sav with the tool; the lines read back.
Strings exportAndReadBack(const Example& example, const Folder& folder) {
    const std::string in = kExamplesFolder + "/" + example.name + ".sav";
    Strings exportArguments = example.scaleOptions;
    exportArguments.insert(exportArguments.end(), example.speedOptions.begin(),
                           example.speedOptions.end());
    exportArguments.insert(exportArguments.end(), {in, folder / "out.mid"});
    const ToolRun exported = runTool(exportArguments);
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    Strings readArguments = example.scaleOptions;
    readArguments.insert(readArguments.end(), {folder / "out.mid", folder / "back.sav"});
    const ToolRun read = runTool(readArguments);
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(read.out + read.err, "");
    return savLines(folder / "back.sav");
}

// The tool's own MIDI export of every example, read back by the tool, sings the same pitch on
// every tick within 5 cents, one tick later (a MIDI event's time is the tick its line played
// on, and a line plays on the tick after its time), with the same silences.
TEST(RenderToolMidiIn, EveryExampleExportedAndReadBackSingsTheSamePitchTrack) {
    for (const Example& example : kExamples) {
        const Folder folder;
        const Strings back = exportAndReadBack(example, folder);
        const std::vector<double> original =
            pitchTrack(savLines(kExamplesFolder + "/" + example.name + ".sav"), example.settings);
        RenderSettings readSettings = example.settings;
        readSettings.playSpeed = 1.0;
        const std::vector<double> readBack = pitchTrack(back, readSettings);
        ASSERT_GE(readBack.size(), original.size()) << example.name;
        double worstCents = 0.0;
        std::size_t sounding = 0;
        for (std::size_t tick = 1; tick < original.size(); ++tick) {
            const double hz = original[tick];
            const double backHz = readBack[tick + 1];
            ASSERT_EQ(hz > 0.0, backHz > 0.0) << example.name << " at tick " << tick;
            if (hz > 0.0) {
                ++sounding;
                const double cents = std::fabs(centsBetween(backHz, hz));
                worstCents = std::max(worstCents, cents);
                ASSERT_LE(cents, 5.0) << example.name << " at tick " << tick;
            }
        }
        EXPECT_GT(sounding, 1000U) << example.name;
        // Within 5 cents, and in fact exactly: a column's own pitch comes back to it.
        EXPECT_EQ(worstCents, 0.0) << example.name;
    }
}

// aubiopitch on the two renders of a steady song: where the voice holds a note, the same pitch.
// Frames of 2048 samples hold two periods of the lowest note (51.9 Hz); a hop of 44 samples is
// about the tick by which the read-back plays later, so frame i + 1 of its render hears what
// frame i of the original's does.
TEST(RenderToolMidiIn, AubioHearsTheSamePitchInTheRenderOfTheReadBackSav) {
    constexpr int64_t kFrameSamples = 2048;
    constexpr int64_t kHopSamples = 44;
    const Example& example = kExamples[3]; // scale-run, major
    const Folder folder;
    exportAndReadBack(example, folder);
    const std::string original = kExamplesFolder + "/" + example.name + ".sav";
    auto aubio = [&](const std::string& sav, const std::string& wav) {
        Strings arguments = example.scaleOptions;
        arguments.insert(arguments.end(), {"--bits", "16", sav, wav});
        EXPECT_EQ(runTool(arguments).exitCode, 0);
        const Folder captures;
        const ToolRun run =
            finishTool(startProgram({"aubiopitch", "-i", wav, "-p", "yin", "-u", "Hz", "-B",
                                     std::to_string(kFrameSamples), "-H",
                                     std::to_string(kHopSamples), "-l", "0.15", "-T", "samples"},
                                    captures),
                       captures);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::vector<std::pair<int64_t, double>> frames; // sample at the frame's end, Hz
        std::istringstream lines(run.out);
        double at = 0.0;
        double hz = 0.0;
        while (lines >> at >> hz) {
            frames.emplace_back(static_cast<int64_t>(at) + kHopSamples, hz);
        }
        return frames;
    };
    const auto heard = aubio(original, folder / "original.wav");
    const auto heardBack = aubio(folder / "back.sav", folder / "back.wav");
    ASSERT_GE(heardBack.size(), heard.size() + 1); // a millisecond longer
    const std::vector<double> track = pitchTrack(savLines(original), example.settings);
    // A frame after the 2000-sample glide to its note, two ticks either way.
    auto steady = [&](int64_t frameEnd) {
        const int64_t first = (frameEnd - kFrameSamples - 2000) * 1000 / 44100 - 2;
        const int64_t last = frameEnd * 1000 / 44100 + 2;
        if (first < 1 || last >= static_cast<int64_t>(track.size())) {
            return false;
        }
        for (int64_t tick = first; tick <= last; ++tick) {
            if (track[static_cast<std::size_t>(tick)] != track[static_cast<std::size_t>(first)] ||
                track[static_cast<std::size_t>(tick)] == 0.0) {
                return false;
            }
        }
        return true;
    };
    std::size_t compared = 0;
    double worstCents = 0.0;
    for (std::size_t i = 0; i < heard.size(); ++i) {
        if (heard[i].second > 0.0 && heardBack[i + 1].second > 0.0 && steady(heard[i].first)) {
            ++compared;
            const double cents = std::fabs(centsBetween(heardBack[i + 1].second, heard[i].second));
            worstCents = std::max(worstCents, cents);
            EXPECT_LE(cents, 5.0) << "at sample " << heard[i].first;
        }
    }
    EXPECT_GT(compared, 500U);
    std::printf("aubiopitch: %zu steady frames of %zu, at most %.3f cents apart\n", compared,
                heard.size(), worstCents);
}

// A format 1 file of mido's making, whose tempo changes in two tracks: each note starts and
// ends within a millisecond of mido's time for it.
TEST(RenderToolMidiIn, TempoChangesTimeTheLinesAsMidoReadsThem) {
    const Folder folder;
    const std::string mid = folder / "tempo.mid";
    const Folder captures;
    const ToolRun made = finishTool(
        startProgram({DC_PYTHON3, DC_MIDI_INPUT_CHECK, "tempo-file", mid}, captures), captures);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const ToolRun read = finishTool(
        startProgram({DC_PYTHON3, DC_MIDI_INPUT_CHECK, "notes", mid, "2"}, captures), captures);
    ASSERT_EQ(read.exitCode, 0) << read.err;
    const ToolRun run = runTool({mid, folder / "tempo.sav"});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // The notes are apart: each starts a stroke (its first line after a release) and ends it.
    std::vector<std::pair<std::string, double>> lineTimes;
    bool sounding = false;
    for (const std::string& line : savLines(folder / "tempo.sav")) {
        const bool released = parseDecimal(lineField(line, kFieldReleased)) >= 1.0;
        if (released || !sounding) {
            lineTimes.emplace_back(released ? "off" : "on",
                                   parseDecimal(lineField(line, kFieldTime)));
        }
        sounding = !released;
    }
    std::istringstream notes(read.out);
    std::size_t i = 0;
    double ms = 0.0;
    std::string kind;
    int note = 0;
    while (notes >> ms >> kind >> note) {
        ASSERT_LT(i, lineTimes.size());
        EXPECT_EQ(lineTimes[i].first, kind) << i;
        EXPECT_LE(std::fabs(lineTimes[i].second - ms), 1.0) << kind << " " << note << " at " << ms;
        ++i;
    }
    EXPECT_EQ(i, lineTimes.size());
    EXPECT_EQ(i, 24U);
}

// A C major melody (C4 up to C5) sung in Major on C and exported as MIDI, read back by mido:
// under --tuning concert every note comes out as played; under classic (the default), whose
// scale is concert A-flat major, D, E, A and B come out a semitone low.
TEST(RenderToolMidiIn, UnderConcertTuningACMajorMelodyKeepsEveryNote) {
    const Folder folder;
    const std::string melody = folder / "c-major.mid";
    const Folder captures;
    const ToolRun made = finishTool(
        startProgram({DC_PYTHON3, DC_MIDI_INPUT_CHECK, "c-major-file", melody}, captures),
        captures);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const auto notesSung = [&](const std::vector<std::string>& tuningOptions) {
        std::vector<std::string> arguments{"--scale", "major", "--root", "C"};
        arguments.insert(arguments.end(), tuningOptions.begin(), tuningOptions.end());
        arguments.push_back(melody);
        arguments.push_back(folder / "sung.mid");
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const ToolRun read = finishTool(
            startProgram({DC_PYTHON3, DC_MIDI_INPUT_CHECK, "notes", folder / "sung.mid", "1"},
                         captures),
            captures);
        EXPECT_EQ(read.exitCode, 0) << read.err;
        std::vector<int> onNotes;
        std::istringstream notes(read.out);
        double ms = 0.0;
        std::string kind;
        int note = 0;
        while (notes >> ms >> kind >> note) {
            if (kind == "on") {
                onNotes.push_back(note);
            }
        }
        return onNotes;
    };
    const std::vector<int> played{60, 62, 64, 65, 67, 69, 71, 72};
    EXPECT_EQ(notesSung({"--tuning", "concert"}), played);
    EXPECT_EQ(notesSung({"--tuning=Concert"}), played) << "in any case";
    const std::vector<int> classic{60, 61, 63, 65, 67, 68, 70, 72};
    EXPECT_EQ(notesSung({"--tuning", "classic"}), classic);
    EXPECT_EQ(notesSung({}), classic) << "classic is the default";
}

// A MIDI file is known by its bytes, named anything or piped in; a .sav in gives its lines
// back; --channel and --vowel pick what it sings.
TEST(RenderToolMidiIn, KnownByItsBytesFromAnyNameOrAPipeWithChannelAndVowel) {
    const Folder folder;
    const std::string in = saveRecording(folder, twoStrokes());
    ASSERT_EQ(runTool({in, folder / "song.mid"}).exitCode, 0);
    ASSERT_EQ(runTool({folder / "song.mid", folder / "expected.sav"}).exitCode, 0);
    const std::string expected = readBytes(folder / "expected.sav");
    EXPECT_TRUE(expected.ends_with("\r\n"));
    EXPECT_EQ(std::ranges::count(expected, '\n'), std::ranges::count(expected, '\r'));
    fs::copy_file(folder / "song.mid", folder / "song.sav");
    fs::copy_file(folder / "song.mid", folder / "song");
    for (const std::string name : {"song.sav", "song"}) {
        ASSERT_EQ(runTool({folder / name, folder / "named.sav"}).exitCode, 0) << name;
        EXPECT_EQ(readBytes(folder / "named.sav"), expected) << name;
    }
    const Folder captures;
    const ToolRun piped =
        finishTool(startProgram({"/bin/sh", "-c", "cat \"$0\" | \"$1\" --type sav - - | cat",
                                 folder / "song.mid", DC_RENDER_TOOL},
                                captures),
                   captures);
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out, expected);
    // A .sav in, a .sav out: the same lines, with CR LF.
    writeBytes(folder / "lf.sav", "1;2;0;3\n4;5;1;6");
    ASSERT_EQ(runTool({folder / "lf.sav", folder / "crlf.sav"}).exitCode, 0);
    EXPECT_EQ(readBytes(folder / "crlf.sav"), "1;2;0;3\r\n4;5;1;6\r\n");

    // --vowel fixes the row; --channel 2 finds nothing in a file all on channel 1.
    ASSERT_EQ(runTool({"--vowel", "37", folder / "song.mid", folder / "row.sav"}).exitCode, 0);
    for (const std::string& line : savLines(folder / "row.sav")) {
        EXPECT_EQ(lineField(line, kFieldY), "37") << line;
    }
    ASSERT_EQ(runTool({"--channel", "1", folder / "song.mid", folder / "one.sav"}).exitCode, 0);
    EXPECT_EQ(readBytes(folder / "one.sav"), expected);
    const ToolRun second = runTool({"--channel=2", folder / "song.mid", folder / "two.sav"});
    EXPECT_EQ(second.exitCode, kExitError);
    // Appended, not joined with +: GCC 12 warns falsely (-Wrestrict) on that in optimised builds.
    std::string refusal = "doodlechorus-render: cannot sing the MIDI file '";
    refusal += folder / "song.mid";
    refusal += "': it holds no notes on channel 2\n";
    EXPECT_EQ(second.err, refusal);
}

// A file of several tracks built byte by byte: format 1, 500 ticks a quarter note (1 ms a tick
// at the default tempo), each track given as its events.
std::string midiTracks(std::initializer_list<std::string> tracks) {
    std::string file("MThd\0\0\0\6\0\1\0", 11);
    file += static_cast<char>(tracks.size());
    file += std::string("\1\xF4", 2);
    for (const std::string& track : tracks) {
        file += std::string("MTrk\0\0\0", 7) + static_cast<char>(track.size()) + track;
    }
    return file;
}

// Without --channel the first track with a note off the drums' channel is sung, on that note's
// channel, which stderr names (unless quiet) when other channels hold notes too; a file of
// drums alone is refused with the way to sing them.
TEST(RenderToolMidiIn, TheDrumsChannelIsPassedOverAndTheChannelSungIsNamed) {
    const Folder folder;
    const std::string endOfTrack("\0\xFF\x2F\0", 4);
    const std::string drums = std::string("\0\x99\x24\x64\x60\x89\x24\0", 8) + endOfTrack;
    const std::string melody =
        std::string("\x30\x91\x39\x5A\x30\x81\x39\0\0\x92\x45\x5A\x60\x82\x45\0", 16) + endOfTrack;
    const std::string song = folder / "song.mid";
    writeBytes(song, midiTracks({drums, melody}));

    const ToolRun picked = runTool({song, folder / "picked.sav"});
    ASSERT_EQ(picked.exitCode, 0) << picked.err;
    std::string notice = "doodlechorus-render: singing channel 2 of the MIDI file '";
    notice += song;
    notice += "', which has notes on channels 2, 3 and 10 (--channel N sings another)\n";
    EXPECT_EQ(picked.err, notice);
    ASSERT_EQ(runTool({"--channel", "2", song, folder / "two.sav"}).exitCode, 0);
    EXPECT_EQ(readBytes(folder / "picked.sav"), readBytes(folder / "two.sav"));
    const ToolRun chosen = runTool({"--channel", "3", song, folder / "three.sav"});
    EXPECT_EQ(chosen.exitCode, 0);
    EXPECT_EQ(chosen.err, "") << "a channel chosen is not named again";
    EXPECT_NE(readBytes(folder / "three.sav"), readBytes(folder / "two.sav"));
    const ToolRun quiet = runTool({"-q", song, folder / "quiet.sav"});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out + quiet.err, "");

    const std::string drumsOnly = folder / "drums.mid";
    writeBytes(drumsOnly, midiTracks({drums}));
    const ToolRun refused = runTool({drumsOnly, folder / "drums.sav"});
    EXPECT_EQ(refused.exitCode, kExitError);
    std::string refusal = "doodlechorus-render: cannot sing the MIDI file '";
    refusal += drumsOnly;
    refusal += "': its notes are all on channel 10, the drums'; --channel 10 sings them\n";
    EXPECT_EQ(refused.err, refusal);
    EXPECT_FALSE(fs::exists(folder / "drums.sav"));
    const ToolRun sungDrums = runTool({"--channel", "10", drumsOnly, folder / "drums.sav"});
    EXPECT_EQ(sungDrums.exitCode, 0) << sungDrums.err;
    EXPECT_EQ(savLines(folder / "drums.sav").size(), 2U) << "one note, its start and release";
}

// Hostile MIDI files and wrong MIDI options: exit 2, one line, the output as it was.
TEST(RenderToolMidiIn, HostileFilesAreRefusedAndTheOutputIsLeftAsItWas) {
    const Folder folder;
    const std::string sav = saveRecording(folder, twoStrokes());
    ASSERT_EQ(runTool({sav, folder / "song.mid"}).exitCode, 0);
    const std::string song = readBytes(folder / "song.mid");
    writeBytes(folder / "keep.wav", "keep");
    auto midi = [](const std::string& track) {
        const auto size = static_cast<char>(track.size());
        return std::string("MThd\0\0\0\6\0\0\0\1\1\xF4MTrk\0\0\0", 21) + size + track;
    };
    writeBytes(folder / "cut.mid", song.substr(0, song.size() / 2));
    writeBytes(folder / "huge.mid", std::string("MThd\0\0\0\6\0\0\0\1\1\xF4MTrk\x7F\xFF\xFF\xFF"
                                                "\0\x90\x3C\x40",
                                                26));
    writeBytes(folder / "endless.mid", midi(std::string(40, '\xFF')));
    writeBytes(folder / "endless-delta.mid", midi(std::string(40, '\x81')));
    writeBytes(folder / "silent.mid", midi(std::string("\0\xFF\x2F\0", 4)));
    writeBytes(folder / "format2.mid", std::string("MThd\0\0\0\6\0\2\0\1\1\xF4", 14));
    writeBytes(folder / "large.mid", "MThd" + std::string(17 << 20, '\0'));
    const std::string out = folder / "keep.wav";
    const Strings before = folder.names();
    for (const Strings& arguments : std::vector<Strings>{
             {folder / "cut.mid", out},
             {folder / "huge.mid", out},
             {folder / "endless.mid", out},
             {folder / "endless-delta.mid", out},
             {folder / "silent.mid", out},
             {folder / "format2.mid", out},
             {folder / "large.mid", out},
             {"--channel", "0", folder / "song.mid", out},
             {"--channel", "17", folder / "song.mid", out},
             {"--vowel", "201", folder / "song.mid", out},
             {"--vowel", "-1", folder / "song.mid", out},
             {"--channel", "1", sav, out},
             {"--vowel", "3", sav, out},
             {"--speed", "2", folder / "song.mid", folder / "keep.sav"},
             {"--normalize", sav, folder / "keep.sav"},
         }) {
        expectCleanFailure(arguments, folder, before);
    }
}

} // namespace
} // namespace doodle

namespace doodle {
namespace {

// The bytes of raw deflate (windowBits -15) or the zlib format (15) inflated with zlib.
std::string inflated(const std::string& deflated, int windowBits) {
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, windowBits), Z_OK);
    std::string out(1 << 20, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    stream.avail_in = static_cast<uInt>(deflated.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(stream.avail_in, 0U) << "bytes after the deflate stream";
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return out;
}

std::string fromBase64Url(const std::string& text) {
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string bytes;
    uint32_t bits = 0;
    int32_t bitCount = 0;
    for (const char c : text) {
        const std::size_t value = digits.find(c);
        EXPECT_NE(value, std::string::npos) << c;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes += static_cast<char>((bits >> bitCount) & 0xFF);
        }
    }
    return bytes;
}

// A link's parameters after the "#", by name.
std::map<std::string, std::string> linkParams(const std::string& fragment) {
    std::map<std::string, std::string> params;
    std::istringstream in(fragment);
    for (std::string pair; std::getline(in, pair, '&');) {
        const std::size_t equals = pair.find('=');
        params[pair.substr(0, equals)] = equals == std::string::npos ? "" : pair.substr(equals + 1);
    }
    return params;
}

const std::string kPageUrl = "http://127.0.0.1:8000/doodlechorus/";

// --link: one line, the page's address and the recording with the settings; the file comes
// back exactly from the compact form (or, for lines of another form, from the older one).
TEST(RenderToolLink, PrintsALinkThatHoldsTheRecordingAndTheSettings) {
    for (const std::string name : {"scale-run", "tune", "vowel-sweep"}) {
        const std::string path = kExamplesFolder + "/" + name + ".sav";
        const ToolRun run = runTool({"--link", kPageUrl + "#old", "--scale", "pentatonic", "--root",
                                     "A#", "--voice", "2", "--speed", "3.2", path});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");
        ASSERT_TRUE(run.out.starts_with(kPageUrl + "#dc=2&r=")) << run.out;
        ASSERT_TRUE(run.out.ends_with("\n"));
        const std::string link = run.out.substr(0, run.out.size() - 1);
        std::map<std::string, std::string> params = linkParams(link.substr(kPageUrl.size() + 1));
        // Pentatonic (3), A# (10), type 2, no grid, 3.2: (((3 * 12 + 10) * 2 + 1) * 2 + 0) * 41
        // + 22.
        EXPECT_EQ(params["s"], std::to_string((((3 * 12 + 10) * 2 + 1) * 2) * 41 + 22));
        const std::string compact = inflated(fromBase64Url(params["r"]), -15);
        const ExpandedRecording expanded =
            expandCompactRecording(std::vector<uint8_t>(compact.begin(), compact.end()), 1 << 20);
        ASSERT_EQ(expanded.problem, ExpandProblem::None) << name;
        const std::string file = readBytes(path);
        EXPECT_EQ(std::string(expanded.savBytes.begin(), expanded.savBytes.end()), file);
        std::cout << name << ".sav (" << file.size() << " bytes): the tool's link is "
                  << link.size() << " characters with a page address of " << kPageUrl.size()
                  << "\n";
    }

    const Folder folder;
    // Lines with LF ends come back with CR LF, as Save writes them; the defaults are 0.
    writeBytes(folder / "lf.sav", "10;20;0;0\n12;21;1;30\n");
    const ToolRun lf = runTool({"--link", kPageUrl, folder / "lf.sav"});
    ASSERT_EQ(lf.exitCode, 0) << lf.err;
    std::map<std::string, std::string> params = linkParams(lf.out.substr(kPageUrl.size() + 1));
    EXPECT_EQ(params["dc"], "2");
    EXPECT_EQ(params["s"], "0\n");
    const std::string compact = inflated(fromBase64Url(params["r"]), -15);
    const ExpandedRecording expanded =
        expandCompactRecording(std::vector<uint8_t>(compact.begin(), compact.end()), 1 << 20);
    EXPECT_EQ(std::string(expanded.savBytes.begin(), expanded.savBytes.end()),
              "10;20;0;0\r\n12;21;1;30\r\n");
    // Concert is the most significant digit: the defaults under it follow every Classic number
    // (4 scale modes * 12 roots * 2 voice types * 2 grid states * 41 speeds).
    const ToolRun concert = runTool({"--link", kPageUrl, "--tuning", "concert", folder / "lf.sav"});
    ASSERT_EQ(concert.exitCode, 0) << concert.err;
    EXPECT_EQ(linkParams(concert.out.substr(kPageUrl.size() + 1))["s"],
              std::to_string(4 * 12 * 2 * 2 * 41) + "\n");

    // A line of another form: the older link, the zlib format, its settings by name.
    writeBytes(folder / "other.sav", "10;20;0;0\r\n12.5;21;1;30\r\n");
    const ToolRun other = runTool({"--link=" + kPageUrl, "--scale=major", "--root=D", "--speed=1.5",
                                   "--tuning=concert", "-q", folder / "other.sav"});
    ASSERT_EQ(other.exitCode, 0) << other.err;
    params = linkParams(other.out.substr(kPageUrl.size() + 1));
    EXPECT_EQ(params["dc"], "1");
    EXPECT_EQ(params["scale"], "major");
    EXPECT_EQ(params["root"], "2");
    EXPECT_EQ(params["voice"], "1");
    EXPECT_EQ(params["speed"], "15");
    EXPECT_EQ(params["grid"], "0");
    EXPECT_EQ(params["tuning"], "concert\n");
    EXPECT_EQ(inflated(fromBase64Url(params["rec"]), 15), "10;20;0;0\r\n12.5;21;1;30\r\n");

    // Refused: an OUT, options that shape OUT, no address, no recording lines.
    for (const Strings& arguments :
         {Strings{"--link", kPageUrl, folder / "lf.sav", folder / "out.wav"},
          Strings{"--link", kPageUrl, "--type", "wav", folder / "lf.sav"},
          Strings{"--link", kPageUrl, "--normalize", folder / "lf.sav"},
          Strings{"--link=", folder / "lf.sav"}, Strings{"--link", kPageUrl},
          Strings{"--link", kPageUrl, folder / "missing.sav"}}) {
        const ToolRun refused = runTool(arguments);
        EXPECT_EQ(refused.exitCode, kExitError) << arguments.back();
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(std::ranges::count(refused.err, '\n'), 1) << refused.err;
    }
    EXPECT_EQ(folder.names(), (Strings{"lf.sav", "other.sav"}));
}

// A chorus: stereo, its samples the core's, the same bytes twice; every other sound format and
// standard output stereo too.
TEST(RenderToolChorus, UnisonAndHarmonyAreStereoTheCoresSamplesAndTheSameBytesTwice) {
    const Folder folder;
    const std::string in = saveRecording(folder, kRecording);
    struct Case {
        Strings options;
        RenderSettings settings;
    };
    RenderSettings unison;
    unison.chorus = ChorusMode::Unison;
    RenderSettings harmony;
    harmony.scaleMode = ScaleMode::Major;
    harmony.chorus = ChorusMode::Harmony;
    harmony.singersPerPart = 4;
    const std::vector<Case> cases{
        {{"--chorus", "Unison"}, unison},
        {{"--chorus=harmony", "--scale", "major", "--singers", "4"}, harmony}};
    for (const Case& c : cases) {
        std::string firstBytes;
        for (const std::string name : {"first.wav", "second.wav"}) {
            Strings arguments = c.options;
            arguments.insert(arguments.end(), {"-q", in, folder / name});
            ASSERT_EQ(runTool(arguments).exitCode, 0);
            const std::string bytes = readBytes(folder / name);
            if (firstBytes.empty()) {
                firstBytes = bytes;
            }
            EXPECT_EQ(bytes, firstBytes) << name;
        }
        const SoundFile wav = readSoundFile(folder / "first.wav");
        EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(wav.info.channels, 2);
        EXPECT_EQ(wav.info.samplerate, 44100);
        const std::vector<float> expected = coreSamples(kRecording, c.settings);
        ASSERT_EQ(wav.samples.size(), expected.size());
        EXPECT_EQ(std::memcmp(wav.samples.data(), expected.data(), expected.size() * sizeof(float)),
                  0);
        bool channelsDiffer = false;
        for (std::size_t i = 0; i + 1 < expected.size(); i += 2) {
            channelsDiffer = channelsDiffer || expected[i] != expected[i + 1];
        }
        EXPECT_TRUE(channelsDiffer) << "the singers stand apart, left to right";

        for (const std::string extension : {"flac", "ogg", "aiff", "au", "caf", "w64", "mp3"}) {
            Strings arguments = c.options;
            arguments.insert(arguments.end(), {"-q", in, folder / ("out." + extension)});
            ASSERT_EQ(runTool(arguments).exitCode, 0) << extension;
            const SoundFile file = readSoundFile(folder / ("out." + extension));
            EXPECT_EQ(file.info.channels, 2) << extension;
        }
        Strings piped = c.options;
        piped.insert(piped.end(), {"-q", "--type", "wav", in, "-"});
        const ToolRun run = runTool(piped);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, firstBytes);
        Strings flac = c.options;
        flac.insert(flac.end(), {"-q", "--type", "flac", in, "-"});
        writeBytes(folder / "piped.flac", runTool(flac).out);
        EXPECT_EQ(readSoundFile(folder / "piped.flac").info.channels, 2);

        // A file with two names is rewritten in place: both names hold the chorus.
        writeBytes(folder / "linked.wav", "old");
        fs::remove(folder / "twin.wav");
        fs::create_hard_link(folder / "linked.wav", folder / "twin.wav");
        Strings linked = c.options;
        linked.insert(linked.end(), {"-q", in, folder / "linked.wav"});
        EXPECT_EQ(runTool(linked).exitCode, 0);
        EXPECT_EQ(readBytes(folder / "twin.wav"), firstBytes);
    }
    // Normalised, the louder of the two channels peaks at -1 dBFS.
    ASSERT_EQ(runTool({"--normalize", "--chorus", "harmony", in, folder / "normal.wav"}).exitCode,
              0);
    EXPECT_NEAR(peakOf(readSoundFile(folder / "normal.wav").samples), std::pow(10.0, -1.0 / 20.0),
                1e-6);
}

// A few notes, then the last one held for two seconds; the held note starts at kHeldMs.
constexpr int kHeldMs = 600;
const Strings kHeldRecording{"40;80;0;0",    "90;80;0;200",   "140;80;0;400",
                             "200;80;0;600", "200;80;0;2600", "200;80;1;2610"};
// Where the held note is measured, from its tick: after every singer's onset (at most 40 ms
// late) and the glide, and ending before the singers' vibrato (which starts 300 ms after a note
// settles).
constexpr std::size_t kHeldWindowDelay = 120 * 44100 / 1000;
constexpr std::size_t kHeldWindowFrames = 300 * 44100 / 1000; // 300 ms: 6.7 Hz wide peaks

// The tick on which the held note starts, as playback reports it with these settings.
PlayedTick heldNoteTick(const RenderSettings& settings) {
    const Recording recording(kHeldRecording);
    const std::optional<RenderPlan> plan = planRender(recording, settings.playSpeed);
    PlayedTick held;
    if (!plan) {
        ADD_FAILURE() << "the recording does not end";
        return held;
    }
    playRecording(recording, settings, *plan,
                  [&](const PlayedTick& played) {
                      if (held.tick == 0 && played.tick >= kHeldMs &&
                          played.step.action == PlaybackAction::Sound) {
                          held = played;
                      }
                  },
                  {});
    EXPECT_GT(held.tick, 0) << "no Sound tick at the held note";
    return held;
}

// The magnitude of one channel (0 left, 1 right) of interleaved stereo (or, for channel 0 of
// 1, of mono) at frequencyHz, Hann-windowed over the held note's window.
double magnitudeAt(const std::vector<float>& samples, std::size_t channels, std::size_t channel,
                   std::size_t start, double frequencyHz) {
    const double step = 2.0 * M_PI * frequencyHz / 44100.0;
    double re = 0.0;
    double im = 0.0;
    for (std::size_t n = 0; n < kHeldWindowFrames; ++n) {
        const double hann =
            0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(n) / kHeldWindowFrames);
        const double x = hann * samples[(start + n) * channels + channel];
        re += x * std::cos(step * static_cast<double>(n));
        im -= x * std::sin(step * static_cast<double>(n));
    }
    return std::hypot(re, im);
}

// The frequency of the highest spectral peak within 60 cents of nearHz, in 0.5-cent steps;
// nothing when the highest point is at either end (no peak of its own there).
std::optional<double> peakNearHz(const std::vector<float>& samples, std::size_t channels,
                                 std::size_t channel, std::size_t start, double nearHz) {
    constexpr int kSteps = 120; // each way, 0.5 cents apart
    int best = -kSteps;
    double bestMagnitude = -1.0;
    for (int i = -kSteps; i <= kSteps; ++i) {
        const double magnitude =
            magnitudeAt(samples, channels, channel, start, nearHz * std::exp2(i / 2400.0));
        if (magnitude > bestMagnitude) {
            bestMagnitude = magnitude;
            best = i;
        }
    }
    if (best == -kSteps || best == kSteps) {
        return std::nullopt;
    }
    return nearHz * std::exp2(best / 2400.0);
}

// Each channel of a Harmony render in Major holds the four parts' fundamentals where the
// render's ticks say they sing, within 25 cents: room for a singer's own detune, fixed by its
// seed (15 cents standard deviation).
TEST(RenderToolChorus, AHeldHarmonyNoteSoundsEachPartsPitchInBothChannels) {
    const Folder folder;
    const std::string in = saveRecording(folder, kHeldRecording);
    ASSERT_EQ(
        runTool({"--chorus", "harmony", "--scale", "major", in, folder / "held.wav"}).exitCode, 0);
    const SoundFile wav = readSoundFile(folder / "held.wav");
    ASSERT_EQ(wav.info.channels, 2);

    RenderSettings settings;
    settings.scaleMode = ScaleMode::Major;
    settings.chorus = ChorusMode::Harmony;
    const PlayedTick held = heldNoteTick(settings);
    const std::array<double, kChorusParts>& heldHz = held.partPitchHz;
    EXPECT_EQ(heldHz[0], held.pitchHz) << "the soprano is the drawn line";
    for (std::size_t part = 0; part < kChorusParts; ++part) {
        ASSERT_GT(heldHz[part], 0.0) << part;
        if (part > 0) {
            EXPECT_GT(heldHz[part - 1], heldHz[part]) << "parts from the top down, apart";
        }
    }
    const auto start = static_cast<std::size_t>(held.sampleIndex) + kHeldWindowDelay;
    ASSERT_GE(wav.samples.size(), 2 * (start + kHeldWindowFrames));
    for (std::size_t channel = 0; channel < 2; ++channel) {
        for (std::size_t part = 0; part < kChorusParts; ++part) {
            const std::optional<double> peakHz =
                peakNearHz(wav.samples, 2, channel, start, heldHz[part]);
            ASSERT_TRUE(peakHz) << "channel " << channel << " part " << part;
            std::cerr << "channel " << channel << " part " << part << " at " << heldHz[part]
                      << " Hz: " << centsBetween(*peakHz, heldHz[part]) << " cents\n";
            EXPECT_LE(std::fabs(centsBetween(*peakHz, heldHz[part])), 25.0)
                << "channel " << channel << " part " << part << " at " << heldHz[part] << " Hz";
        }
    }
}

// How much of a harmonic's energy lies within 8 cents of it, of all within 60 cents (0..1):
// near 1 for one voice, less as singers spread around the pitch.
double harmonicConcentration(const std::vector<float>& samples, std::size_t channels,
                             std::size_t start, double harmonicHz) {
    double near = 0.0;
    double all = 0.0;
    for (int cents = -60; cents <= 60; ++cents) {
        double power = 0.0;
        for (std::size_t channel = 0; channel < channels; ++channel) {
            power += std::pow(magnitudeAt(samples, channels, channel, start,
                                          harmonicHz * std::exp2(cents / 1200.0)),
                              2);
        }
        all += power;
        near += std::abs(cents) <= 8 ? power : 0.0;
    }
    return near / all;
}

// Four singers a part in Unison spread around the voice's pitch: a harmonic's peak is wider
// than the voice alone's.
TEST(RenderToolChorus, FourSingersAPartInUnisonWidenTheHeldNotesPeak) {
    const Folder folder;
    const std::string in = saveRecording(folder, kHeldRecording);
    ASSERT_EQ(runTool({in, folder / "solo.wav"}).exitCode, 0);
    ASSERT_EQ(runTool({"--chorus", "unison", "--singers", "4", in, folder / "choir.wav"}).exitCode,
              0);
    const SoundFile solo = readSoundFile(folder / "solo.wav");
    const SoundFile choir = readSoundFile(folder / "choir.wav");
    ASSERT_EQ(choir.info.channels, 2);

    const PlayedTick held = heldNoteTick({});
    ASSERT_GT(held.pitchHz, 0.0);
    const auto start = static_cast<std::size_t>(held.sampleIndex) + kHeldWindowDelay;
    // The fundamental's peak is too wide in this window to tell singers 15 cents apart.
    constexpr std::array<int, 4> kHarmonics{2, 3, 4, 5};
    double soloShare = 0.0;
    double choirShare = 0.0;
    for (const int harmonic : kHarmonics) {
        soloShare += harmonicConcentration(solo.samples, 1, start, harmonic * held.pitchHz) /
                     kHarmonics.size();
        choirShare += harmonicConcentration(choir.samples, 2, start, harmonic * held.pitchHz) /
                      kHarmonics.size();
    }
    std::cerr << "within 8 cents of the harmonics: solo " << soloShare << ", unison of 16 "
              << choirShare << "\n";
    EXPECT_GT(soloShare, 0.95);
    EXPECT_LT(choirShare, soloShare - 0.2);
}

} // namespace
} // namespace doodle
