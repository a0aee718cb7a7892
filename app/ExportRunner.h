#pragma once

#include "program/Exports.h"
#include "program/ProgramView.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class QWidget;

namespace doodle {

class Dialogs;

// Replaces `destination` with `bytes` through a temporary file beside it whose name begins
// with `tempPrefix`, and says how that went in the user's words: why it failed ("Cannot write
// 'NAME': REASON."), and any complete copy left on disk. `contents` names the bytes in those
// sentences ("recording", "sound", "MIDI file").
StoreResult storeBytes(const std::string& destination, std::span<const uint8_t> bytes,
                       std::string_view tempPrefix, std::string_view contents);

// Stores a WAV or MIDI export (`file` of FileKind::Wav or FileKind::Midi) under `destination`,
// replacing any file there through a temporary file beside it whose name begins with
// `tempPrefix`. The render and the write run on a worker thread while the main thread's events
// go on, so the windows keep painting, behind a modal progress dialog over `window` (shown once
// the export has taken a moment). The dialog's Cancel button, Escape and closing it stop the
// render and leave `destination` as it was. A sound that passes full scale is stored only
// after `dialogs` asks whether to normalize it, and as answered; answering Cancel there, as
// cancelling the progress, ends it StoreStatus::Cancelled.
StoreResult runExport(QWidget* window, Dialogs& dialogs, const std::string& destination,
                      const StoredFile& file, std::string_view tempPrefix);

} // namespace doodle
