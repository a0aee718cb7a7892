#include "files/RecordingFiles.h"

#include "files/ReplaceReasons.h"
#include "files/ReplacementFile.h"
#include "files/WriteAll.h"
#include "recording/RecordingFile.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace doodle {
namespace {

// Files and streams are read in pieces this large, into a buffer on the stack.
constexpr std::size_t kReadChunkBytes = std::size_t{1} << 16;

// The lines read from fd up to its end, or up to where the limits are passed. expectedBytes (0
// when unknown) is reserved up front: every line's text with its separator fits in a file's
// bytes, and one more for a last line without a line end, so the text never grows past it.
// alreadyRead comes first.
OpenedRecording readRecordingLines(int fd, std::size_t expectedBytes, const ReadLimits& limits,
                                   std::string_view alreadyRead = {}) {
    const auto fail = [](OpenProblem problem, int errorNumber) {
        return OpenedRecording{std::nullopt, problem, errorNumber};
    };
    Recording recording;
    try {
        if (expectedBytes > 0) {
            recording.reserveText(expectedBytes + 1);
        }
        LineSplitter splitter(recording);
        // Left uninitialised: read() fills what is used.
        std::array<char, kReadChunkBytes> chunk;
        std::size_t bytesRead = alreadyRead.size();
        splitter.feed(alreadyRead);
        while (true) {
            const ssize_t count = ::read(fd, chunk.data(), chunk.size());
            if (count == 0) {
                break;
            }
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return fail(OpenProblem::ReadFailed, errno); // an I/O error half-way
            }
            bytesRead += static_cast<std::size_t>(count);
            if (bytesRead > limits.maxBytes) {
                return fail(OpenProblem::TooManyBytes, 0);
            }
            splitter.feed(std::string_view(chunk.data(), static_cast<std::size_t>(count)));
            if (recording.size() > limits.maxLines) {
                return fail(OpenProblem::TooManyLines, 0);
            }
        }
        splitter.finish();
        if (recording.size() > limits.maxLines) {
            return fail(OpenProblem::TooManyLines, 0);
        }
        recording.shrinkToFit();
    } catch (const std::bad_alloc&) {
        return fail(OpenProblem::OutOfMemory, ENOMEM); // every line costs 17 bytes and more
    } catch (const std::length_error&) {
        return fail(OpenProblem::OutOfMemory, ENOMEM);
    }
    return OpenedRecording{std::move(recording), OpenProblem::None, 0};
}

} // namespace

OpenedRecording readRecordingFile(const std::string& path, const ReadLimits& limits) {
    const auto fail = [](OpenProblem problem, int errorNumber) {
        return OpenedRecording{std::nullopt, problem, errorNumber};
    };
    // Non-blocking and never a controlling terminal, so that opening a FIFO or a terminal
    // chosen in the dialog cannot hang or take over the program; the type is checked on what
    // was opened, and only a regular file is read (a device such as /dev/zero would never end).
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        return fail(OpenProblem::CannotOpen, errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return fail(OpenProblem::ReadFailed, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return fail(OpenProblem::IsFolder, 0);
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(OpenProblem::NotRegularFile, 0);
    }
    const auto fileBytes = static_cast<std::size_t>(info.st_size);
    if (fileBytes > limits.maxBytes) {
        return fail(OpenProblem::TooManyBytes, 0);
    }
    // O_NONBLOCK means nothing for a regular file: reads below wait for the disk as usual.
    return readRecordingLines(fd.get(), fileBytes, limits);
}

OpenedRecording readRecordingStream(int fd, const ReadLimits& limits,
                                    std::string_view alreadyRead) {
    return readRecordingLines(fd, 0, limits, alreadyRead);
}

std::optional<Recording> openRecordingFile(const std::string& path) {
    return std::move(readRecordingFile(path).recording);
}

bool replaceFileWith(const std::string& path, std::span<const uint8_t> bytes,
                     std::string_view tempPrefix) {
    return replaceFileWithBytes(path, bytes, tempPrefix).replaced;
}

ReplaceOutcome replaceFileWithBytes(const std::string& path, std::span<const uint8_t> bytes,
                                    std::string_view tempPrefix, std::string_view contents) {
    ReplaceOutcome outcome;
    try {
        ReplacementFile file;
        const ReplaceOpen opened = file.open(path, tempPrefix);
        if (opened != ReplaceOpen::Created) {
            outcome.reason = openRefusalReason(opened, file, errno);
            return outcome;
        }
        if (const std::optional<RoomShortage> shortage = file.shortOfRoom(bytes.size())) {
            outcome.reason = roomShortageReason(*shortage);
            return outcome;
        }
        if (!writeAll(file.fd(), std::as_bytes(bytes))) {
            outcome.reason = std::strerror(errno);
            return outcome;
        }
        outcome.replaced = file.commit();
        const int commitError = errno;
        outcome.keptCopy = file.keptCopy();
        if (!outcome.replaced) {
            outcome.reason = commitFailureReason(commitError, outcome.keptCopy, contents);
        }
    } catch (const std::bad_alloc&) {
        outcome.reason = std::strerror(ENOMEM); // the temporary file went with `file`
    } catch (const std::length_error&) {
        outcome.reason = std::strerror(ENOMEM);
    }
    return outcome;
}

} // namespace doodle
