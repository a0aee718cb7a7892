#pragma once

#include "recording/OfflineRender.h"

#include <span>
#include <string>
#include <string_view>

namespace doodle {

inline constexpr std::string_view kRenderProgramName = "doodlechorus-render";
// The project's version, from CMake's PROJECT_VERSION.
inline constexpr std::string_view kRenderProgramVersion = DC_VERSION;
// The peak of a sound rendered with --normalize, dB relative to full scale.
inline constexpr double kNormalizedPeakDbfs = -1.0;

// What the command line asks for.
struct RenderOptions {
    RenderSettings settings{};
    std::string inputPath{};    // the recording, a .sav file
    std::string outputPath{};   // the sound or MIDI file; its extension picks the format
    bool helpWanted = false;    // --help: print the usage and nothing else
    bool versionWanted = false; // --version: print the name and version and nothing else
    bool normalize = false;     // --normalize: scale the sound so that it peaks at -1 dBFS
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
