#include "files/RecordingFiles.h"

#include "files/ReplaceReasons.h"
#include "files/ReplacementFile.h"
#include "files/WriteAll.h"
#include "recording/RecordingFile.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace doodle {
namespace {

namespace fs = std::filesystem;

constexpr char kPathSeparator = '/';
constexpr std::string_view kRootFolder = "/";

// Files and streams are read in pieces this large, into a buffer on the stack.
constexpr std::size_t kReadChunkBytes = std::size_t{1} << 16;

// Bytes for getpwuid_r's strings when sysconf gives no size.
constexpr std::size_t kPasswdBufferBytes = 16384;

std::string withFinalSlash(std::string_view folder) {
    std::string text(folder);
    if (!text.empty() && text.back() != kPathSeparator) {
        text += kPathSeparator;
    }
    return text;
}

std::string programFolder() {
    std::error_code error;
    const std::string exe = fs::read_symlink("/proc/self/exe", error).string();
    const std::size_t slash = exe.rfind(kPathSeparator);
    if (error || slash == std::string::npos) {
        return {};
    }
    return exe.substr(0, slash + 1);
}

std::string workingFolder() {
    std::error_code error;
    std::string folder = fs::current_path(error).string();
    return error ? std::string() : folder;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    const long suggestedBytes = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggestedBytes > 0 ? static_cast<std::size_t>(suggestedBytes)
                                                : kPasswdBufferBytes);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return {};
    }
    return found->pw_dir;
}

bool isWritableFolder(const std::string& folder) {
    // Creating a file needs write and search permission on the folder.
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

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

std::string dialogFolder() {
    return chooseDialogFolder(programFolder(), workingFolder(), homeFolder(), isWritableFolder);
}

std::string chooseDialogFolder(std::string_view programFolder, std::string_view workingFolder,
                               std::string_view homeFolder,
                               const std::function<bool(const std::string&)>& isWritable) {
    for (const std::string_view candidate : {programFolder, workingFolder}) {
        std::string folder = withFinalSlash(candidate);
        if (!folder.empty() && isWritable(folder)) {
            return folder;
        }
    }
    return homeFolder.empty() ? std::string(kRootFolder) : withFinalSlash(homeFolder);
}

} // namespace doodle
