#pragma once

#include "tools/RenderJob.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace doodle {

// Whether a file name asks for the recording itself (".sav"), in any case.
bool isRecordingFileName(std::string_view fileName) noexcept;
// Whether --type names it ("sav"), in any case.
bool isRecordingType(std::string_view type) noexcept;
// Its line of --help.
std::string recordingFormatLine();

// The job that writes the recording read from IN (from a MIDI file, the lines its
// performance makes) as a .sav file: each line followed by CR LF, as the program saves it.
// Refused, with the reason: --normalize, --bits and --speed, which a recording does not take.
ChosenJob chooseRecordingJob(const RenderOptions& options);

// Writes `bytes` as the whole of OUT, through OutputFile, so that a file already named OUT
// keeps its bytes until the new ones are complete. The exit status: 0, kExitError after one
// line on stderr, or an interrupt's.
int writeWholeOutput(const RenderOptions& options, std::span<const std::byte> bytes);

} // namespace doodle
