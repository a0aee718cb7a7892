#pragma once

#include "recording/Recording.h"

#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace doodle {

inline constexpr std::string_view kRecordingExtension = ".sav";

// Splits the bytes of a recording file into lines, fed in pieces of any size. A line ends at
// CR, LF, CR LF or a zero byte; the end is not part of the line and a zero byte is dropped.
// Bytes are kept as they are (no decoding) and lines have no length limit. A file ending in a
// line end yields no extra empty line; two line ends in a row yield an empty one.
class LineSplitter {
public:
    explicit LineSplitter(Recording& recording) noexcept : m_recording(recording) {}

    void feed(std::string_view bytes);
    // The end of the file: keeps a last line that has no line end.
    void finish();

private:
    Recording& m_recording;
    std::string m_partial{}; // the line read so far, not yet ended
    bool m_afterCr = false;  // the last byte fed was a CR: an LF next belongs to it
};

// All lines of the bytes of one file.
Recording splitRecordingLines(std::string_view bytes);

// The name a recording is saved under: the chosen name with ".sav" appended unless its last
// four characters, upper-cased, are ".SAV" (a name shorter than that never is).
std::string saveFileName(std::string_view chosenName);

// Saves the recording under saveFileName(chosenName), each line followed by CR LF, replacing
// any file of that name (see ReplacementFile). The lines go to a new file first, which
// replaces the old one only once every byte is written and synced, keeping its owner, group,
// mode, extended attributes and ACL, so a failed save leaves the old file as it was and no
// stray file behind; a file a new one could not stand in for (another hard link, another
// user's file, a folder where nothing can be created) is rewritten in place from that complete
// file, even one the user may write but not read. A folder, device, FIFO or socket under the
// name, a file on the kernel's pseudo file systems, one another writer holds locked, or an
// existing file the user may not write, is not replaced. Returns false if nothing was saved:
// no name, an empty recording, too little memory, or a write that failed (the GUI then shows
// the "Informer" box).
bool saveRecordingFile(std::string_view chosenName, const Recording& recording);

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
// standard input a user chose to feed in. Reading stops as soon as the limits are passed, so an
// endless stream costs at most about what the limits allow. No failure escapes as an exception.
OpenedRecording readRecordingStream(int fd, const ReadLimits& limits = {});

// The recording in a file, or nothing if it cannot be opened or read, in which case the
// caller keeps the current recording.
std::optional<Recording> openRecordingFile(const std::string& path);

// The folder the file dialogs start in, ending in "/": the program's own folder when it can be
// written to, else the current working directory when it can, else the home folder.
std::string dialogFolder();

// The choice dialogFolder makes among its candidates (empty ones are skipped; a "/" is added
// where missing): the first two when isWritable accepts them, else the home folder, else "/".
std::string chooseDialogFolder(std::string_view programFolder, std::string_view workingFolder,
                               std::string_view homeFolder,
                               const std::function<bool(const std::string&)>& isWritable);

} // namespace doodle
