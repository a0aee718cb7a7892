#pragma once

#include "recording/GestureLine.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace doodle {

// What one line of a recording does when it plays, read from its text once.
struct GestureEvent {
    int32_t x = 0;         // px, field 1 rounded halves-to-even; kNoWholeNumber for no number
    int32_t y = 0;         // px, field 2, the same way
    bool released = false; // field 3 reads as 1 or more: a button release
    double timeMs = 0.0;   // field 4 as read, ms since recording began; NaN and ±inf included

    bool operator==(const GestureEvent&) const = default;
};

// The event of one line of text: missing or non-numeric fields read as 0.
GestureEvent parseGestureEvent(std::string_view lineText) noexcept;

// Ends every line of a recording's stored text (Recording::storedText); no line can hold it.
inline constexpr char kLineSeparator = '\n';

// A line's event as a recording keeps it, without its release flag: 16 bytes.
struct RecordingPoint {
    double timeMs = 0.0;
    int32_t x = 0;
    int32_t y = 0;
};

// A recording: every line's text exactly as it was read or recorded, so that a save writes
// back the same bytes, and every line's event, parsed once. The texts share one buffer; a line
// costs its text, one byte and 16 bytes and a bit for the event.
class Recording {
public:
    Recording() = default;
    // Each text is one line (tests and tools build recordings this way).
    Recording(std::initializer_list<std::string_view> lineTexts);
    explicit Recording(const std::vector<std::string>& lineTexts);

    // Appends a line read from a file: no CR, LF or zero byte in it (they end lines).
    void append(std::string_view lineText);
    // Appends a recorded line: its text is written from the same numbers as its event.
    void append(const GestureLine& line);
    void clear() noexcept;
    // Room for this many bytes of text (line separators included) without growing.
    void reserveText(std::size_t bytes);
    // Gives back what growing left unused: a recording read whole keeps what it holds.
    void shrinkToFit();

    std::size_t size() const noexcept { return m_events.size(); }
    bool empty() const noexcept { return m_events.empty(); }
    GestureEvent event(std::size_t index) const noexcept;

    // The lines' texts, first to last, without line ends.
    class LineIterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        LineIterator() = default;
        LineIterator(std::string_view text, std::size_t at) noexcept : m_text(text), m_at(at) {}
        std::string_view operator*() const noexcept;
        LineIterator& operator++() noexcept;
        LineIterator operator++(int) noexcept;
        bool operator==(const LineIterator& other) const noexcept { return m_at == other.m_at; }

    private:
        std::string_view m_text{};
        std::size_t m_at = 0; // the start of the current line in m_text
    };
    LineIterator begin() const noexcept { return {m_text, 0}; }
    LineIterator end() const noexcept { return {m_text, m_text.size()}; }
    // The texts as strings, for comparisons and messages.
    std::vector<std::string> lineTexts() const;

    // Memory held, in bytes: what the recording costs per line.
    std::size_t capacityBytes() const noexcept;

    bool operator==(const Recording& other) const noexcept { return m_text == other.m_text; }

    // What the recording keeps, to hand it whole to another copy of the program (see
    // RecordingAssembly): every line's text followed by '\n', and each line's point.
    std::string_view storedText() const noexcept { return m_text; }
    std::span<const RecordingPoint> storedPoints() const noexcept { return m_events; }

private:
    friend class RecordingAssembly;
    void appendEvent(const GestureEvent& event);

    // Every line followed by '\n', which no line can hold: in a file it ends the line.
    std::string m_text{};
    std::vector<RecordingPoint> m_events{};
    std::vector<bool> m_released{}; // the release flags, a bit a line
};

// A recording put together from the parts another copy of the program read (its stored text,
// points and release flags, one byte a line), without reading its lines again: in pieces, each
// copied in time proportional to its own size, so that an audio thread can take a recording of
// any size a few pieces at a time.
class RecordingAssembly {
public:
    // Room for the whole recording at once, nothing written yet. False when it does not fit
    // in memory.
    bool reserve(std::size_t textBytes, std::size_t lineCount) noexcept;
    // The parts, piece by piece, in order. False when more came than was reserved.
    bool addText(std::string_view piece) noexcept;
    bool addPoints(std::span<const RecordingPoint> piece) noexcept;
    bool addReleased(std::span<const uint8_t> piece) noexcept; // nonzero: a release line
    // The recording once every part came whole and they agree (a point and a flag a line);
    // nothing otherwise. Starts afresh.
    std::optional<Recording> finish();

private:
    Recording m_recording{};
    std::size_t m_textBytes = 0;  // as reserved
    std::size_t m_lineCount = 0;  // as reserved
    std::size_t m_separators = 0; // line ends in the text so far
};

// Why a recording read from a file is no recording at all, or empty when it holds one: none of
// its lines has the form the program records (an empty file, a text or a sound given by
// mistake), which would otherwise play as silence or as stray dots. `name` is how the message
// names it ("the recording 'a.sav'"). Lines of another form among recording lines are played.
std::string noRecordingLinesReason(const Recording& recording, std::string_view name);

} // namespace doodle
