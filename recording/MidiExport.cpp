#include "recording/MidiExport.h"

#include "mapping/MapPoint.h"
#include "recording/Player.h"
#include "voice/VoiceParams.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace doodle {
namespace {

// Chunk headers.
constexpr std::array<uint8_t, 4> kHeaderChunkId{'M', 'T', 'h', 'd'};
constexpr std::array<uint8_t, 4> kTrackChunkId{'M', 'T', 'r', 'k'};
constexpr uint32_t kHeaderChunkBytes = 6;
constexpr uint16_t kFormatSingleTrack = 0;
constexpr uint16_t kTrackCount = 1;
constexpr std::size_t kLengthFieldBytes = 4;
constexpr std::size_t kHeaderFieldBytes = 2; // format, track count, ticks per quarter note

// Channel messages on channel 1 (the low four bits are the channel, 0-based).
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kPitchBend = 0xE0;
constexpr uint8_t kProgramChange = 0xC0;
constexpr uint8_t kNoteOffVelocity = 64; // the value for "no release velocity"

// Meta events.
constexpr uint8_t kMeta = 0xFF;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaTempoBytes = 3; // microseconds per quarter note
constexpr uint8_t kMetaEndOfTrack = 0x2F;

// Registered parameter 0 (pitch bend range) and the controllers that set it.
constexpr uint8_t kRpnMsb = 101;
constexpr uint8_t kRpnLsb = 100;
constexpr uint8_t kDataEntryMsb = 6;
constexpr uint8_t kDataEntryLsb = 38;
constexpr uint8_t kRpnPitchBendRange = 0;
constexpr uint8_t kRpnNull = 127; // both halves: no parameter selected, later data goes nowhere
constexpr uint8_t kBendRangeCents = 0;

// Pitch bend: a 14-bit value, kBendCentre meaning none; -kBendSteps..kBendSteps - 1 around it
// cover -kMidiBendRangeSemitones..kMidiBendRangeSemitones.
constexpr int32_t kBendCentre = 8192;
constexpr int32_t kBendSteps = 8192;
constexpr unsigned kDataBits = 7; // data bytes carry 7 bits
constexpr uint8_t kDataMask = 0x7F;
constexpr int32_t kMaxDataValue = 127; // of a controller, note or velocity

// Equal temperament on A4 = 440 Hz, note 69; notes 0..127.
constexpr double kA4Hz = 440.0;
constexpr double kA4Note = 69.0;
constexpr double kHighestNote = 127.0;

// Variable-length quantities: 7 bits a byte, the top bit set on all but the last.
constexpr uint8_t kMoreBytesFlag = 0x80;
constexpr std::size_t kMaxVariableLengthBytes = 4; // 28 bits: up to kMidiMaxTick
static_assert(kMidiMaxTick < (int64_t{1} << (kDataBits * kMaxVariableLengthBytes)),
              "every delta time fits in a variable-length quantity");
constexpr unsigned kBitsPerByte = 8;

uint8_t dataByte(int32_t value) noexcept {
    return static_cast<uint8_t>(value & kDataMask);
}

// The fractional MIDI note of a frequency, held within 0..127.
double midiNoteOf(double pitchHz) noexcept {
    const double note = kA4Note + kSemitonesPerOctave * std::log2(pitchHz / kA4Hz);
    return std::fmin(std::fmax(note, 0.0), kHighestNote); // fmax also turns NaN into 0
}

int32_t nearestNote(double note) noexcept {
    return static_cast<int32_t>(std::lround(note));
}

// The bend from `note` to the fractional `target`, in steps; out of range when beyond
// kMidiBendRangeSemitones either way.
int32_t bendSteps(double target, int32_t note) noexcept {
    return static_cast<int32_t>(
        std::lround((target - note) * kBendSteps / kMidiBendRangeSemitones));
}

bool bendFits(int32_t bend) noexcept {
    return bend >= -kBendSteps && bend < kBendSteps;
}

// The note whose bend reaches every pitch from lowNote to highNote (fractional notes), the one
// nearest their middle; nothing when they are too far apart. Rounding the middle moves it by
// half a semitone at most, so one of the notes next to it reaches both ends when any does.
std::optional<int32_t> noteReaching(double lowNote, double highNote) noexcept {
    const int32_t middle = nearestNote((lowNote + highNote) / 2.0);
    for (const int32_t offset : {0, -1, 1}) {
        const int32_t note = middle + offset;
        if (note >= 0 && note <= kMaxDataValue && bendFits(bendSteps(lowNote, note)) &&
            bendFits(bendSteps(highNote, note))) {
            return note;
        }
    }
    return std::nullopt;
}

// Byte by byte: GCC 12 at -O3 warns (-Wstringop-overflow) on the inlined range insert into a
// vector that grows from empty, about a copy that cannot overflow.
void appendBytes(std::vector<uint8_t>& bytes, std::span<const uint8_t> more) {
    for (const uint8_t byte : more) {
        bytes.push_back(byte);
    }
}

void appendBigEndian(std::vector<uint8_t>& bytes, uint32_t value, std::size_t byteCount) {
    for (std::size_t i = byteCount; i-- > 0;) {
        bytes.push_back(static_cast<uint8_t>(value >> (kBitsPerByte * i)));
    }
}

void appendVariableLength(std::vector<uint8_t>& bytes, uint32_t value) {
    std::array<uint8_t, kMaxVariableLengthBytes> reversed{};
    std::size_t count = 0;
    do {
        reversed[count++] = static_cast<uint8_t>(value & kDataMask);
        value >>= kDataBits;
    } while (value != 0 && count < reversed.size());
    while (count-- > 0) {
        bytes.push_back(static_cast<uint8_t>(reversed[count] | (count > 0 ? kMoreBytesFlag : 0)));
    }
}

} // namespace

