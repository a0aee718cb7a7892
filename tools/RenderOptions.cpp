#include "tools/RenderOptions.h"

#include "files/Quoted.h"
#include "program/Captions.h"
#include "recording/AsciiCase.h"
#include "recording/MidiFormat.h"

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
constexpr std::string_view kTuning = "--tuning";
constexpr std::string_view kChorus = "--chorus";
constexpr std::string_view kSingers = "--singers";
constexpr std::string_view kType = "--type";
constexpr std::string_view kBits = "--bits";
constexpr std::string_view kChannel = "--channel";
constexpr std::string_view kVowel = "--vowel";
constexpr std::string_view kLink = "--link";
constexpr std::string_view kQuiet = "--quiet";
constexpr std::string_view kQuietShort = "-q";
constexpr std::size_t kFileCount = 2; // IN.sav and OUT
constexpr int32_t kIntegerBits16 = 16;
constexpr int32_t kIntegerBits24 = 24;

struct ScaleName {
    std::string_view name{};
    ScaleMode mode = ScaleMode::Unrestricted;
};
constexpr std::array<ScaleName, 4> kScaleNames{{{"unrestricted", ScaleMode::Unrestricted},
                                                {"major", ScaleMode::Major},
                                                {"minor", ScaleMode::Minor},
                                                {"pentatonic", ScaleMode::Pentatonic}}};

struct ChorusName {
    std::string_view name{};
    ChorusMode mode = ChorusMode::Solo;
};
constexpr std::array<ChorusName, 3> kChorusNames{
    {{"solo", ChorusMode::Solo}, {"unison", ChorusMode::Unison}, {"harmony", ChorusMode::Harmony}}};

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

