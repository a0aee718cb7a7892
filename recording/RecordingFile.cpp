#include "recording/RecordingFile.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace doodle {
namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr std::string_view kLineEnd = "\r\n";

constexpr bool isLineEnd(char c) noexcept {
    return c == kCr || c == kLf || c == '\0';
}

} // namespace

void LineSplitter::feed(std::string_view bytes) {
    const char* at = bytes.data();
    const char* const end = at + bytes.size();
    if (at == end) {
        return;
    }
    if (m_afterCr && *at == kLf) {
        ++at; // the LF of a CR LF cut between two pieces
    }
    m_afterCr = false;
    while (at != end) {
        const char* const lineEnd = std::find_if(at, end, isLineEnd);
        if (lineEnd == end) {
            m_partial.append(at, end);
            return;
        }
        if (m_partial.empty()) {
            m_recording.append(std::string_view(at, static_cast<std::size_t>(lineEnd - at)));
        } else {
            m_partial.append(at, lineEnd);
            m_recording.append(m_partial);
            m_partial.clear();
        }
        at = lineEnd + 1;
        if (*lineEnd == kCr) {
            if (at == end) {
                m_afterCr = true;
            } else if (*at == kLf) {
                ++at;
            }
        }
    }
}

void LineSplitter::finish() {
    if (!m_partial.empty()) {
        m_recording.append(m_partial);
        m_partial.clear();
    }
    m_afterCr = false;
}

Recording splitRecordingLines(std::string_view bytes) {
    Recording recording;
    LineSplitter splitter(recording);
    splitter.feed(bytes);
    splitter.finish();
    return recording;
}

std::vector<uint8_t> recordingFileBytes(const Recording& recording) {
    RecordingFileWriter writer(recording);
    std::vector<uint8_t> bytes(writer.size());
    writer.write(bytes);
    return bytes;
}

RecordingFileWriter::RecordingFileWriter(const Recording& recording) noexcept
    : m_recording(recording), m_textEnd(recording.storedText().size()),
      // Each line's separator becomes CR LF: one byte more a line.
      m_size(m_textEnd + recording.size() * (kLineEnd.size() - 1)) {}

std::size_t RecordingFileWriter::write(std::span<uint8_t> out) noexcept {
    // Taken anew each time: appended lines may have moved the text.
    const std::string_view text = m_recording.storedText().substr(0, m_textEnd);
    std::size_t written = 0;
    while (written < out.size()) {
        if (m_lineEndDue > 0) {
            out[written++] = static_cast<uint8_t>(kLineEnd[kLineEnd.size() - m_lineEndDue]);
            --m_lineEndDue;
            continue;
        }
        if (m_textAt == text.size()) {
            break;
        }
        const std::size_t lineEnd = text.find(kLineSeparator, m_textAt); // every line has one
        const std::size_t count = std::min(lineEnd - m_textAt, out.size() - written);
        std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(m_textAt), count,
                    out.begin() + static_cast<std::ptrdiff_t>(written));
        written += count;
        m_textAt += count;
        if (m_textAt == lineEnd) {
            m_lineEndDue = kLineEnd.size();
            ++m_textAt;
        }
    }
    return written;
}

} // namespace doodle
