#include "files/OpenedFile.h"

#include "files/Quoted.h"
#include "files/ReplacementFile.h"
#include "recording/MidiFile.h"
#include "recording/MidiFormat.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace doodle {
namespace {

constexpr std::size_t kMebibyte = std::size_t{1} << 20;

// The file's bytes up to its end, but no more than maxBytes + 1 (so that a larger one shows).
// False with errno on a failed read.
bool readBounded(int fd, std::size_t maxBytes, std::vector<std::byte>& bytes) {
    constexpr std::size_t kChunkBytes = std::size_t{1} << 16;
    while (bytes.size() <= maxBytes) {
        const std::size_t before = bytes.size();
        bytes.resize(before + kChunkBytes);
        const ssize_t count = ::read(fd, bytes.data() + before, kChunkBytes);
        bytes.resize(before + static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        if (count < 0 && errno != EINTR) {
            return false;
        }
        if (count == 0) {
            break;
        }
    }
    return true;
}

// A MIDI file's recording, or nothing when the file is no MIDI file (or cannot be looked at:
// the recording reader then says why).
std::optional<OpenedInput> openMidiFile(const std::string& path,
                                        const MidiInputChoice& midiChoice) {
    // Opened as the recording reader opens it: a device or FIFO is never read.
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::array<std::byte, kMidiChunkIdBytes> start{};
    if (::read(fd.get(), start.data(), start.size()) != static_cast<ssize_t>(start.size()) ||
        !startsAsMidiFile(start)) {
        return std::nullopt;
    }
    OpenedInput opened;
    const std::string name = "the MIDI file " + inQuotes(path);
    try {
        std::vector<std::byte> bytes(start.begin(), start.end());
        if (!readBounded(fd.get(), kMaxMidiInputBytes, bytes)) {
            opened.reason = "Cannot read " + name + ": " + std::strerror(errno) + ".";
            return opened;
        }
        if (bytes.size() > kMaxMidiInputBytes) {
            opened.reason = "Cannot read " + name + ": it is larger than " +
                            std::to_string(kMaxMidiInputBytes / kMebibyte) +
                            " MiB, more than a melody.";
            return opened;
        }
        MidiFileRecording sung = recordingOfMidiFile(bytes, midiChoice);
        if (!sung.recording) {
            opened.reason = "Cannot sing " + name + ": " + sung.error + ".";
            return opened;
        }
        opened.recording = std::move(sung.recording);
    } catch (const std::bad_alloc&) {
        opened.recording.reset();
        opened.outOfMemory = true;
        opened.reason = "Cannot read " + name + ": it does not fit in memory.";
    }
    return opened;
}

} // namespace

std::string openProblemReason(const OpenedRecording& opened, const ReadLimits& limits,
                              std::string_view reader) {
    switch (opened.problem) {
    case OpenProblem::IsFolder:
        return "it is a folder";
    case OpenProblem::NotRegularFile:
        // Devices and pipes could block or never end: only regular files are recordings.
        return "it is not a regular file";
    case OpenProblem::OutOfMemory:
        return "its lines do not fit in memory";
    case OpenProblem::TooManyBytes:
        return "it holds more than " + std::to_string(limits.maxBytes / kMebibyte) +
               " MiB, the most " + std::string(reader) + " reads";
    case OpenProblem::TooManyLines:
        return "it holds more than " + std::to_string(limits.maxLines) + " lines, the most " +
               std::string(reader) + " reads";
    case OpenProblem::CannotOpen:
    case OpenProblem::ReadFailed:
    case OpenProblem::None:
        break;
    }
    return opened.errorNumber != 0 ? std::strerror(opened.errorNumber) : "a read failed";
}

OpenedInput openRecordingOrMidiFile(const std::string& path, const MidiInputChoice& midiChoice) {
    if (std::optional<OpenedInput> midi = openMidiFile(path, midiChoice)) {
        return std::move(*midi);
    }
    OpenedRecording read = readRecordingFile(path);
    OpenedInput opened;
    if (read.recording) {
        opened.recording = std::move(read.recording);
        return opened;
    }
    opened.outOfMemory = read.problem == OpenProblem::OutOfMemory;
    opened.reason = "Cannot read " + inQuotes(path) + ": " + openProblemReason(read) + ".";
    return opened;
}

} // namespace doodle