int32_t vowelControllerValue(int32_t y) noexcept {
    const int32_t clampedY = std::clamp(y, 0, kMaxPointY);
    return ((kMaxPointY - clampedY) * kMaxDataValue + kMaxPointY / 2) / kMaxPointY;
}

int32_t midiProgramFor(VoiceType voiceType) noexcept {
    return voiceType == VoiceType::Type2 ? kMidiProgramType2 : kMidiProgramType1;
}

MidiFileWriter::MidiFileWriter(bool wholeNotes, int32_t program) : m_wholeNotes(wholeNotes) {
    appendBytes(m_file, kHeaderChunkId);
    appendBigEndian(m_file, kHeaderChunkBytes, kLengthFieldBytes);
    appendBigEndian(m_file, kFormatSingleTrack, kHeaderFieldBytes);
    appendBigEndian(m_file, kTrackCount, kHeaderFieldBytes);
    appendBigEndian(m_file, kMidiTicksPerQuarter, kHeaderFieldBytes);
    appendBytes(m_file, kTrackChunkId);
    appendBigEndian(m_file, 0, kLengthFieldBytes); // set by finish()

    event(0, {kMeta, kMetaTempo, kMetaTempoBytes});
    appendBigEndian(m_file, kMidiMicrosecondsPerQuarter, kMetaTempoBytes);
    event(0, {kControlChange, kRpnMsb, kRpnPitchBendRange});
    event(0, {kControlChange, kRpnLsb, kRpnPitchBendRange});
    event(0, {kControlChange, kDataEntryMsb, kMidiBendRangeSemitones});
    event(0, {kControlChange, kDataEntryLsb, kBendRangeCents});
    event(0, {kControlChange, kRpnMsb, kRpnNull});
    event(0, {kControlChange, kRpnLsb, kRpnNull});
    event(0, {kProgramChange, dataByte(program)});
}

void MidiFileWriter::event(int32_t tick, std::initializer_list<uint8_t> eventBytes) {
    const int32_t delta = std::max(tick - m_lastTick, 0);
    appendVariableLength(m_file, static_cast<uint32_t>(delta));
    appendBytes(m_file, eventBytes);
    m_lastTick = std::max(tick, m_lastTick);
}

void MidiFileWriter::noteOff(int32_t tick) {
    if (m_note) {
        event(tick, {kNoteOff, dataByte(*m_note), kNoteOffVelocity});
        m_note.reset();
    }
}

void MidiFileWriter::sendBend(int32_t tick, int32_t bend) {
    if (bend != m_bend) {
        const int32_t value = bend + kBendCentre;
        event(tick, {kPitchBend, dataByte(value), dataByte(value >> kDataBits)});
        m_bend = bend;
    }
}

