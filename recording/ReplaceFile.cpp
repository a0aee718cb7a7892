#include "recording/ReplaceFile.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace doodle {
namespace {

namespace fs = std::filesystem;

// rw for everyone, narrowed by the umask as for any new file; a replaced file's permission bits
// are carried over instead.
constexpr mode_t kNewFileMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

// Names tried for the temporary file before giving up; a clash needs another process with the
// same id writing into the same folder.
constexpr int kTempNameAttempts = 100;
constexpr std::string_view kTempSuffix = ".tmp";

// A symbolic link stays a link: its target is replaced, as writing through it would.
fs::path resolveTarget(const std::string& target) {
    std::error_code error;
    if (fs::is_symlink(target, error)) {
        fs::path resolved = fs::canonical(target, error);
        if (!error) {
            return resolved;
        }
    }
    return target;
}

fs::path folderOf(const fs::path& path) {
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

} // namespace

ReplacementFile::~ReplacementFile() {
    discard();
}

ReplaceOpen ReplacementFile::open(const std::string& target, std::string_view tempPrefix) {
    discard();
    m_target = resolveTarget(target);
    struct stat existing {};
    const bool exists = ::stat(m_target.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) {
        return ReplaceOpen::TargetUnusable;
    }
    if (exists && S_ISDIR(existing.st_mode)) {
        return ReplaceOpen::TargetIsFolder;
    }
    if (exists && ::access(m_target.c_str(), W_OK) != 0) {
        return ReplaceOpen::TargetUnusable;
    }

    static std::atomic<unsigned> nextNumber{0};
    const std::string stem = std::string(tempPrefix) + std::to_string(::getpid()) + "-";
    const fs::path folder = folderOf(m_target);
    for (int attempt = 0; attempt < kTempNameAttempts && m_fd < 0; ++attempt) {
        fs::path path = folder / (stem + std::to_string(nextNumber++) + std::string(kTempSuffix));
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (m_fd >= 0) {
            m_tempPath = std::move(path);
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (m_fd < 0) {
        return ReplaceOpen::NoTempFile;
    }
    if (exists && S_ISREG(existing.st_mode)) {
        // Only a nicety: where modes cannot be set (FAT) the new file keeps the default.
        static_cast<void>(::fchmod(m_fd, existing.st_mode & kPermissionBits));
    }
    return ReplaceOpen::Created;
}

bool ReplacementFile::commit() {
    if (::fsync(m_fd) != 0 || ::close(std::exchange(m_fd, -1)) != 0 ||
        ::rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
        return false;
    }
    m_tempPath.clear();
    // Makes the rename itself survive a crash. The file is complete under its name already, so
    // a folder that cannot be synced (some file systems refuse) does not fail the commit.
    const int folderFd = ::open(folderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        static_cast<void>(::fsync(folderFd));
        static_cast<void>(::close(folderFd)); // read-only: nothing to lose
    }
    return true;
}

void ReplacementFile::discard() noexcept {
    // Whatever fails here, the temporary file is dropped: its writer has given up on it.
    if (m_fd >= 0) {
        static_cast<void>(::close(std::exchange(m_fd, -1)));
    }
    if (!m_tempPath.empty()) {
        static_cast<void>(::unlink(m_tempPath.c_str()));
        m_tempPath.clear();
    }
}

} // namespace doodle
