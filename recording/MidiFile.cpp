#include "recording/MidiFile.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

namespace doodle {
namespace {

// The tempo before a file's first tempo event: 120 quarter notes per minute.
constexpr uint32_t kDefaultMicrosPerQuarter = 500'000;
constexpr double kMicrosPerMs = 1000.0;
constexpr double kMsPerSecond = 1000.0;

// SMPTE divisions: the high byte is minus the frame rate, the low byte the ticks per frame.
constexpr uint16_t kSmpteFlag = 0x8000;
constexpr unsigned kBitsPerByte = 8;
constexpr uint16_t kLowByteMask = 0xFF;
struct SmpteRate {
    int32_t code = 0; // as written, negated
    double framesPerSecond = 0.0;
};
// 29 stands for 29.97 frames per second (30000 / 1001, "drop frame").
constexpr std::array<SmpteRate, 4> kSmpteRates{
    {{24, 24.0}, {25, 25.0}, {29, 30000.0 / 1001.0}, {30, 30.0}}};
constexpr int32_t kSignedByteRange = 256;

constexpr int32_t kFormatSingleTrack = 0;
constexpr int32_t kFormatSimultaneous = 1;
constexpr int32_t kFormatSequences = 2;

uint8_t byteAt(std::span<const std::byte> bytes, std::size_t at) noexcept {
    return static_cast<uint8_t>(bytes[at]);
}

uint32_t bigEndian(std::span<const std::byte> bytes, std::size_t at, std::size_t count) noexcept {
    uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value = (value << kBitsPerByte) | byteAt(bytes, at + i);
    }
    return value;
}

bool chunkIdIs(std::span<const std::byte> bytes, std::size_t at,
               const std::array<uint8_t, kMidiChunkIdBytes>& id) noexcept {
    for (std::size_t i = 0; i < id.size(); ++i) {
        if (byteAt(bytes, at + i) != id[i]) {
            return false;
        }
    }
    return true;
}

std::optional<MidiFile> refuse(std::string& error, std::string reason) {
    error = std::move(reason);
    return std::nullopt;
}

std::optional<MidiDivision> divisionOf(uint16_t field) noexcept {
    MidiDivision division;
    if ((field & kSmpteFlag) == 0) {
        division.ticksPerQuarter = field;
        return field > 0 ? std::optional(division) : std::nullopt;
    }
    const int32_t rate = kSignedByteRange - (field >> kBitsPerByte);
    const auto found = std::find_if(kSmpteRates.begin(), kSmpteRates.end(),
                                    [&](const SmpteRate& r) { return r.code == rate; });
    division.smpte = true;
    division.ticksPerFrame = field & kLowByteMask;
    if (found == kSmpteRates.end() || division.ticksPerFrame == 0) {
        return std::nullopt;
    }
    division.framesPerSecond = found->framesPerSecond;
    return division;
}

} // namespace

bool startsAsMidiFile(std::span<const std::byte> bytes) noexcept {
    return bytes.size() >= kMidiChunkIdBytes && chunkIdIs(bytes, 0, kMidiHeaderChunkId);
}

std::optional<uint32_t> MidiTrackReader::variableLength() noexcept {
    uint32_t value = 0;
    for (std::size_t count = 0; count < kMidiMaxVariableLengthBytes; ++count) {
        if (m_at >= m_bytes.size()) {
            fail("the track ends inside a variable-length number");
            return std::nullopt;
        }
        const uint8_t byte = byteAt(m_bytes, m_at++);
        value = (value << kMidiDataBits) | (byte & kMidiDataMask);
        if ((byte & kMidiMoreBytesFlag) == 0) {
            return value;
        }
    }
    fail("a variable-length number longer than 4 bytes");
    return std::nullopt;
}

std::optional<MidiTrackEvent> MidiTrackReader::fail(const char* reason) noexcept {
    m_error = reason;
    return std::nullopt;
}