// A whole number in first..last, written in plain decimal.
std::optional<int32_t> parseWholeIn(std::string_view text, int32_t first, int32_t last) noexcept {
    int32_t value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < first || value > last) {
        return std::nullopt;
    }
    return value;
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
// Whether a --type or --bits value fits the output is decided with the output.
std::string applyValue(std::string_view option, std::string_view value, RenderOptions& options) {
    RenderSettings& settings = options.settings;
    if (option == kType) {
        if (value.empty()) {
            return "--type needs a format, as wav or mid (see --help)";
        }
        options.type = value;
    } else if (option == kBits) {
        if (value != "16" && value != "24") {
            return "--bits takes 16 or 24, not " + inQuotes(value);
        }
        options.bits = value == "16" ? kIntegerBits16 : kIntegerBits24;
    } else if (option == kLink) {
        if (value.empty()) {
            return "--link needs the web page's address (see --help)";
        }
        options.linkPageUrl = value;
    } else if (option == kChannel) {
        options.midiChannel = parseWholeIn(value, 1, kMidiChannels);
        if (!options.midiChannel) {
            return "--channel takes a MIDI channel from 1 to 16, not " + inQuotes(value);
        }
    } else if (option == kVowel) {
        options.vowelRow = parseWholeIn(value, 0, kMaxPointY);
        if (!options.vowelRow) {
            return "--vowel takes a row of the drawing area from 0 (top) to 200, not " +
                   inQuotes(value);
        }
    } else if (option == kSpeed) {
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
    } else if (option == kChorus) {
        const auto found = std::ranges::find_if(kChorusNames, [&](const ChorusName& c) {
            return equalsIgnoringAsciiCase(c.name, value);
        });
        if (found == kChorusNames.end()) {
            return "--chorus takes solo, unison or harmony, not " + inQuotes(value);
        }
        settings.chorus = found->mode;
    } else if (option == kSingers) {
        if (value != "1" && value != "2" && value != std::to_string(kMaxSingersPerPart)) {
            return "--singers takes 1, 2 or 4, not " + inQuotes(value);
        }
        options.singers = value == "1" ? 1 : value == "2" ? 2 : kMaxSingersPerPart;
    } else if (option == kTuning) {
        if (equalsIgnoringAsciiCase(value, tuningWord(Tuning::Classic))) {
            settings.tuning = Tuning::Classic;
        } else if (equalsIgnoringAsciiCase(value, tuningWord(Tuning::Concert))) {
            settings.tuning = Tuning::Concert;
        } else {
            return "--tuning takes " + tuningWord(Tuning::Classic) + " or " +
                   tuningWord(Tuning::Concert) + ", not " + inQuotes(value);
        }
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

// With --link, IN is the only file, and the options that shape OUT have nothing to shape.
ParsedOptions withLinkInput(const std::vector<std::string_view>& files, ParsedOptions& parsed) {
    const RenderOptions& options = parsed.options;
    if (!options.type.empty() || options.bits || options.normalize) {
        parsed.error = "--link writes no file: --type, --bits and --normalize do not go with it";
    } else if (options.settings.chorus != ChorusMode::Solo) {
        parsed.error = "--link opens the recording in the page, which sings the voice alone: "
                       "--chorus and --singers do not go with it";
    } else if (files.empty()) {
        parsed.error = "missing the recording IN.sav (see --help)";
    } else if (files.size() > 1) {
        parsed.error = "--link takes one recording and no OUT, not also " + inQuotes(files[1]);
    } else {
        parsed.options.inputPath = files[0];
    }
    return parsed;
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
        if (argument == kQuiet || argument == kQuietShort) {
            parsed.options.quiet = true;
            continue;
        }
        const std::size_t separator = argument.find(kValueSeparator);
        const std::string_view option = argument.substr(0, separator);
        const bool known =
            argument.starts_with(kLongPrefix) &&
            (option == kSpeed || option == kVoice || option == kScale || option == kRoot ||
             option == kTuning || option == kChorus || option == kSingers || option == kType ||
             option == kBits || option == kChannel || option == kVowel || option == kLink);
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
        parsed.error = applyValue(option, value, parsed.options);
        if (!parsed.error.empty()) {
            return parsed;
        }
    }
    RenderOptions& options = parsed.options;
    if (options.singers && options.settings.chorus == ChorusMode::Solo) {
        parsed.error = "--singers sets the singers of each part of a chorus; with the voice "
                       "alone (--chorus solo, the default) there are none";
        return parsed;
    }
    options.settings.singersPerPart = options.singers.value_or(RenderSettings{}.singersPerPart);
    if (!options.linkPageUrl.empty()) {
        return withLinkInput(files, parsed);
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
        "Usage: " + std::string(kRenderProgramName) + " [OPTION]... IN OUT\n" +
        "  or:  " + std::string(kRenderProgramName) + " --link URL [OPTION]... IN\n" +
        "Sings a DoodleChorus recording (IN.sav) into a sound file, as the program"
        " plays\nit back right after start-up, only faster than real time, or writes"
        " what it\nplays as a MIDI file. IN may also be a Standard MIDI File, known by"
        " its first\nbytes whatever its name, sung as a keyboard would play the program"
        " (see below).\nIN - reads standard input; OUT - writes to standard output, in"
        " the format\n--type names.\n"
        "\n"
        "  --speed S      play speed from 1.0 to 5.0 (default 1.0); the program's"
        " slider\n"
        "                 goes in tenths\n"
        "  --voice 1|2    voice type, as Voice > Type 1 or Type 2 (default 1)\n"
        "  --scale MODE   unrestricted, major, minor or pentatonic"
        " (default unrestricted)\n"
        "  --root NOTE    root of the scale, one of " +
        noteList() +
        "\n"
        "                 (default C)\n"
        "  --tuning T     the scale modes' tuning, as Voice > Tuning: " +
        tuningWord(Tuning::Classic) +
        " (the\n"
        "                 program's own, a major third below the names) or " +
        tuningWord(Tuning::Concert) +
        "\n"
        "                 (A4 = 440 Hz, notes sound as named); default " +
        tuningWord(Tuning::Classic) +
        ";\n"
        "                 unrestricted is the same under both\n"
        "  --chorus C     solo (the voice alone, the default), unison (a choir sings the\n"
        "                 drawn line with the voice) or harmony (the drawn line on top,\n"
        "                 alto, tenor and bass below it in the scale); a chorus is stereo\n"
        "  --singers N    a chorus's singers in each of its four parts: 1, 2 or 4\n"
        "                 (default 1; unison sings with 4, 8 or 16), each a little apart\n"
        "                 in pitch, time and place\n"
        "  --channel N    a MIDI file's channel to sing (1 to 16), from all of its"
        " tracks\n"
        "                 (default: the channel of the first note off channel 10, the\n"
        "                 drums', in the first track with one; named on stderr when\n"
        "                 other channels hold notes too)\n"
        "  --vowel Y      sing a MIDI file on row Y (0 top to 200 bottom) instead of"
        " its\n"
        "                 controllers 74 and 1\n"
        "  --type FORMAT  the format, named by its extension without the dot (wav,"
        " flac,\n"
        "                 ogg, oga, mp3, aiff, aif, au, caf, w64, mid, sav), whatever\n"
        "                 OUT's extension; needed with OUT -\n"
        "  --bits 16|24   integer samples in .wav, .aiff and .flac (default: 32-bit"
        " float,\n"
        "                 24-bit in .flac); peaks beyond full scale are clipped\n"
        "  --normalize    scale the sound so that its peak is at -1 dBFS (sound files"
        " only)\n"
        "  --link URL     print a link to the web page at URL that opens IN with the\n"
        "                 --speed, --voice, --scale and --root settings, and write no\n"
        "                 file (see below)\n"
        "  -q, --quiet    print no warning, no channel picked and no progress; errors\n"
        "                 still print, and where the complete render is before a\n"
        "                 rewrite in place\n"
        "  --help         show this help and exit\n"
        "  --version      show the version and exit\n"
        "\n"
        "OUT's extension (or --type) picks the format; sound files are at 44100 Hz,\n"
        "mono, or stereo with --chorus unison or harmony:\n";
    usage += formatLines;
    usage += "\n"
             "Standard output takes the formats that need no seeking back: wav (32-bit\n"
             "float), flac, ogg, oga, au, mid and sav.\n"
             "\n"
             "A .mid file holds the notes as they sound (the program's C is G#1, MIDI note\n"
             "32), sung by General MIDI program 53 \"Choir Aahs\" for voice type 1 and 54\n"
             "\"Voice Oohs\" for voice type 2: whole notes in the scale modes; in\n"
             "unrestricted, one note per stroke, the one nearest the middle of its pitches,\n"
             "whose pitch bend (range +-24 semitones) follows the drawing; only a stroke\n"
             "wider than the bend range is cut into more notes. The vowel is controller 74,\n"
             "from 127 at the top of the drawing area to 0 at the bottom; the channel volume\n"
             "(controller 7) is 127 from the start. One tick is one millisecond (500 ticks\n"
             "per quarter note at 120 bpm).\n"
             "\n"
             "IN holds the recording's lines, each four decimal numbers joined by \";\"\n"
             "(x;y;released;milliseconds, as 120;45;0;1532), as the program saves them. An\n"
             "input with no such line, an empty one included, is refused; lines of another\n"
             "form among them play as the program plays them, after a warning. At most\n" +
             std::to_string(kMaxInputMebibytes) + " MiB and " + std::to_string(kMaxInputLines) +
             " lines are read (a million lines is over two hours of\n"
             "drawing); a larger input is refused.\n"
             "\n"
             "A link (--link) holds the recording itself, compressed, after the \"#\" of the\n"
             "address, which browsers never send to a server: \"URL#dc=2&r=...&s=N\". A\n"
             "recording not exactly as the program saves it goes in the page's older, longer\n"
             "form, \"URL#dc=1&rec=...\". The speed goes to the nearest tenth, the grid is\n"
             "off.\n"
             "\n"
             "A MIDI file in (format 0 or 1; format 2 and malformed files are refused)"
             " is\nsung with one voice: the newest held note sounds, and releasing it"
             " goes back to\nthe one held before, and the sustain pedal (controller 64)"
             " holds notes let go\nuntil it is let up; pitch bend within the range RPN 0"
             " sets (+-2 semitones\nuntil then); controller 74 or 1 sets the vowel"
             " (127 the top row, 0 the bottom;\n64 until one comes) unless --vowel"
             " fixes it. Velocity does nothing. A note\nsounds where the scale"
             " options put it: on the strip of the nearest scale note,\nor in"
             " unrestricted on the nearest of the area's 2.5 Hz steps (up to 82"
             " cents\naway at 25 Hz, 8 at 275 Hz); notes beyond the area sound at"
             " its edge.\n"
             "\n"
             "The same recording and options always give the same bytes on one machine (a\n"
             "processor without FMA may differ in the last bit of rare samples). On success\n"
             "nothing is printed but warnings on stderr: of lines that are not recording\n"
             "lines, and of a sound that passes full scale; and the channel a MIDI file is\n"
             "sung on, when the tool picked it among others with notes. A voice that\n"
             "runs away (vowels switched about every millisecond can drive its samples to\n"
             "infinity) is an error that gives the time it happens. On an error one line\n"
             "goes to stderr, the exit status is 2 and no file is left behind: a file\n"
             "already named OUT stays as it was.\n";
    return usage;
}

} // namespace doodle
