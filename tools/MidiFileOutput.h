#pragma once

#include "tools/OutputFile.h"

#include <cstdint>
#include <span>
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

// A MIDI file's bytes written into an OutputFile, a named file or standard output. Every
// write is checked; every failure leaves one line, the reason, in error().
class MidiFileOutput {
public:
    bool open(const std::string& path);
    bool write(std::span<const uint8_t> bytes);
    // Syncs the file and gives it its final name.
    bool commit();
    // Drops the temporary file; the final name is left as it was.
    void discard() noexcept { m_file.discard(); }

    const std::string& error() const noexcept { return m_error; }

private:
    bool fail(std::string reason);

    OutputFile m_file{};
    std::string m_error{};
};

} // namespace doodle