std::optional<MidiTrackEvent> MidiTrackReader::next() noexcept {
    if (m_ended || m_error != nullptr) {
        return std::nullopt;
    }
    if (m_at == m_bytes.size()) {
        m_ended = true; // no End of Track event: the chunk's end ends the track
        return std::nullopt;
    }
    const std::optional<uint32_t> delta = variableLength();
    if (!delta) {
        return std::nullopt;
    }
    m_tick += *delta;
    if (m_at == m_bytes.size()) {
        return fail("the track ends after a delta time, without its event");
    }
    MidiTrackEvent event;
    event.tick = m_tick;
    const uint8_t first = byteAt(m_bytes, m_at);
    if (first == kMidiMeta || first == kMidiSysEx || first == kMidiSysExEscape) {
        ++m_at;
        if (first == kMidiMeta) {
            if (m_at == m_bytes.size()) {
                return fail("the track ends inside a meta event");
            }
            event.kind = MidiTrackEvent::Kind::Meta;
            event.metaType = byteAt(m_bytes, m_at++);
        } else {
            event.kind = MidiTrackEvent::Kind::SysEx;
            m_runningStatus = 0;
        }
        const std::optional<uint32_t> length = variableLength();
        if (!length) {
            return std::nullopt;
        }
        if (*length > m_bytes.size() - m_at) {
            return fail("an event's length runs past the end of its track");
        }
        event.data = m_bytes.subspan(m_at, *length);
        m_at += *length;
        if (event.kind == MidiTrackEvent::Kind::Meta) {
            if (event.metaType == kMidiMetaTempo && *length != kMidiMetaTempoBytes) {
                return fail("a tempo event that does not hold 3 bytes");
            }
            m_ended = event.metaType == kMidiMetaEndOfTrack;
        }
        return event;
    }
    if (first >= kMidiSystem) {
        return fail("a system status byte (F1 to F6, F8 to FE) that has no place in a file");
    }
    if ((first & kMidiStatusFlag) != 0) {
        m_runningStatus = first;
        ++m_at;
    } else if (m_runningStatus == 0) {
        return fail("a data byte with no status before it to run on");
    }
    const uint8_t status = m_runningStatus;
    const std::size_t dataBytes = midiDataBytes(status);
    if (dataBytes > m_bytes.size() - m_at) {
        return fail("the track ends inside a channel message");
    }
    std::array<uint8_t, 2> data{};
    for (std::size_t i = 0; i < dataBytes; ++i) {
        data[i] = byteAt(m_bytes, m_at + i);
        if ((data[i] & kMidiStatusFlag) != 0) {
            return fail("a status byte inside a channel message's data");
        }
    }
    m_at += dataBytes;
    event.message = {status, data[0], data[1]};
    return event;
}

