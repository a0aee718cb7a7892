#pragma once

#include "recording/Recording.h"

#include <cstddef>
#include <cstdint>
#include <span>
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

// The bytes of a recording's file, written a piece at a time into buffers of any size, each
// piece in time proportional to its size: an audio thread can hand over a recording of any size
// a few pieces at a time. The lines the recording held when the writer was made must stay as
// they are until it is done (lines appended meanwhile are left out).
class RecordingFileWriter {
public:
    explicit RecordingFileWriter(const Recording& recording) noexcept;

    // The whole file, bytes.
    std::size_t size() const noexcept { return m_size; }
    // Writes the next bytes into `out`, as many as fit, and says how many: 0 once all are written.
    std::size_t write(std::span<uint8_t> out) noexcept;

private:
    const Recording& m_recording;
    std::size_t m_textEnd = 0;    // the stored text's size when the writer was made
    std::size_t m_textAt = 0;     // the next byte of stored text to write
    std::size_t m_lineEndDue = 0; // bytes of the current line's end (CR LF) not yet written
    std::size_t m_size = 0;
};

} // namespace doodle
