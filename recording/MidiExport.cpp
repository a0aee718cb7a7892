#include "recording/MidiExport.h"

#include "mapping/MapPoint.h"
#include "recording/MidiFormat.h"
#include "recording/Player.h"
#include "voice/VoiceParams.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace doodle {
namespace {

constexpr uint16_t kFormatSingleTrack = 0;
constexpr uint16_t kTrackCount = 1;
constexpr uint8_t kBendRangeCents = 0;

constexpr double kHighestNote = kMidiMaxDataValue;

static_assert(kMidiMaxTick < (int64_t{1} << (kMidiDataBits * kMidiMaxVariableLengthBytes)),
              "every delta time fits in a variable-length quantity");
constexpr unsigned kBitsPerByte = 8;

uint8_t dataByte(int32_t value) noexcept {
    return MidiVoiceMessages::dataByte(value);
}

int32_t nearestNote(double note) noexcept {
    return nearestMidiNote(note);
}

int32_t bendSteps(double target, int32_t note) noexcept {
    return midiBendSteps(target, note);
}

bool bendFits(int32_t bend) noexcept {
    return midiBendFits(bend);
}

// The note whose bend reaches every pitch from lowNote to highNote (fractional notes), the one
// nearest their middle; nothing when they are too far apart. Rounding the middle moves it by
// half a semitone at most, so one of the notes next to it reaches both ends when any does.
std::optional<int32_t> noteReaching(double lowNote, double highNote) noexcept {
    const int32_t middle = nearestNote((lowNote + highNote) / 2.0);
    for (const int32_t offset : {0, -1, 1}) {
        const int32_t note = middle + offset;
        if (note >= 0 && note <= kMidiMaxDataValue && bendFits(bendSteps(lowNote, note)) &&
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
    std::array<uint8_t, kMidiMaxVariableLengthBytes> reversed{};
    std::size_t count = 0;
    do {
        reversed[count++] = static_cast<uint8_t>(value & kMidiDataMask);
        value >>= kMidiDataBits;
    } while (value != 0 && count < reversed.size());
    while (count-- > 0) {
        bytes.push_back(
            static_cast<uint8_t>(reversed[count] | (count > 0 ? kMidiMoreBytesFlag : 0)));
    }
}

} // namespace

double midiNoteOfSounding(double pitchHz) noexcept {
    // fmax also turns NaN into 0.
    return std::fmin(std::fmax(midiNoteOfPitch(pitchHz), 0.0), kHighestNote);
}

int32_t nearestMidiNote(double note) noexcept {
    return static_cast<int32_t>(std::lround(note));
}

int32_t midiBendSteps(double target, int32_t note) noexcept {
    return static_cast<int32_t>(
        std::lround((target - note) * kMidiBendSteps / kMidiBendRangeSemitones));
}

bool midiBendFits(int32_t bend) noexcept {
    return bend >= -kMidiBendSteps && bend < kMidiBendSteps;
}

std::array<MidiMessage, 8> midiOpeningMessages(int32_t program, int32_t volumeValue) noexcept {
    return {{
        {kMidiControlChange, kMidiCcRpnMsb, kMidiRpnPitchBendRange},
        {kMidiControlChange, kMidiCcRpnLsb, kMidiRpnPitchBendRange},
        {kMidiControlChange, kMidiCcDataEntryMsb, kMidiBendRangeSemitones},
        {kMidiControlChange, kMidiCcDataEntryLsb, kBendRangeCents},
        {kMidiControlChange, kMidiCcRpnMsb, kMidiRpnNull},
        {kMidiControlChange, kMidiCcRpnLsb, kMidiRpnNull},
        {kMidiControlChange, kMidiCcVolume, dataByte(volumeValue)},
        {kMidiProgramChange, dataByte(program), 0},
    }};
}

void appendMidiMessage(std::vector<uint8_t>& out, const MidiMessage& message) {
    out.push_back(message.status);
    out.push_back(message.data1);
    if (midiDataBytes(message.status) > 1) {
        out.push_back(message.data2);
    }
}

void MidiLiveWriter::sound(const MidiPoint& point, std::vector<MidiMessage>& out) {
    const std::optional<int32_t> sounding = m_voice.note();
    int32_t note = nearestMidiNote(point.note);
    if (!m_wholeNotes && sounding && midiBendFits(midiBendSteps(point.note, *sounding))) {
        note = *sounding; // the stroke's note still reaches the point
    }
    const int32_t bend = m_wholeNotes ? 0 : midiBendSteps(point.note, note);
    m_voice.sound(note, bend, point.vowelValue,
                  [&](const MidiMessage& message) { out.push_back(message); });
}

void MidiLiveWriter::release(std::vector<MidiMessage>& out) {
    m_voice.noteOff([&](const MidiMessage& message) { out.push_back(message); });
}

void MidiLiveWriter::end(std::vector<MidiMessage>& out) {
    const auto send = [&](const MidiMessage& message) { out.push_back(message); };
    m_voice.noteOff(send);
    m_voice.centreOrBend(0, send);
}

void MidiLiveWriter::resend(std::vector<MidiMessage>& out) const {
    m_voice.resend([&](const MidiMessage& message) { out.push_back(message); });
}

int32_t midiProgramFor(VoiceType voiceType) noexcept {
    return voiceType == VoiceType::Type2 ? kMidiProgramType2 : kMidiProgramType1;
}

MidiFileWriter::MidiFileWriter(bool wholeNotes, int32_t program) : m_wholeNotes(wholeNotes) {
    appendBytes(m_file, kMidiHeaderChunkId);
    appendBigEndian(m_file, kMidiHeaderChunkBytes, kMidiLengthFieldBytes);
    appendBigEndian(m_file, kFormatSingleTrack, kMidiHeaderFieldBytes);
    appendBigEndian(m_file, kTrackCount, kMidiHeaderFieldBytes);
    appendBigEndian(m_file, kMidiTicksPerQuarter, kMidiHeaderFieldBytes);
    appendBytes(m_file, kMidiTrackChunkId);
    appendBigEndian(m_file, 0, kMidiLengthFieldBytes); // set by finish()

    event(0, {kMidiMeta, kMidiMetaTempo, kMidiMetaTempoBytes});
    appendBigEndian(m_file, kMidiMicrosecondsPerQuarter, kMidiMetaTempoBytes);
    for (const MidiMessage& opening : midiOpeningMessages(program, kMidiFullVolume)) {
        message(0, opening);
    }
}

void MidiFileWriter::message(int32_t tick, const MidiMessage& message) {
    if (midiDataBytes(message.status) > 1) {
        event(tick, {message.status, message.data1, message.data2});
    } else {
        event(tick, {message.status, message.data1});
    }
}

void MidiFileWriter::event(int32_t tick, std::initializer_list<uint8_t> eventBytes) {
    const int32_t delta = std::max(tick - m_lastTick, 0);
    appendVariableLength(m_file, static_cast<uint32_t>(delta));
    appendBytes(m_file, eventBytes);
    m_lastTick = std::max(tick, m_lastTick);
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
    m_voice.sound(note, bend, point.vowelValue,
                  [&](const MidiMessage& sent) { message(point.tick, sent); });
}

void MidiFileWriter::writeStroke() {
    const std::vector<int32_t> notes = strokeNotes();
    for (std::size_t i = 0; i < m_stroke.size(); ++i) {
        sound(m_stroke[i], notes[i]);
    }
    m_stroke.clear();
}

void MidiFileWriter::finish(int32_t tick) {
    const auto send = [&](const MidiMessage& sent) { message(tick, sent); };
    m_voice.noteOff(send);
    m_voice.centreOrBend(0, send);
    event(tick, {kMidiMeta, kMidiMetaEndOfTrack, 0});
    const std::size_t trackStart = kMidiHeaderChunkId.size() + kMidiLengthFieldBytes +
                                   kMidiHeaderChunkBytes + kMidiTrackChunkId.size() +
                                   kMidiLengthFieldBytes;
    const auto trackBytes = static_cast<uint32_t>(m_file.size() - trackStart);
    for (std::size_t i = 0; i < kMidiLengthFieldBytes; ++i) {
        m_file[trackStart - kMidiLengthFieldBytes + i] =
            static_cast<uint8_t>(trackBytes >> (kBitsPerByte * (kMidiLengthFieldBytes - 1 - i)));
    }
}

void MidiFileWriter::add(const PlayedTick& played) {
    switch (played.step.action) {
    case PlaybackAction::None:
        break;
    case PlaybackAction::Sound:
        m_stroke.push_back(
            {played.tick, midiNoteOfSounding(played.pitchHz), vowelControllerValue(played.step.y)});
        break;
    case PlaybackAction::Release:
        writeStroke();
        m_voice.noteOff([&](const MidiMessage& sent) { message(played.tick, sent); });
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
