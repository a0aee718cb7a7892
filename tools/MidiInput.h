#pragma once

#include "files/OpenedFile.h"
#include "recording/Recording.h"
#include "tools/RenderOptions.h"

#include <optional>
#include <string>

namespace doodle {

// IN looked at as a Standard MIDI File, recognised by its first bytes ("MThd") whatever it is
// called, and made into a recording (see recordingOfMidiFile) under the options' scale,
// --channel and --vowel.
struct MidiInput {
    // The recording of a MIDI file; nothing when IN is not one (or could not be looked at:
    // the recording reader then says why).
    std::optional<Recording> recording{};
    // One line without the tool's name when IN is a MIDI file that cannot be sung, or when
    // --channel or --vowel come with a recording; empty otherwise.
    std::string error{};
    // One line without the tool's name, for stderr unless quiet: the channel the tool picked,
    // when no --channel chose one and other channels hold notes too; empty otherwise.
    std::string notice{};
    // Standard input's first bytes, read to look at them, when it is not a MIDI file: the
    // recording reader takes them first.
    std::string consumed{};
};
MidiInput readMidiInput(const RenderOptions& options);

} // namespace doodle
