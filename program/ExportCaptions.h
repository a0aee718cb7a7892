#pragma once

#include "recording/Loudness.h"

#include <string>
#include <string_view>

namespace doodle {

// The progress of a long export, with its Cancel button.
inline constexpr std::string_view kExportProgressText = "Exporting\u2026";
inline constexpr std::string_view kExportWritingText = "Writing the file\u2026";
inline constexpr std::string_view kExportCancelCaption = "Cancel";

// Why an export was not stored.
inline constexpr std::string_view kExportNotRenderedText =
    "The recording cannot be exported: it plays too long for the file, or its voice runs away.";
inline constexpr std::string_view kExportNoMemoryText =
    "The recording cannot be exported: the file does not fit in memory.";

// The question asked when an exported sound passes full scale, and its three answers.
enum class ClipAnswer { Normalize, ExportAsIs, Cancel };
inline constexpr std::string_view kClipTitle = "The sound is too loud";
inline constexpr std::string_view kClipNormalizeCaption = "Normalize";
inline constexpr std::string_view kClipAsIsCaption = "Export as is";
inline constexpr std::string_view kClipCancelCaption = "Cancel";

// The question's text: how far the sound passes full scale and what normalizing does, e.g.
// "The sound peaks at +2.35 dBFS: 1234 samples pass full scale, where players may clip them.
// Normalize lowers it to peak at -1 dBFS."
std::string clipQuestionText(const Loudness& loudness);

} // namespace doodle