std::vector<int32_t> MidiFileWriter::strokeNotes() const {
    std::vector<int32_t> notes(m_stroke.size());
    if (m_wholeNotes) {
        std::transform(m_stroke.begin(), m_stroke.end(), notes.begin(),
                       [](const StrokePoint& point) { return nearestNote(point.note); });
        return notes;
    }
    if (m_stroke.empty()) {
        return notes;
    }
    // Pieces as long as one note reaches them, each on the note nearest its middle.
    std::size_t pieceStart = 0;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    auto endPiece = [&](std::size_t end) {
        // A single point is always reached: its nearest note is within half a semitone.
        const int32_t note = noteReaching(low, high).value_or(nearestNote(low));
        std::fill(notes.begin() + static_cast<std::ptrdiff_t>(pieceStart),
                  notes.begin() + static_cast<std::ptrdiff_t>(end), note);
        pieceStart = end;
    };
    for (std::size_t i = 0; i < m_stroke.size(); ++i) {
        const double note = m_stroke[i].note;
        if (i > pieceStart && !noteReaching(std::min(low, note), std::max(high, note))) {
            endPiece(i);
            low = note;
            high = note;
        }
        low = std::min(low, note);
        high = std::max(high, note);
    }
    endPiece(m_stroke.size());
    return notes;
}

void MidiFileWriter::sound(const StrokePoint& point, int32_t note) {
    const int32_t bend = m_wholeNotes ? 0 : bendSteps(point.note, note);
    const bool newNote = note != m_note;
    if (newNote) {
        noteOff(point.tick); // before the bend moves, so that its release keeps its pitch
    }
    if (point.vowelValue != m_vowelValue) {
        event(point.tick, {kControlChange, kMidiVowelController, dataByte(point.vowelValue)});
        m_vowelValue = point.vowelValue;
    }
    sendBend(point.tick, bend);
    if (newNote) {
        event(point.tick, {kNoteOn, dataByte(note), kMidiNoteVelocity});
        m_note = note;
    }
}

void MidiFileWriter::writeStroke() {
    const std::vector<int32_t> notes = strokeNotes();
    for (std::size_t i = 0; i < m_stroke.size(); ++i) {
        sound(m_stroke[i], notes[i]);
    }
    m_stroke.clear();
}

void MidiFileWriter::finish(int32_t tick) {
    noteOff(tick);
    sendBend(tick, 0);
    event(tick, {kMeta, kMetaEndOfTrack, 0});
    const std::size_t trackStart = kHeaderChunkId.size() + kLengthFieldBytes + kHeaderChunkBytes +
                                   kTrackChunkId.size() + kLengthFieldBytes;
    const auto trackBytes = static_cast<uint32_t>(m_file.size() - trackStart);
    for (std::size_t i = 0; i < kLengthFieldBytes; ++i) {
        m_file[trackStart - kLengthFieldBytes + i] =
            static_cast<uint8_t>(trackBytes >> (kBitsPerByte * (kLengthFieldBytes - 1 - i)));
    }
}

void MidiFileWriter::add(const PlayedTick& played) {
    switch (played.step.action) {
    case PlaybackAction::None:
        break;
    case PlaybackAction::Sound:
        m_stroke.push_back(
            {played.tick, midiNoteOf(played.pitchHz), vowelControllerValue(played.step.y)});
        break;
    case PlaybackAction::Release:
        writeStroke();
        noteOff(played.tick);
        break;
    case PlaybackAction::Stop:
        writeStroke();
        finish(played.tick);
        break;
    }
}

std::optional<std::vector<uint8_t>>
midiFileOf(const Recording& recording, const RenderSettings& settings, const RenderPlan& plan) {
    if (plan.stopTick > kMidiMaxTick) {
        return std::nullopt;
    }
    MidiFileWriter writer(settings.scaleMode != ScaleMode::Unrestricted,
                          midiProgramFor(settings.voiceType));
    const RenderOutcome outcome = playRecording(
        recording, settings, plan, [&](const PlayedTick& played) { writer.add(played); }, {});
    if (outcome != RenderOutcome::Finished) {
        return std::nullopt;
    }
    return writer.bytes();
}

} // namespace doodle
