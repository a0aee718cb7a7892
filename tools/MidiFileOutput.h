#pragma once

#include <string>
#include <string_view>

namespace doodle {

// OUT's extension for a Standard MIDI File, lower case, with its dot.
inline constexpr std::string_view kMidiExtension = ".mid";

// Whether a file name asks for a MIDI file, in any case.
bool isMidiFileName(std::string_view fileName) noexcept;
// Whether --type names a MIDI file ("mid"), in any case.
bool isMidiType(std::string_view type) noexcept;
// Its line of --help.
std::string midiFormatLine();

} // namespace doodle
