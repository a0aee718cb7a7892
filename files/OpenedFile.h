#pragma once

#include "files/RecordingFiles.h"
#include "recording/MidiFileInput.h"
#include "recording/Recording.h"

#include <optional>
#include <string>

namespace doodle {

// The most a MIDI file given to the program or the tools may hold: far more than any melody,
// little enough to read whole.
inline constexpr std::size_t kMaxMidiInputBytes = std::size_t{16} << 20;

// Why a recording file gave no lines, as the part of a message after the file's name ("it is
// not a regular file", "Permission denied"). `limits` are the ones `reader` ("this tool")
// read it with.
std::string openProblemReason(const OpenedRecording& opened, const ReadLimits& limits = {},
                              std::string_view reader = "the program");

// A file a person chose to open: a recording file, or a Standard MIDI File (recognised by its
// first bytes, "MThd", whatever it is called) sung as a drag under `midiChoice`.
struct OpenedInput {
    std::optional<Recording> recording{}; // nothing: the reason says why
    std::string reason{};                 // one sentence naming the file, when there is none
    bool outOfMemory = false;             // ... because its lines do not fit in memory
};
OpenedInput openRecordingOrMidiFile(const std::string& path, const MidiInputChoice& midiChoice);

} // namespace doodle
