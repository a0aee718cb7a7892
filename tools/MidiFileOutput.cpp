#include "tools/MidiFileOutput.h"

#include "recording/AsciiCase.h"
#include "recording/WriteAll.h"
#include "tools/SoundFileOutput.h"

#include <utility>

namespace doodle {

bool isMidiFileName(std::string_view fileName) noexcept {
    return hasExtension(fileName, kMidiExtension);
}

bool isMidiType(std::string_view type) noexcept {
    return equalsIgnoringAsciiCase(kMidiExtension.substr(1), type);
}

std::string midiFormatLine() {
    return formatLine(kMidiExtension,
                      "Standard MIDI File of the notes as played, not a sound (up to 74 hours)");
}

bool MidiFileOutput::fail(std::string reason) {
    m_error = std::move(reason);
    discard();
    return false;
}

bool MidiFileOutput::open(const std::string& path) {
    // Only ever written from the start: a file the user may write but not read is rewritten.
    return m_file.open(path, ReplaceAccess::WriteOnly) || fail(m_file.error());
}

bool MidiFileOutput::write(std::span<const uint8_t> bytes) {
    return writeAll(m_file.fd(), std::as_bytes(bytes)) || fail(m_file.systemFailure());
}

bool MidiFileOutput::commit() {
    return m_file.commit() || fail(m_file.error());
}

} // namespace doodle
