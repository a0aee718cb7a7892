#pragma once

#include "recording/Recording.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace doodle {

inline constexpr std::string_view kRecordingExtension = ".sav";

// Splits the bytes of a recording file into lines, fed in pieces of any size. A line ends at
// CR, LF, CR LF or a zero byte; the end is not part of the line and a zero byte is dropped.
// Bytes are kept as they are (no decoding) and lines have no length limit. A file ending in a
// line end yields no extra empty line; two line ends in a row yield an empty one.
class LineSplitter {
public:
    explicit LineSplitter(Recording& recording) noexcept : m_recording(recording) {}

    void feed(std::string_view bytes);
    // The end of the file: keeps a last line that has no line end.
    void finish();

private:
    Recording& m_recording;
    std::string m_partial{}; // the line read so far, not yet ended
    bool m_afterCr = false;  // the last byte fed was a CR: an LF next belongs to it
};

// All lines of the bytes of one file.
Recording splitRecordingLines(std::string_view bytes);

// The recording's lines, each followed by CR LF: the bytes of its file.
std::vector<uint8_t> recordingFileBytes(const Recording& recording);

} // namespace doodle
