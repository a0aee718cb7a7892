#include "tools/MidiFileOutput.h"

#include "tools/Quoted.h"
#include "tools/SoundFileOutput.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace doodle {

bool isMidiFileName(std::string_view fileName) noexcept {
    return hasExtension(fileName, kMidiExtension);
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
    m_displayPath = path;
    const ReplaceOpen opened = m_file.open(path, kRenderTempPrefix);
    if (opened != ReplaceOpen::Created) {
        return fail(replaceOpenFailure(opened, path));
    }
    return true;
}

bool MidiFileOutput::write(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(m_file.fd(), bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (count == 0) {
                errno = EIO; // write() made no progress and gave no reason
            }
            return fail("cannot write " + inQuotes(m_displayPath) + ": " + std::strerror(errno));
        }
        bytes = bytes.subspan(static_cast<std::size_t>(count));
    }
    return true;
}

bool MidiFileOutput::commit() {
    if (!m_file.commit()) {
        return fail("cannot write " + inQuotes(m_displayPath) + ": " + std::strerror(errno));
    }
    return true;
}

} // namespace doodle
