#include "recording/Recording.h"

#include <algorithm>
#include <new>
#include <utility>

namespace doodle {
namespace {

// Field 3 at or above this marks a release line.
constexpr double kReleasedFlag = 1.0;
constexpr std::size_t kBitsPerByte = 8;

} // namespace

GestureEvent parseGestureEvent(std::string_view lineText) noexcept {
    return {roundToWhole(parseDecimal(lineField(lineText, kFieldX))),
            roundToWhole(parseDecimal(lineField(lineText, kFieldY))),
            parseDecimal(lineField(lineText, kFieldReleased)) >= kReleasedFlag,
            parseDecimal(lineField(lineText, kFieldTime))};
}

Recording::Recording(std::initializer_list<std::string_view> lineTexts) {
    for (const std::string_view text : lineTexts) {
        append(text);
    }
}

Recording::Recording(const std::vector<std::string>& lineTexts) {
    for (const std::string& text : lineTexts) {
        append(text);
    }
}

void Recording::append(std::string_view lineText) {
    const GestureEvent event = parseGestureEvent(lineText);
    const std::size_t textBytes = m_text.size();
    m_text.append(lineText);
    m_text += kLineSeparator;
    try {
        appendEvent(event);
    } catch (...) {
        m_text.resize(textBytes); // all or nothing: no text without its event
        throw;
    }
}

void Recording::append(const GestureLine& line) {
    const std::string text = formatGestureLine(line);
    // The line's own numbers: what parsing its text would give, without the parse.
    const GestureEvent event{line.x, line.y, line.released >= 1,
                             static_cast<double>(line.elapsedMs)};
    const std::size_t textBytes = m_text.size();
    m_text += text;
    m_text += kLineSeparator;
    try {
        appendEvent(event);
    } catch (...) {
        m_text.resize(textBytes);
        throw;
    }
}

void Recording::appendEvent(const GestureEvent& event) {
    m_events.push_back({event.timeMs, event.x, event.y});
    try {
        m_released.push_back(event.released);
    } catch (...) {
        m_events.pop_back();
        throw;
    }
}

void Recording::clear() noexcept {
    m_text.clear();
    m_events.clear();
    m_released.clear();
}

void Recording::reserveText(std::size_t bytes) {
    m_text.reserve(bytes);
}

void Recording::shrinkToFit() {
    m_text.shrink_to_fit();
    m_events.shrink_to_fit();
    m_released.shrink_to_fit();
}

GestureEvent Recording::event(std::size_t index) const noexcept {
    const RecordingPoint& point = m_events[index];
    return {point.x, point.y, m_released[index], point.timeMs};
}

std::string_view Recording::LineIterator::operator*() const noexcept {
    const std::size_t end = m_text.find(kLineSeparator, m_at);
    return m_text.substr(m_at, end - m_at);
}

Recording::LineIterator& Recording::LineIterator::operator++() noexcept {
    m_at = m_text.find(kLineSeparator, m_at) + 1; // every line has its separator
    return *this;
}

Recording::LineIterator Recording::LineIterator::operator++(int) noexcept {
    LineIterator before = *this;
    ++*this;
    return before;
}

std::vector<std::string> Recording::lineTexts() const {
    std::vector<std::string> texts;
    texts.reserve(size());
    for (const std::string_view text : *this) {
        texts.emplace_back(text);
    }
    return texts;
}

std::size_t Recording::capacityBytes() const noexcept {
    return m_text.capacity() + m_events.capacity() * sizeof(RecordingPoint) +
           m_released.capacity() / kBitsPerByte;
}

bool RecordingAssembly::reserve(std::size_t textBytes, std::size_t lineCount) noexcept {
    m_recording.clear();
    m_separators = 0;
    try {
        m_recording.m_text.reserve(textBytes);
        m_recording.m_events.reserve(lineCount);
        m_recording.m_released.reserve(lineCount);
    } catch (const std::bad_alloc&) {
        m_recording = Recording{};
        return false;
    } catch (const std::length_error&) {
        m_recording = Recording{};
        return false;
    }
    m_textBytes = textBytes;
    m_lineCount = lineCount;
    return true;
}

bool RecordingAssembly::addText(std::string_view piece) noexcept {
    std::string& text = m_recording.m_text;
    if (piece.size() > m_textBytes - text.size()) {
        return false;
    }
    text.append(piece); // within what was reserved: no allocation
    m_separators +=
        static_cast<std::size_t>(std::count(piece.begin(), piece.end(), kLineSeparator));
    return true;
}

bool RecordingAssembly::addPoints(std::span<const RecordingPoint> piece) noexcept {
    std::vector<RecordingPoint>& points = m_recording.m_events;
    if (piece.size() > m_lineCount - points.size()) {
        return false;
    }
    points.insert(points.end(), piece.begin(), piece.end());
    return true;
}

bool RecordingAssembly::addReleased(std::span<const uint8_t> piece) noexcept {
    std::vector<bool>& released = m_recording.m_released;
    if (piece.size() > m_lineCount - released.size()) {
        return false;
    }
    for (const uint8_t flag : piece) {
        released.push_back(flag != 0);
    }
    return true;
}

std::optional<Recording> RecordingAssembly::finish() {
    Recording recording = std::exchange(m_recording, Recording{});
    const bool whole = recording.m_text.size() == m_textBytes &&
                       recording.m_events.size() == m_lineCount &&
                       recording.m_released.size() == m_lineCount && m_separators == m_lineCount &&
                       (m_textBytes == 0 || recording.m_text.back() == kLineSeparator);
    m_textBytes = 0;
    m_lineCount = 0;
    m_separators = 0;
    if (!whole) {
        return std::nullopt;
    }
    return recording;
}

std::string noRecordingLinesReason(const Recording& recording, std::string_view name) {
    const auto linesText = [](std::size_t count) {
        return std::to_string(count) + (count == 1 ? " line" : " lines");
    };
    if (recording.empty()) {
        return std::string(name) + " has no recording lines (read 0 lines)";
    }
    // Iterators, not ranges: the WebAssembly build's standard library has no ranges algorithms.
    if (std::any_of(recording.begin(), recording.end(),
                    [](std::string_view line) { return hasGestureLineForm(line); })) {
        return {};
    }
    return std::string(name) + " has no recording lines: " +
           (recording.size() == 1 ? std::string("its only line is not one")
                                  : "none of its " + linesText(recording.size()) + " is one") +
           " (a recording line is four decimal numbers joined by \";\", as 120;45;0;1532)";
}

} // namespace doodle
