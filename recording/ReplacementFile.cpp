#include "recording/ReplacementFile.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

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

// Links followed before giving up, as the kernel does (MAXSYMLINKS); stat then says ELOOP.
constexpr int kMaxLinkHops = 40;

// An anonymous file is given a name through its /proc entry: linkat with AT_EMPTY_PATH would
// need CAP_DAC_READ_SEARCH.
constexpr std::string_view kOwnFdFolder = "/proc/self/fd/";

std::atomic<unsigned> nextTempNumber{0};

// The file a name ends at once every symbolic link in the last place is followed, existing or
// not: a dangling link names the file to create. Folders on the way are left to the kernel.
fs::path resolveLinks(const fs::path& target) {
    fs::path path = target;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return path;
        }
        std::vector<char> linkText(static_cast<std::size_t>(status.st_size) + 1);
        const ssize_t length = ::readlink(path.c_str(), linkText.data(), linkText.size());
        if (length < 0 || static_cast<std::size_t>(length) >= linkText.size()) {
            return path; // changed meanwhile: stat reports on what is there
        }
        const fs::path next(std::string(linkText.data(), static_cast<std::size_t>(length)));
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path;
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
    m_target = resolveLinks(target);
    m_tempStem = std::string(tempPrefix) + std::to_string(::getpid()) + "-";
    struct stat existing {};
    const bool exists = ::stat(m_target.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) {
        return ReplaceOpen::TargetUnusable;
    }
    if (exists && S_ISDIR(existing.st_mode)) {
        return ReplaceOpen::TargetIsFolder;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        return ReplaceOpen::TargetNotRegular;
    }
    // The effective ids decide, as they do for the writes that follow.
    if (exists && ::faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0) {
        return ReplaceOpen::TargetUnusable;
    }

    const fs::path folder = folderOf(m_target);
    if (m_kind == TempFileKind::AnonymousWherePossible) {
        // Fails with EOPNOTSUPP, EISDIR or EINVAL where the file system or kernel lacks it; a
        // named file is tried then, and reports any other reason again.
        m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, kNewFileMode);
        m_mode = m_fd >= 0 ? Mode::Anonymous : Mode::None;
    }
    if (m_fd < 0 && !createNamed(folder)) {
        const int createError = errno;
        if (exists && (createError == EACCES || createError == EPERM)) {
            return openInPlace();
        }
        errno = createError;
        return ReplaceOpen::NoTempFile;
    }
    if (exists) {
        // Only a nicety: where modes cannot be set (FAT) the new file keeps the default.
        static_cast<void>(::fchmod(m_fd, existing.st_mode & kPermissionBits));
    }
    return ReplaceOpen::Created;
}

bool ReplacementFile::createNamed(const fs::path& folder) {
    return takeTempName(folder, [this](const fs::path& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        return m_fd >= 0;
    });
}

// The folder takes no new file but the file itself may be written: it is truncated here and
// written directly. O_NONBLOCK and the type check on the open file keep a FIFO or device that
// took the name meanwhile from blocking or being written.
ReplaceOpen ReplacementFile::openInPlace() {
    constexpr int kFlags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    m_fd = ::open(m_target.c_str(), O_RDWR | kFlags);
    if (m_fd < 0 && errno == EACCES) {
        m_fd = ::open(m_target.c_str(), O_WRONLY | kFlags); // a file that may not be read
    }
    if (m_fd < 0) {
        return ReplaceOpen::TargetUnusable;
    }
    m_mode = Mode::InPlace;
    struct stat opened {};
    if (::fstat(m_fd, &opened) != 0) {
        discard();
        return ReplaceOpen::TargetUnusable;
    }
    if (!S_ISREG(opened.st_mode)) {
        discard();
        return ReplaceOpen::TargetNotRegular;
    }
    if (::ftruncate(m_fd, 0) != 0) {
        const int truncateError = errno;
        discard();
        errno = truncateError;
        return ReplaceOpen::TargetUnusable;
    }
    return ReplaceOpen::Created;
}

bool ReplacementFile::nameAnonymous() {
    const std::string ownEntry = std::string(kOwnFdFolder) + std::to_string(m_fd);
    return takeTempName(folderOf(m_target), [&ownEntry](const fs::path& path) {
        return ::linkat(AT_FDCWD, ownEntry.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
}

template <typename MakeEntry>
bool ReplacementFile::takeTempName(const fs::path& folder, MakeEntry makeEntry) {
    // Another process (or another file of this one) may hold a name: the next number is tried.
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        fs::path path =
            folder / (m_tempStem + std::to_string(nextTempNumber++) + std::string(kTempSuffix));
        if (makeEntry(path)) {
            m_tempPath = std::move(path);
            m_mode = Mode::Named;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

bool ReplacementFile::commit() {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (::fsync(m_fd) != 0) {
        return false;
    }
    if (m_mode == Mode::InPlace) {
        if (::close(std::exchange(m_fd, -1)) != 0) {
            return false;
        }
        m_mode = Mode::None;
        return true;
    }
    if ((m_mode == Mode::Anonymous && !nameAnonymous()) || ::close(std::exchange(m_fd, -1)) != 0 ||
        ::rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
        return false;
    }
    m_tempPath.clear();
    m_mode = Mode::None;
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
    // Whatever fails here, the temporary file is dropped: its writer has given up on it. An
    // anonymous one goes with its descriptor.
    if (m_fd >= 0) {
        static_cast<void>(::close(std::exchange(m_fd, -1)));
    }
    if (!m_tempPath.empty()) {
        static_cast<void>(::unlink(m_tempPath.c_str()));
        m_tempPath.clear();
    }
    m_mode = Mode::None;
}

} // namespace doodle
