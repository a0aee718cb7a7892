#pragma once

#include "recording/Recording.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// What the desktop program and the tools read and write, at the edges of the program: the
// program itself only ever sees bytes and recordings.
namespace doodle {

// Why readRecordingFile gave no lines.
enum class OpenProblem {
    None,
    CannotOpen, // errorNumber says why
    IsFolder,
    NotRegularFile, // a device, FIFO or socket: it could block or never end
    ReadFailed,     // errorNumber says why
    OutOfMemory,    // the lines do not fit in memory
    TooManyBytes,   // more bytes than ReadLimits::maxBytes
    TooManyLines,   // more lines than ReadLimits::maxLines
};

// The most a reader takes in; past either it stops and gives no recording. No limit by default:
// the program opens any file that fits in memory.
struct ReadLimits {
    std::size_t maxBytes = std::numeric_limits<std::size_t>::max();
    std::size_t maxLines = std::numeric_limits<std::size_t>::max();
};

struct OpenedRecording {
    std::optional<Recording> recording{}; // empty when the file could not be read whole
    OpenProblem problem = OpenProblem::None;
    int errorNumber = 0; // errno, for CannotOpen and ReadFailed
};

// The lines of a recording file. Only a regular file is read, and its type is checked on the
// open descriptor, which is opened without blocking and without becoming a controlling
// terminal, so that a device or FIFO is never read. A file larger than limits.maxBytes is refused
// unread. No failure, too little memory included, escapes as an exception.
OpenedRecording readRecordingFile(const std::string& path, const ReadLimits& limits = {});

// The lines on an open descriptor up to its end, of whatever type (a pipe, a terminal): for the
// standard input a user chose to feed in. `alreadyRead` is the stream's start, taken from it
// before (to look at its first bytes). Reading stops as soon as the limits are passed, so an
// endless stream costs at most about what the limits allow. No failure escapes as an exception.
OpenedRecording readRecordingStream(int fd, const ReadLimits& limits = {},
                                    std::string_view alreadyRead = {});

// The recording in a file, or nothing if it cannot be opened or read, in which case the
// caller keeps the current recording.
std::optional<Recording> openRecordingFile(const std::string& path);

// Gives the file at `path` the bytes, replacing any file of that name (see ReplacementFile):
// a failure leaves the old file as it was and no stray file behind. `tempPrefix` begins the
// temporary file's name. False when not all was written.
bool replaceFileWith(const std::string& path, std::span<const uint8_t> bytes,
                     std::string_view tempPrefix);

// How replaceFileWithBytes went.
struct ReplaceOutcome {
    bool replaced = false;
    // When not replaced: why, as a sentence a user reads after "cannot write NAME: ", the
    // same reasons the render tool gives.
    std::string reason{};
    // A complete copy of the new bytes left on disk, when there is one: where a rewrite in
    // place failed, or after one whose copy could not be removed. Empty otherwise.
    std::string keptCopy{};
};

// As replaceFileWith, saying why when it fails and where a complete copy was kept. `contents`
// names the bytes in the kept-copy sentence ("the complete recording is in ...").
ReplaceOutcome replaceFileWithBytes(const std::string& path, std::span<const uint8_t> bytes,
                                    std::string_view tempPrefix,
                                    std::string_view contents = "recording");

} // namespace doodle
