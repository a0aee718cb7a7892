#pragma once

#include "recording/MidiPerformance.h"
#include "recording/Recording.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace doodle {

// Which part of a MIDI file to sing, and how.
struct MidiInputChoice {
    MidiPerformanceSettings performance{};
    // 1..16: this channel's messages from every track, merged in time. Nothing: the first
    // track that holds a note off kMidiDrumChannel, and in it the channel of that note.
    std::optional<int32_t> channel{};
};

// A MIDI file made into a recording, or why it cannot be.
struct MidiFileRecording {
    std::optional<Recording> recording{};
    std::string error{}; // one line, empty when the recording holds
    int32_t channel = 0; // 1..16, the channel sung
    // Refused because, with no channel chosen, it holds notes on kMidiDrumChannel alone.
    bool onlyDrums = false;
    // The channels (1..16) that notes start on in the file, lowest first: where another choice
    // of channel would find notes.
    std::vector<int32_t> noteChannels{};
};

// The recording a drag would have made of a Standard MIDI File (see MidiFile for what is read
// and refused): the chosen channel's notes, bends and vowel controllers played through a
// MidiPerformance at the file's times, rounded to whole milliseconds; a note still held when
// its tracks end is released at their end. Refused, besides a malformed file: no note to sing
// (on the chosen channel; only drums when none is chosen), and a file that plays past the last
// millisecond a line can hold (about 24.8 days).
MidiFileRecording recordingOfMidiFile(std::span<const std::byte> bytes,
                                      const MidiInputChoice& choice);

} // namespace doodle