std::optional<MidiFile> MidiFile::read(std::span<const std::byte> bytes, std::string& error) {
    constexpr std::size_t kChunkHeaderBytes = kMidiChunkIdBytes + kMidiLengthFieldBytes;
    if (!startsAsMidiFile(bytes)) {
        return refuse(error, "it does not start with MThd: not a Standard MIDI File");
    }
    if (bytes.size() < kChunkHeaderBytes) {
        return refuse(error, "the file ends inside its header");
    }
    const uint32_t headerBytes = bigEndian(bytes, kMidiChunkIdBytes, kMidiLengthFieldBytes);
    if (headerBytes < kMidiHeaderChunkBytes) {
        return refuse(error, "its header chunk holds " + std::to_string(headerBytes) +
                                 " bytes, fewer than the 6 of format, tracks and division");
    }
    if (headerBytes > bytes.size() - kChunkHeaderBytes) {
        return refuse(error, "its header chunk runs past the end of the file");
    }
    MidiFile file;
    file.m_format =
        static_cast<int32_t>(bigEndian(bytes, kChunkHeaderBytes, kMidiHeaderFieldBytes));
    const uint32_t declaredTracks =
        bigEndian(bytes, kChunkHeaderBytes + kMidiHeaderFieldBytes, kMidiHeaderFieldBytes);
    const auto divisionField = static_cast<uint16_t>(
        bigEndian(bytes, kChunkHeaderBytes + 2 * kMidiHeaderFieldBytes, kMidiHeaderFieldBytes));
    if (file.m_format == kFormatSequences) {
        return refuse(error, "it is of format 2 (independent sequences), which is not read; "
                             "formats 0 and 1 are");
    }
    if (file.m_format != kFormatSingleTrack && file.m_format != kFormatSimultaneous) {
        return refuse(error, "its header gives format " + std::to_string(file.m_format) +
                                 "; there are formats 0, 1 and 2");
    }
    if (declaredTracks == 0) {
        return refuse(error, "its header counts no tracks");
    }
    if (file.m_format == kFormatSingleTrack && declaredTracks != 1) {
        return refuse(error, "it is of format 0, which has one track, but its header counts " +
                                 std::to_string(declaredTracks));
    }
    const std::optional<MidiDivision> division = divisionOf(divisionField);
    if (!division) {
        return refuse(error, (divisionField & kSmpteFlag) == 0
                                 ? "its header gives 0 ticks per quarter note"
                                 : "its header gives an SMPTE timing other than 24, 25, 29 or "
                                   "30 frames per second with 1 or more ticks per frame");
    }
    file.m_division = *division;

    // Every track chunk takes 8 bytes at least, so a header cannot make this reserve more
    // than the file's size allows.
    std::size_t at = kChunkHeaderBytes + headerBytes;
    file.m_tracks.reserve(
        std::min<std::size_t>(declaredTracks, (bytes.size() - at) / kChunkHeaderBytes));
    std::vector<std::size_t> trackStarts; // file offsets of the chunks' data, for messages
    trackStarts.reserve(file.m_tracks.capacity());
    while (file.m_tracks.size() < declaredTracks) {
        if (bytes.size() - at < kChunkHeaderBytes) {
            return refuse(error, "the file ends after " + std::to_string(file.m_tracks.size()) +
                                     " of the " + std::to_string(declaredTracks) +
                                     " tracks its header counts");
        }
        const uint32_t length = bigEndian(bytes, at + kMidiChunkIdBytes, kMidiLengthFieldBytes);
        const std::size_t dataStart = at + kChunkHeaderBytes;
        if (length > bytes.size() - dataStart) {
            return refuse(error, "the chunk at byte " + std::to_string(at) + " claims " +
                                     std::to_string(length) + " bytes, but only " +
                                     std::to_string(bytes.size() - dataStart) + " are left");
        }
        if (chunkIdIs(bytes, at, kMidiTrackChunkId)) {
            file.m_tracks.push_back(bytes.subspan(dataStart, length));
            trackStarts.push_back(dataStart);
        }
        at = dataStart + length;
    }

    for (std::size_t index = 0; index < file.m_tracks.size(); ++index) {
        MidiTrackReader reader = file.track(index);
        while (const std::optional<MidiTrackEvent> event = reader.next()) {
            if (!file.m_division.smpte && event->kind == MidiTrackEvent::Kind::Meta &&
                event->metaType == kMidiMetaTempo) {
                file.m_tempo.push_back(
                    {event->tick, 0.0, bigEndian(event->data, 0, kMidiMetaTempoBytes)});
            }
        }
        if (reader.error() != nullptr) {
            return refuse(error, "track " + std::to_string(index + 1) + ", byte " +
                                     std::to_string(trackStarts[index] + reader.offset()) + ": " +
                                     reader.error());
        }
    }
    // Tracks play together: their changes merge by tick, the file's order kept at one tick.
    std::stable_sort(file.m_tempo.begin(), file.m_tempo.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    uint64_t tick = 0;
    double ms = 0.0;
    uint32_t microsPerQuarter = kDefaultMicrosPerQuarter;
    for (TempoChange& change : file.m_tempo) {
        ms += static_cast<double>(change.tick - tick) * microsPerQuarter /
              (file.m_division.ticksPerQuarter * kMicrosPerMs);
        tick = change.tick;
        change.ms = ms;
        microsPerQuarter = change.microsPerQuarter;
    }
    return file;
}

double MidiFile::msAtTick(uint64_t tick) const noexcept {
    if (m_division.smpte) {
        return static_cast<double>(tick) * kMsPerSecond /
               (m_division.framesPerSecond * m_division.ticksPerFrame);
    }
    // The last change at or before the tick.
    const auto after =
        std::upper_bound(m_tempo.begin(), m_tempo.end(), tick,
                         [](uint64_t at, const TempoChange& change) { return at < change.tick; });
    TempoChange from{0, 0.0, kDefaultMicrosPerQuarter};
    if (after != m_tempo.begin()) {
        from = *std::prev(after);
    }
    return from.ms + static_cast<double>(tick - from.tick) * from.microsPerQuarter /
                         (m_division.ticksPerQuarter * kMicrosPerMs);
}

} // namespace doodle
