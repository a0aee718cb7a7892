#include "recording/Recording.h"

namespace doodle {
namespace {

constexpr char kLineSeparator = '\n';
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
    const Point& point = m_events[index];
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
    return m_text.capacity() + m_events.capacity() * sizeof(Point) +
           m_released.capacity() / kBitsPerByte;
}

} // namespace doodle
