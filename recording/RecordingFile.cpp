#include "recording/RecordingFile.h"

#include "recording/AsciiCase.h"
#include "recording/ReplacementFile.h"
#include "recording/WriteAll.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
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

constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr std::string_view kLineEnd = "\r\n";
constexpr char kPathSeparator = '/';
constexpr std::string_view kRootFolder = "/";
constexpr std::string_view kTempPrefix = ".DoodleChorus-"; // for a save's temporary file

// Saved files are written in pieces this large: few system calls, little memory.
constexpr std::size_t kIoChunkBytes = std::size_t{1} << 20;
// Files and streams are read in pieces this large, into a buffer on the stack.
constexpr std::size_t kReadChunkBytes = std::size_t{1} << 16;

// Bytes for getpwuid_r's strings when sysconf gives no size.
constexpr std::size_t kPasswdBufferBytes = 16384;

constexpr bool isLineEnd(char c) noexcept {
    return c == kCr || c == kLf || c == '\0';
}

bool writeLines(int fd, const Recording& recording) {
    std::string chunk;
    chunk.reserve(kIoChunkBytes + kLineEnd.size());
    for (const std::string_view line : recording) {
        chunk += line;
        chunk += kLineEnd;
        if (chunk.size() >= kIoChunkBytes) {
            if (!writeAll(fd, chunk)) {
                return false;
            }
            chunk.clear();
        }
    }
    return writeAll(fd, chunk);
}

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

} // namespace

void LineSplitter::feed(std::string_view bytes) {
    const char* at = bytes.data();
    const char* const end = at + bytes.size();
    if (at == end) {
        return;
    }
    if (m_afterCr && *at == kLf) {
        ++at; // the LF of a CR LF cut between two pieces
    }
    m_afterCr = false;
    while (at != end) {
        const char* const lineEnd = std::find_if(at, end, isLineEnd);
        if (lineEnd == end) {
            m_partial.append(at, end);
            return;
        }
        if (m_partial.empty()) {
            m_recording.append(std::string_view(at, static_cast<std::size_t>(lineEnd - at)));
        } else {
            m_partial.append(at, lineEnd);
            m_recording.append(m_partial);
            m_partial.clear();
        }
        at = lineEnd + 1;
        if (*lineEnd == kCr) {
            if (at == end) {
                m_afterCr = true;
            } else if (*at == kLf) {
                ++at;
            }
        }
    }
}

void LineSplitter::finish() {
    if (!m_partial.empty()) {
        m_recording.append(m_partial);
        m_partial.clear();
    }
    m_afterCr = false;
}

Recording splitRecordingLines(std::string_view bytes) {
    Recording recording;
    LineSplitter splitter(recording);
    splitter.feed(bytes);
    splitter.finish();
    return recording;
}

std::string saveFileName(std::string_view chosenName) {
    std::string name(chosenName);
    if (!endsWithIgnoringAsciiCase(chosenName, kRecordingExtension)) {
        name += kRecordingExtension;
    }
    return name;
}

bool saveRecordingFile(std::string_view chosenName, const Recording& recording) {
    if (chosenName.empty() || recording.empty()) {
        return false;
    }
    try {
        ReplacementFile file;
        return file.open(saveFileName(chosenName), kTempPrefix) == ReplaceOpen::Created &&
               writeLines(file.fd(), recording) && file.commit();
    } catch (const std::bad_alloc&) {
        return false; // the name or the write buffer; the temporary file went with `file`
    } catch (const std::length_error&) {
        return false;
    }
}

namespace {

// The lines read from fd up to its end, or up to where the limits are passed. expectedBytes (0
// when unknown) is reserved up front: every line's text with its separator fits in a file's
// bytes, and one more for a last line without a line end, so the text never grows past it.
OpenedRecording readRecordingLines(int fd, std::size_t expectedBytes, const ReadLimits& limits) {
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
        std::size_t bytesRead = 0;
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

OpenedRecording readRecordingStream(int fd, const ReadLimits& limits) {
    return readRecordingLines(fd, 0, limits);
}

std::optional<Recording> openRecordingFile(const std::string& path) {
    return std::move(readRecordingFile(path).recording);
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
