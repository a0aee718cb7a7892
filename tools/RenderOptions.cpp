#include "tools/RenderOptions.h"

#include "recording/AsciiCase.h"
#include "tools/Quoted.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

namespace doodle {
namespace {

constexpr std::string_view kOptionsEnd = "--";
constexpr std::string_view kLongPrefix = "--";
constexpr char kValueSeparator = '=';
constexpr std::string_view kHelp = "--help";
constexpr std::string_view kHelpShort = "-h";
constexpr std::string_view kVersion = "--version";
constexpr std::string_view kNormalize = "--normalize";
constexpr std::string_view kSpeed = "--speed";
constexpr std::string_view kVoice = "--voice";
constexpr std::string_view kScale = "--scale";
constexpr std::string_view kRoot = "--root";
constexpr std::size_t kFileCount = 2; // IN.sav and OUT

struct ScaleName {
    std::string_view name{};
    ScaleMode mode = ScaleMode::Unrestricted;
};
constexpr std::array<ScaleName, 4> kScaleNames{{{"unrestricted", ScaleMode::Unrestricted},
                                                {"major", ScaleMode::Major},
                                                {"minor", ScaleMode::Minor},
                                                {"pentatonic", ScaleMode::Pentatonic}}};

std::optional<double> parseSpeed(std::string_view text) noexcept {
    double speed = 0.0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, speed);
    if (error != std::errc() || stop != end ||
        !(speed >= kMinPlaySpeed && speed <= kMaxPlaySpeed)) {
        return std::nullopt;
    }
    return speed;
}

std::string noteList() {
    std::string list;
    for (const std::string_view name : noteNames) {
        list += list.empty() ? "" : " ";
        list += name;
    }
    return list;
}

// Applies one option's value; the error text when the value is not one the option takes.
std::string applyValue(std::string_view option, std::string_view value, RenderSettings& settings) {
    if (option == kSpeed) {
        const std::optional<double> speed = parseSpeed(value);
        if (!speed) {
            return "--speed takes a number from 1.0 to 5.0, not " + inQuotes(value);
        }
        settings.playSpeed = *speed;
    } else if (option == kVoice) {
        if (value != "1" && value != "2") {
            return "--voice takes 1 or 2, not " + inQuotes(value);
        }
        settings.voiceType = value == "2" ? VoiceType::Type2 : VoiceType::Type1;
    } else if (option == kScale) {
        const auto found = std::ranges::find_if(kScaleNames, [&](const ScaleName& s) {
            return equalsIgnoringAsciiCase(s.name, value);
        });
        if (found == kScaleNames.end()) {
            return "--scale takes unrestricted, major, minor or pentatonic, not " + inQuotes(value);
        }
        settings.scaleMode = found->mode;
    } else {
        const auto found = std::ranges::find_if(
            noteNames, [&](std::string_view name) { return equalsIgnoringAsciiCase(name, value); });
        if (found == noteNames.end()) {
            return "--root takes one of " + noteList() + ", not " + inQuotes(value);
        }
        settings.rootIndex = static_cast<int32_t>(found - noteNames.begin());
    }
    return {};
}

} // namespace

ParsedOptions parseRenderOptions(std::span<const char* const> arguments) {
    ParsedOptions parsed;
    std::vector<std::string_view> files;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        const bool isOption = !optionsEnded && argument.size() > 1 && argument.front() == '-';
        if (!isOption) {
            files.push_back(argument);
            continue;
        }
        if (argument == kOptionsEnd) {
            optionsEnded = true;
            continue;
        }
        if (argument == kHelp || argument == kHelpShort) {
            parsed.options.helpWanted = true;
            return parsed;
        }
        if (argument == kVersion) {
            parsed.options.versionWanted = true;
            return parsed;
        }
        if (argument == kNormalize) {
            parsed.options.normalize = true;
            continue;
        }
        const std::size_t separator = argument.find(kValueSeparator);
        const std::string_view option = argument.substr(0, separator);
        const bool known =
            argument.starts_with(kLongPrefix) &&
            (option == kSpeed || option == kVoice || option == kScale || option == kRoot);
        if (!known) {
            parsed.error = "unknown option " + inQuotes(argument) + " (see --help)";
            return parsed;
        }
        std::string_view value;
        if (separator != std::string_view::npos) {
            value = argument.substr(separator + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            parsed.error = std::string(option) + " needs a value (see --help)";
            return parsed;
        }
        parsed.error = applyValue(option, value, parsed.options.settings);
        if (!parsed.error.empty()) {
            return parsed;
        }
    }
    if (files.size() < kFileCount) {
        parsed.error = files.empty() ? "missing the recording IN.sav and the sound file OUT"
                                     : "missing the sound file OUT";
        parsed.error += " (see --help)";
        return parsed;
    }
    if (files.size() > kFileCount) {
        parsed.error =
            "one recording and one sound file only, not also " + inQuotes(files[kFileCount]);
        return parsed;
    }
    parsed.options.inputPath = files[0];
    parsed.options.outputPath = files[1];
    return parsed;
}

std::string renderUsage(std::string_view formatLines) {
    std::string usage =
        "Usage: " + std::string(kRenderProgramName) +
        " [OPTION]... IN.sav OUT\n"
        "Sings a DoodleChorus recording into a sound file, as the program plays it"
        " back\nright after start-up, only faster than real time, or writes what it"
        " plays as a\nMIDI file.\n"
        "\n"
        "  --speed S     play speed from 1.0 to 5.0 (default 1.0); the program's"
        " slider\n"
        "                goes in tenths\n"
        "  --voice 1|2   voice type, as Voice > Type 1 or Type 2 (default 1)\n"
        "  --scale MODE  unrestricted, major, minor or pentatonic"
        " (default unrestricted)\n"
        "  --root NOTE   root of the scale, one of " +
        noteList() +
        "\n"
        "                (default C)\n"
        "  --normalize   scale the sound so that its peak is at -1 dBFS (sound files"
        " only)\n"
        "  --help        show this help and exit\n"
        "  --version     show the version and exit\n"
        "\n"
        "OUT's extension picks the format; sound files are mono at 44100 Hz:\n";
    usage += formatLines;
    usage += "\n"
             "A .mid file holds the notes as they sound (the program's C is G#1, MIDI note\n"
             "32): whole notes in the scale modes; in unrestricted, one note per stroke\n"
             "whose pitch bend (range +-24 semitones) follows the drawing, and a new note\n"
             "only where the bend runs out. The vowel is controller 74, from 127 at the\n"
             "top of the drawing area to 0 at the bottom. One tick is one millisecond\n"
             "(500 ticks per quarter note at 120 bpm).\n"
             "\n"
             "The same recording and options always give the same bytes. On success nothing\n"
             "is printed, but for one warning line on stderr when the sound passes full\n"
             "scale. On an error one line goes to stderr, the exit status is 2 and no file\n"
             "is left behind: a file already named OUT stays as it was.\n";
    return usage;
}

} // namespace doodle
