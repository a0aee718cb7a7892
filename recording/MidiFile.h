#pragma once

#include "recording/MidiFormat.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace doodle {

// Whether bytes begin as a Standard MIDI File does ("MThd"), whatever the file is called.
bool startsAsMidiFile(std::span<const std::byte> bytes) noexcept;

// One event of a track.
struct MidiTrackEvent {
    enum class Kind { Channel, Meta, SysEx };

    uint64_t tick = 0; // from the start of the track
    Kind kind = Kind::Channel;
    MidiMessage message{}; // Channel: with its status even where the file ran the status on
    uint8_t metaType = 0;  // Meta
    std::span<const std::byte> data{}; // Meta and SysEx: the bytes after the length
};

// Reads the events of one track chunk in order, straight from its bytes: no copy, no
// allocation. It stops at the End of Track event or where the chunk ends; a malformed event
// also stops it, with the reason in error().
// - Delta times and lengths are variable-length quantities of at most 4 bytes.
// - Running status: a channel message may leave out a status equal to the one before; it runs
//   on across meta events (as most readers allow) and ends at a SysEx event.
// - SysEx events (F0, F7) and meta events of any type are read with their lengths; a tempo
//   event must hold 3 bytes.
// - Refused: a data byte with no status to run on, a status byte inside a message's data,
//   a system status that has no place in a file (F1..F6, F8..FE), and an event cut off by
//   the end of the chunk.
class MidiTrackReader {
public:
    explicit MidiTrackReader(std::span<const std::byte> chunkData) noexcept : m_bytes(chunkData) {}

    std::optional<MidiTrackEvent> next() noexcept;

    // Why reading stopped early, or nothing when the track ended well.
    const char* error() const noexcept { return m_error; }
    // Where in the chunk's data it stopped or will read next, in bytes.
    std::size_t offset() const noexcept { return m_at; }
    // The tick of the last event read (the End of Track's once the track is read whole).
    uint64_t tick() const noexcept { return m_tick; }

private:
    std::optional<uint32_t> variableLength() noexcept;
    std::optional<MidiTrackEvent> fail(const char* reason) noexcept;

    std::span<const std::byte> m_bytes{};
    std::size_t m_at = 0;
    uint64_t m_tick = 0;
    uint8_t m_runningStatus = 0; // 0: none to run on
    bool m_ended = false;
    const char* m_error = nullptr;
};

// How ticks become time: ticks per quarter note under the file's tempo map, or SMPTE frames
// (frames per second, ticks per frame), where the tempo does not count.
struct MidiDivision {
    bool smpte = false;
    int32_t ticksPerQuarter = 0;
    double framesPerSecond = 0.0; // 24, 25, 29.97 (written as 29) or 30
    int32_t ticksPerFrame = 0;
};

// A Standard MIDI File, read and checked whole: the header, every track chunk (each read
// to its end with MidiTrackReader) and the tempo map. It points into the bytes it was read
// from, which must outlive it. Memory: a few words per track and per tempo change, both
// bounded by the file's size.
// - Formats 0 (one track) and 1 (tracks played together, the tempo map gathered from all of
//   them) are read. Format 2 (independent sequences, each with its own tempo) is refused.
// - Chunks of other types are skipped; a longer header's extra bytes too; bytes after the
//   last track are ignored.
// - Refused, with the reason: no MThd at the start, a chunk or event cut off or running past
//   the end, fewer track chunks than the header counts, a division of 0 ticks, an SMPTE rate
//   other than 24, 25, 29 or 30 frames per second, and every malformed event.
class MidiFile {
public:
    // The file, or nothing and one line saying why in `error`.
    static std::optional<MidiFile> read(std::span<const std::byte> bytes, std::string& error);

    int32_t format() const noexcept { return m_format; }
    std::size_t trackCount() const noexcept { return m_tracks.size(); }
    const MidiDivision& division() const noexcept { return m_division; }
    // A reader over track `index`'s events, from its first.
    MidiTrackReader track(std::size_t index) const noexcept {
        return MidiTrackReader(m_tracks[index]);
    }
    // Milliseconds from the start of the file to `tick`: under the tempo map (500000 µs per
    // quarter note until the first tempo event; of several at one tick the last counts) or
    // at the SMPTE rate.
    double msAtTick(uint64_t tick) const noexcept;

private:
    struct TempoChange {
        uint64_t tick = 0;
        double ms = 0.0;               // msAtTick(tick)
        uint32_t microsPerQuarter = 0; // from this tick on
    };

    int32_t m_format = 0;
    MidiDivision m_division{};
    std::vector<std::span<const std::byte>> m_tracks{};
    std::vector<TempoChange> m_tempo{}; // by tick
};

} // namespace doodle
