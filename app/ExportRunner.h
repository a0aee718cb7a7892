#pragma once

#include "program/Exports.h"

#include <string>
#include <string_view>

class QWidget;

namespace doodle {

class Dialogs;

// How an export ended.
struct ExportResult {
    enum class Status { Stored, Failed, Cancelled };
    Status status = Status::Failed;
    std::string reason{}; // why a failed export failed, for the user; empty otherwise
};

// Stores a WAV or MIDI export (`file` of FileKind::Wav or FileKind::Midi) under `destination`,
// replacing any file there through a temporary file beside it whose name begins with
// `tempPrefix`. The render and the write run on a worker thread while the main thread's events
// go on, so the windows keep painting, behind a modal progress dialog over `window` (shown once
// the export has taken a moment). The dialog's Cancel button, Escape and closing it stop the
// render and leave `destination` as it was. A sound that passes full scale is stored only
// after `dialogs` asks whether to normalize it, and as answered.
ExportResult runExport(QWidget* window, Dialogs& dialogs, const std::string& destination,
                       const StoredFile& file, std::string_view tempPrefix);

} // namespace doodle
