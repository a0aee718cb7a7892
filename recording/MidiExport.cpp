#include "recording/MidiExport.h"

#include "mapping/MapPoint.h"
#include "recording/MidiFormat.h"
#include "recording/Player.h"
#include "voice/VoiceParams.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <span>
#include <string_view>
#include <utility>

namespace doodle {
namespace {

constexpr uint16_t kFormatSingleTrack = 0;
constexpr uint16_t kFormatTracks = 1; // tracks played together, the first one the tempo's
// Meta event 3: a track's name, as sequencers show it.
constexpr uint8_t kMidiMetaTrackName = 0x03;
constexpr std::string_view kTempoTrackName = "DoodleChorus";
// In partIndex() order.
constexpr std::array<std::string_view, kChorusParts> kPartTrackNames{"Soprano", "Alto", "Tenor",
                                                                     "Bass"};
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

std::span<const uint8_t> textBytes(std::string_view text) noexcept {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The tempo meta event's data: kMidiMicrosecondsPerQuarter, big-endian.
std::vector<uint8_t> tempoBytes() {
    std::vector<uint8_t> bytes;
    appendBigEndian(bytes, kMidiMicrosecondsPerQuarter, kMidiMetaTempoBytes);
    return bytes;
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

MidiTrackWriter::MidiTrackWriter(bool wholeNotes, int32_t channel)
    : m_wholeNotes(wholeNotes), m_channel(static_cast<uint8_t>(channel & kMidiChannelMask)) {}

void MidiTrackWriter::meta(int32_t tick, uint8_t type, std::span<const uint8_t> data) {
    event(tick, {kMidiMeta, type});
    appendVariableLength(m_events, static_cast<uint32_t>(data.size()));
    appendBytes(m_events, data);
}

void MidiTrackWriter::message(int32_t tick, const MidiMessage& message) {
    const auto status = static_cast<uint8_t>(message.status | m_channel);
    if (midiDataBytes(message.status) > 1) {
        event(tick, {status, message.data1, message.data2});
    } else {
        event(tick, {status, message.data1});
    }
}

void MidiTrackWriter::event(int32_t tick, std::initializer_list<uint8_t> eventBytes) {
    const int32_t delta = std::max(tick - m_lastTick, 0);
    appendVariableLength(m_events, static_cast<uint32_t>(delta));
    appendBytes(m_events, eventBytes);
    m_lastTick = std::max(tick, m_lastTick);
}

std::vector<int32_t> MidiTrackWriter::strokeNotes() const {
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

void MidiTrackWriter::sound(const StrokePoint& point, int32_t note) {
    const int32_t bend = m_wholeNotes ? 0 : bendSteps(point.note, note);
    m_voice.sound(note, bend, point.vowelValue,
                  [&](const MidiMessage& sent) { message(point.tick, sent); });
}

void MidiTrackWriter::sound(int32_t tick, double note, int32_t vowelValue) {
    m_stroke.push_back({tick, note, vowelValue});
}

void MidiTrackWriter::writeStroke() {
    const std::vector<int32_t> notes = strokeNotes();
    for (std::size_t i = 0; i < m_stroke.size(); ++i) {
        sound(m_stroke[i], notes[i]);
    }
    m_stroke.clear();
}

void MidiTrackWriter::release(int32_t tick) {
    writeStroke();
    m_voice.noteOff([&](const MidiMessage& sent) { message(tick, sent); });
}

void MidiTrackWriter::finish(int32_t tick) {
    writeStroke();
    const auto send = [&](const MidiMessage& sent) { message(tick, sent); };
    m_voice.noteOff(send);
    m_voice.centreOrBend(0, send);
    meta(tick, kMidiMetaEndOfTrack, {});
}

MidiFileWriter::MidiFileWriter(bool choirParts, std::vector<MidiTrackWriter> tracks)
    : m_choirParts(choirParts), m_tracks(std::move(tracks)) {}

MidiFileWriter::MidiFileWriter(bool wholeNotes, int32_t program)
    : MidiFileWriter(false, {MidiTrackWriter(wholeNotes, 0)}) {
    MidiTrackWriter& track = m_tracks.front();
    track.meta(0, kMidiMetaTempo, tempoBytes());
    for (const MidiMessage& opening : midiOpeningMessages(program, kMidiFullVolume)) {
        track.message(0, opening);
    }
}

MidiFileWriter MidiFileWriter::forChoirParts(bool wholeNotes) {
    std::vector<MidiTrackWriter> tracks;
    tracks.emplace_back(wholeNotes, 0);
    tracks.front().meta(0, kMidiMetaTrackName, textBytes(kTempoTrackName));
    tracks.front().meta(0, kMidiMetaTempo, tempoBytes());
    for (std::size_t part = 0; part < kChorusParts; ++part) {
        MidiTrackWriter& track = tracks.emplace_back(wholeNotes, static_cast<int32_t>(part));
        track.meta(0, kMidiMetaTrackName, textBytes(kPartTrackNames[part]));
        for (const MidiMessage& opening :
             midiOpeningMessages(kMidiChoirPartProgram, kMidiFullVolume)) {
            track.message(0, opening);
        }
    }
    return MidiFileWriter(true, std::move(tracks));
}

void MidiFileWriter::finish(int32_t tick) {
    for (MidiTrackWriter& track : m_tracks) {
        track.finish(tick);
    }
    appendBytes(m_file, kMidiHeaderChunkId);
    appendBigEndian(m_file, kMidiHeaderChunkBytes, kMidiLengthFieldBytes);
    appendBigEndian(m_file, m_choirParts ? kFormatTracks : kFormatSingleTrack,
                    kMidiHeaderFieldBytes);
    appendBigEndian(m_file, static_cast<uint32_t>(m_tracks.size()), kMidiHeaderFieldBytes);
    appendBigEndian(m_file, kMidiTicksPerQuarter, kMidiHeaderFieldBytes);
    for (const MidiTrackWriter& track : m_tracks) {
        appendBytes(m_file, kMidiTrackChunkId);
        appendBigEndian(m_file, static_cast<uint32_t>(track.events().size()),
                        kMidiLengthFieldBytes);
        appendBytes(m_file, track.events());
    }
}

void MidiFileWriter::add(const PlayedTick& played) {
    switch (played.step.action) {
    case PlaybackAction::None:
        break;
    case PlaybackAction::Sound: {
        const int32_t vowelValue = vowelControllerValue(played.step.y);
        if (!m_choirParts) {
            m_tracks.front().sound(played.tick, midiNoteOfSounding(played.pitchHz), vowelValue);
            break;
        }
        for (std::size_t part = 0; part < kChorusParts; ++part) {
            // The soprano is the drawn line: its notes are the voice's own, as alone.
            const double pitchHz = part == 0 ? played.pitchHz : played.partPitchHz[part];
            MidiTrackWriter& track = m_tracks[part + 1];
            if (pitchHz > 0.0) {
                track.sound(played.tick, midiNoteOfSounding(pitchHz), vowelValue);
            } else {
                track.release(played.tick);
            }
        }
        break;
    }
    case PlaybackAction::Release:
        for (MidiTrackWriter& track : m_tracks) {
            track.release(played.tick);
        }
        break;
    case PlaybackAction::Stop:
        finish(played.tick);
        break;
    }
}

std::optional<std::vector<uint8_t>>
midiFileOf(const Recording& recording, const RenderSettings& settings, const RenderPlan& plan) {
    if (plan.stopTick > kMidiMaxTick) {
        return std::nullopt;
    }
    const bool wholeNotes = settings.scaleMode != ScaleMode::Unrestricted;
    MidiFileWriter writer = settings.chorus == ChorusMode::Harmony
                                ? MidiFileWriter::forChoirParts(wholeNotes)
                                : MidiFileWriter(wholeNotes, midiProgramFor(settings.voiceType));
    const RenderOutcome outcome = playRecording(
        recording, settings, plan, [&](const PlayedTick& played) { writer.add(played); }, {});
    if (outcome != RenderOutcome::Finished) {
        return std::nullopt;
    }
    return writer.bytes();
}

} // namespace doodle
