#include "recording/RecordingFile.h"

#include <algorithm>
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
    std::size_t total = 0;
    for (const std::string_view line : recording) {
        total += line.size() + kLineEnd.size();
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(total);
    for (const std::string_view line : recording) {
        bytes.insert(bytes.end(), line.begin(), line.end());
        bytes.insert(bytes.end(), kLineEnd.begin(), kLineEnd.end());
    }
    return bytes;
}

} // namespace doodle
