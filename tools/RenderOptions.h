#pragma once

#include "recording/OfflineRender.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace doodle {

inline constexpr std::string_view kRenderProgramName = "doodlechorus-render";
// The project's version, from CMake's PROJECT_VERSION.
inline constexpr std::string_view kRenderProgramVersion = DC_VERSION;
// The most input the tool reads, past which it stops: an hour of drawing without a pause is
// about 450,000 lines and 9 MiB at 125 mouse-move reports a second; these hold 18 such hours
// (a million lines, 20 MiB, is over two). A line costs its text and 17 bytes in memory, so an
// endless input costs at most about 400 MiB before it is refused.
inline constexpr std::size_t kMaxInputMebibytes = 128;
inline constexpr std::size_t kMaxInputBytes = kMaxInputMebibytes << 20;
inline constexpr std::size_t kMaxInputLines = std::size_t{8} << 20; // 8,388,608

// What the command line asks for.
struct RenderOptions {
    RenderSettings settings{};
    std::string inputPath{};  // the recording, a .sav or MIDI file; "-" for standard input
    std::string outputPath{}; // the sound or MIDI file; "-" for standard output
    // --type: the format by its extension without the dot ("wav", "mid"), in place of the
    // output's extension; empty when not given.
    std::string type{};
    std::optional<int32_t> bits{}; // --bits: integer samples of this many bits
    // --singers, as given: settings.singersPerPart holds it once the command line is read;
    // kept to refuse it with the voice alone.
    std::optional<int32_t> singers{};
    bool helpWanted = false;    // --help: print the usage and nothing else
    bool versionWanted = false; // --version: print the name and version and nothing else
    bool normalize = false;     // --normalize: scale the sound so that it peaks at -1 dBFS
    bool quiet = false; // -q, --quiet: no warning, no progress; errors and kept copies print
    // --channel: the MIDI channel (1..16) a MIDI input sings; nothing for the first with notes.
    std::optional<int32_t> midiChannel{};
    std::optional<int32_t> vowelRow{}; // --vowel: the row (0..200) a MIDI input sings on
    // --link URL: print a link to the web page at URL that opens the recording with the
    // settings, rather than write OUT; empty when not given.
    std::string linkPageUrl{};
};

// The command line read, or why it cannot be: `error` is one line without the program's name,
// empty when `options` holds. Options and the two file names may come in any order; "--"
// ends the options; "--name=value" works as "--name value"; a later option wins.
struct ParsedOptions {
    RenderOptions options{};
    std::string error{};
};
ParsedOptions parseRenderOptions(std::span<const char* const> arguments);

// The text of --help, ending in a line end; `formatLines` lists the output formats.
std::string renderUsage(std::string_view formatLines);

} // namespace doodle
