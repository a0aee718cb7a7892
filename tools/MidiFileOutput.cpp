#include "tools/MidiFileOutput.h"

#include "recording/AsciiCase.h"
#include "tools/SoundFileOutput.h"

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

} // namespace doodle
