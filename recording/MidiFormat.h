#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace doodle {

// The parts of MIDI 1.0 and of the Standard MIDI File format that the export writes and the
// MIDI input reads.

// Chunks: a 4-byte type, a 4-byte big-endian length, then that many bytes.
inline constexpr std::array<uint8_t, 4> kMidiHeaderChunkId{'M', 'T', 'h', 'd'};
inline constexpr std::array<uint8_t, 4> kMidiTrackChunkId{'M', 'T', 'r', 'k'};
inline constexpr std::size_t kMidiChunkIdBytes = 4;
inline constexpr std::size_t kMidiLengthFieldBytes = 4;
inline constexpr uint32_t kMidiHeaderChunkBytes = 6; // format, track count, division
inline constexpr std::size_t kMidiHeaderFieldBytes = 2;

// Status bytes: the top bit set. A channel message's kind is its high nibble and its channel
// (0..15, shown as 1..16) the low one; 0xF0 and up are system messages.
inline constexpr uint8_t kMidiStatusFlag = 0x80;
inline constexpr uint8_t kMidiKindMask = 0xF0;
inline constexpr uint8_t kMidiChannelMask = 0x0F;
inline constexpr uint8_t kMidiNoteOff = 0x80;
inline constexpr uint8_t kMidiNoteOn = 0x90;
inline constexpr uint8_t kMidiPolyPressure = 0xA0;
inline constexpr uint8_t kMidiControlChange = 0xB0;
inline constexpr uint8_t kMidiProgramChange = 0xC0;
inline constexpr uint8_t kMidiChannelPressure = 0xD0;
inline constexpr uint8_t kMidiPitchBend = 0xE0;
inline constexpr uint8_t kMidiSystem = 0xF0;
inline constexpr int32_t kMidiChannels = 16;
// General MIDI's percussion channel, as shown (1..16): its notes are drums, not a melody.
inline constexpr int32_t kMidiDrumChannel = 10;
// MIDI input's choice of every channel (but the drums', see midiInputHears) rather than one.
inline constexpr int32_t kMidiAllChannels = 0;

// In a file, 0xF0 and 0xF7 start SysEx events and 0xFF a meta event.
inline constexpr uint8_t kMidiSysEx = 0xF0;
inline constexpr uint8_t kMidiSysExEscape = 0xF7;
inline constexpr uint8_t kMidiMeta = 0xFF;
inline constexpr uint8_t kMidiMetaTempo = 0x51;
inline constexpr uint8_t kMidiMetaTempoBytes = 3; // microseconds per quarter note
inline constexpr uint8_t kMidiMetaEndOfTrack = 0x2F;

// Controllers. The vowel goes out as CC 74 ("brightness" on most synthesizers), valued by
// vowelControllerValue; MIDI input takes it from CC 74 or the modulation wheel (CC 1).
inline constexpr uint8_t kMidiVowelController = 74;
inline constexpr uint8_t kMidiCcModulation = 1;
inline constexpr uint8_t kMidiCcVolume = 7; // channel volume: the live voice's level
inline constexpr uint8_t kMidiCcDataEntryMsb = 6;
inline constexpr uint8_t kMidiCcDataEntryLsb = 38;
// The sustain (damper) pedal: down at kMidiPedalDownValue and above, up below it.
inline constexpr uint8_t kMidiCcSustain = 64;
inline constexpr uint8_t kMidiPedalDownValue = 64;
inline constexpr uint8_t kMidiCcNrpnLsb = 98;
inline constexpr uint8_t kMidiCcNrpnMsb = 99;
inline constexpr uint8_t kMidiCcRpnLsb = 100;
inline constexpr uint8_t kMidiCcRpnMsb = 101;
inline constexpr uint8_t kMidiCcAllSoundOff = 120;
inline constexpr uint8_t kMidiCcResetAllControllers = 121;
inline constexpr uint8_t kMidiCcAllNotesOff = 123;
// Registered parameter 0, the pitch bend range, selected by both halves at 0.
inline constexpr uint8_t kMidiRpnPitchBendRange = 0;
// Both halves at this value select no parameter: later data entry goes nowhere.
inline constexpr uint8_t kMidiRpnNull = 127;
// The bend range before any RPN 0, semitones either way.
inline constexpr int32_t kMidiDefaultBendRangeSemitones = 2;

// Data bytes carry 7 bits; pitch bend joins two into 14, kMidiBendCentre meaning none, and
// -kMidiBendSteps..kMidiBendSteps - 1 around it spanning the bend range either way.
inline constexpr unsigned kMidiDataBits = 7;
inline constexpr uint8_t kMidiDataMask = 0x7F;
inline constexpr int32_t kMidiBendCentre = 8192;
inline constexpr int32_t kMidiBendSteps = 8192;

// Variable-length quantities: 7 bits a byte, most significant first, the top bit set on all
// but the last; at most 4 bytes (28 bits).
inline constexpr uint8_t kMidiMoreBytesFlag = 0x80;
inline constexpr std::size_t kMidiMaxVariableLengthBytes = 4;

// One channel message as it travels: status, then one or two data bytes (0 where the kind has
// fewer). Live input and files alike hand these to the MIDI performance.
struct MidiMessage {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;

    bool operator==(const MidiMessage&) const = default;
};

// Data bytes that follow a channel message's status: one for program change and channel
// pressure, two for the others.
constexpr std::size_t midiDataBytes(uint8_t status) noexcept {
    const auto kind = static_cast<uint8_t>(status & kMidiKindMask);
    return kind == kMidiProgramChange || kind == kMidiChannelPressure ? 1 : 2;
}

} // namespace doodle
