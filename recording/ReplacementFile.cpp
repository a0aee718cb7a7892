#include "recording/ReplacementFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace doodle {
namespace {

namespace fs = std::filesystem;

// rw for everyone, narrowed by the umask as for any new file.
constexpr mode_t kNewFileMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
// A replacement is its writer's alone until it has the old file's attributes (setting user.*
// attributes needs write permission); it takes the old file's mode last.
constexpr mode_t kPrivateMode = S_IRUSR | S_IWUSR;
constexpr mode_t kModeBits = S_ISUID | S_ISGID | S_ISVTX | S_IRWXU | S_IRWXG | S_IRWXO;

// Names tried for the temporary file before giving up: with 72 random bits a clash is
// vanishingly rare, however many files others planted in the folder.
constexpr int kTempNameAttempts = 100;
constexpr std::string_view kTempNameAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"; // 6 bits a character
constexpr std::size_t kTempRandomChars = 12;
constexpr std::string_view kTempSuffix = ".tmp";

// Links followed before giving up, as the kernel does (MAXSYMLINKS).
constexpr int kMaxLinkHops = 40;
constexpr const char* kThisFolder = ".";

// An anonymous file is given a name through its /proc entry: linkat with AT_EMPTY_PATH would
// need CAP_DAC_READ_SEARCH.
constexpr std::string_view kOwnFdFolder = "/proc/self/fd/";

// The target itself is opened without blocking (a FIFO that took the name meanwhile), without
// becoming a controlling terminal and without following a link that took it.
constexpr int kTargetOpenFlags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW;

// The temporary file's bytes move to a target rewritten in place in pieces this large.
constexpr std::size_t kCopyChunkBytes = std::size_t{1} << 16;

// Tries of a query whose answer grew between asking its size and reading it.
constexpr int kAttributeReadAttempts = 8;

// The calls have nothing to work on here: no extended attributes on this file system, or no
// owners at all (a browser's file system).
bool unsupported(int error) noexcept {
    return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

// A new file cannot be what the old one was: the old one is rewritten in place instead.
bool cannotKeepAttributes(int error) noexcept {
    return error == EPERM || error == EACCES || unsupported(error);
}

std::optional<std::string> randomTempName(std::string_view prefix) {
    std::array<unsigned char, kTempRandomChars> bytes{};
    if (::getentropy(bytes.data(), bytes.size()) != 0) {
        return std::nullopt;
    }
    std::string name(prefix);
    for (const unsigned char byte : bytes) {
        name += kTempNameAlphabet[byte % kTempNameAlphabet.size()];
    }
    name += kTempSuffix;
    return name;
}

// Reads a list or a value whose size is asked with a null buffer first; nullopt, with errno,
// when the call fails.
template <typename Query>
std::optional<std::vector<char>> readSized(Query query) {
    for (int attempt = 0; attempt < kAttributeReadAttempts; ++attempt) {
        const ssize_t size = query(nullptr, 0);
        if (size < 0) {
            return std::nullopt;
        }
        std::vector<char> bytes(static_cast<std::size_t>(size));
        const ssize_t read = query(bytes.data(), bytes.size());
        if (read >= 0) {
            bytes.resize(static_cast<std::size_t>(read));
            return bytes;
        }
        if (errno != ERANGE) {
            return std::nullopt;
        }
    }
    return std::nullopt; // errno is ERANGE
}

// The names of a file's extended attributes (its ACL among them); none where the file system
// has none.
std::optional<std::vector<std::string>> attributeNames(int fd) {
    const std::optional<std::vector<char>> list =
        readSized([fd](char* buffer, std::size_t size) { return ::flistxattr(fd, buffer, size); });
    if (!list) {
        return unsupported(errno) ? std::optional(std::vector<std::string>{}) : std::nullopt;
    }
    std::vector<std::string> names;
    for (auto at = list->begin(); at != list->end();) {
        const auto end = std::find(at, list->end(), '\0');
        names.emplace_back(at, end);
        at = end == list->end() ? end : end + 1;
    }
    return names;
}

// Gives `to` exactly the extended attributes of `from`, access ACL included; false, with
// errno, where it cannot.
bool copyAttributes(int from, int to) {
    const std::optional<std::vector<std::string>> oldNames = attributeNames(from);
    const std::optional<std::vector<std::string>> newNames = attributeNames(to);
    if (!oldNames || !newNames) {
        return false;
    }
    // What the new file got by itself, such as an ACL inherited from the folder, goes.
    for (const std::string& name : *newNames) {
        if (std::find(oldNames->begin(), oldNames->end(), name) == oldNames->end() &&
            ::fremovexattr(to, name.c_str()) != 0 && errno != ENODATA) {
            return false;
        }
    }
    for (const std::string& name : *oldNames) {
        const std::optional<std::vector<char>> value =
            readSized([from, &name](char* buffer, std::size_t size) {
                return ::fgetxattr(from, name.c_str(), buffer, size);
            });
        if (!value) {
            if (errno == ENODATA) {
                continue; // removed meanwhile
            }
            return false;
        }
        if (::fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0) {
            return false;
        }
    }
    return true;
}

// Gives the temporary file `temp` the owner, group, extended attributes, ACL and mode of the
// old file `old`; false, with errno, where it cannot.
bool takeOver(int temp, int old, const struct stat& oldStatus) {
    struct stat made {};
    if (::fstat(temp, &made) != 0) {
        return false;
    }
    // Only root may give a file away; anyone may keep their own and give it a group of theirs.
    if ((made.st_uid != oldStatus.st_uid || made.st_gid != oldStatus.st_gid) &&
        ::fchown(temp, oldStatus.st_uid, oldStatus.st_gid) != 0 && !unsupported(errno)) {
        return false;
    }
    if (!copyAttributes(old, temp)) {
        return false;
    }
    // Last: a new owner or ACL may have changed the mode, and the set-id bits go with a chown.
    // Only a change is asked for: changing the mode of another user's file needs CAP_FOWNER.
    if (::fstat(temp, &made) != 0) {
        return false;
    }
    const mode_t mode = oldStatus.st_mode & kModeBits;
    return (made.st_mode & kModeBits) == mode || ::fchmod(temp, mode) == 0 || unsupported(errno);
}

bool pwriteAll(int fd, const char* bytes, std::size_t byteCount, off_t offset) noexcept {
    while (byteCount > 0) {
        const ssize_t written = ::pwrite(fd, bytes, byteCount, offset);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO; // no progress and no reason
            }
            return false;
        }
        bytes += written;
        byteCount -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

} // namespace

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0) {
        // Nothing depends on this close: errors were already seen or the file is dropped.
        static_cast<void>(::close(m_fd));
    }
}

ReplacementFile::~ReplacementFile() {
    discard();
}

ReplaceOpen ReplacementFile::open(const std::string& target, std::string_view tempPrefix,
                                  ReplaceAccess access) {
    discard();
    m_access = access;
    m_tempPrefix = tempPrefix;
    if (const ReplaceOpen located = locate(target); located != ReplaceOpen::Created) {
        return refuse(located);
    }
    struct stat existing {};
    if (::fstatat(m_folderFd, m_name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            return refuse(ReplaceOpen::TargetUnusable);
        }
        return createTemp(kNewFileMode) ? ReplaceOpen::Created : refuse(ReplaceOpen::NoTempFile);
    }
    if (S_ISDIR(existing.st_mode)) {
        return refuse(ReplaceOpen::TargetIsFolder);
    }
    if (!S_ISREG(existing.st_mode)) {
        return refuse(ReplaceOpen::TargetNotRegular);
    }
    // The effective ids decide, as they do for the writes that follow.
    if (::faccessat(m_folderFd, m_name.c_str(), W_OK, AT_EACCESS) != 0) {
        return refuse(ReplaceOpen::TargetUnusable);
    }
    return replaceExisting();
}

// Follows the links in the last place of `target` from folder to folder, each opened in turn,
// so that no path longer than the user's own is ever formed. Sets m_folderFd and m_name, the
// name of what is there, or of the file to create.
ReplaceOpen ReplacementFile::locate(const std::string& target) {
    fs::path path(target);
    int base = AT_FDCWD; // the folder a relative link is read from
    for (int hop = 0;; ++hop) {
        const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(kThisFolder);
        const int folderFd = ::openat(base, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int folderError = errno;
        if (base != AT_FDCWD) {
            static_cast<void>(::close(base)); // O_PATH: nothing written through it
        }
        if (folderFd < 0) {
            errno = folderError;
            return folderError == ENOENT ? ReplaceOpen::NoTempFile : ReplaceOpen::TargetUnusable;
        }
        m_folderFd = folderFd;
        // "a/" and "a/." name the folder a itself.
        m_name = path.has_filename() ? path.filename().string() : kThisFolder;
        struct stat status {};
        if (::fstatat(m_folderFd, m_name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(status.st_mode)) {
            return ReplaceOpen::Created; // open() looks at what is there
        }
        if (hop == kMaxLinkHops) {
            errno = ELOOP;
            return ReplaceOpen::TargetUnusable;
        }
        std::string linkText(PATH_MAX, '\0');
        const ssize_t length =
            ::readlinkat(m_folderFd, m_name.c_str(), linkText.data(), linkText.size());
        if (length < 0 || static_cast<std::size_t>(length) >= linkText.size()) {
            return ReplaceOpen::Created; // changed meanwhile: open() reports on what is there
        }
        linkText.resize(static_cast<std::size_t>(length));
        path = linkText;
        base = std::exchange(m_folderFd, -1);
    }
}

// A regular file the user may write is under the name.
ReplaceOpen ReplacementFile::replaceExisting() {
    // Its attributes are read from the file itself, which must then be readable.
    const FileDescriptor old(::openat(m_folderFd, m_name.c_str(), O_RDONLY | kTargetOpenFlags));
    if (!old.valid()) {
        return errno == EACCES ? openInPlace() : refuse(ReplaceOpen::TargetUnusable);
    }
    struct stat oldStatus {};
    if (::fstat(old.get(), &oldStatus) != 0) {
        return refuse(ReplaceOpen::TargetUnusable);
    }
    if (!S_ISREG(oldStatus.st_mode)) {
        return refuse(ReplaceOpen::TargetNotRegular);
    }
    if (oldStatus.st_nlink > 1) {
        return openInPlace(); // every name must see the new bytes
    }
    if (!createTemp(kPrivateMode)) {
        return errno == EACCES || errno == EPERM ? openInPlace() : refuse(ReplaceOpen::NoTempFile);
    }
    if (!takeOver(m_fd, old.get(), oldStatus)) {
        const int takeOverError = errno;
        dropFile();
        if (cannotKeepAttributes(takeOverError)) {
            return openInPlace();
        }
        errno = takeOverError;
        return refuse(ReplaceOpen::NoTempFile);
    }
    return ReplaceOpen::Created;
}

bool ReplacementFile::createTemp(mode_t createMode) {
    if (m_kind == TempFileKind::AnonymousWherePossible) {
        // Fails with EOPNOTSUPP, EISDIR or EINVAL where the file system or kernel lacks it; a
        // named file is tried then, and reports any other reason again.
        m_fd = ::openat(m_folderFd, kThisFolder, O_TMPFILE | O_RDWR | O_CLOEXEC, createMode);
        if (m_fd >= 0) {
            m_mode = Mode::Anonymous;
            return true;
        }
    }
    return takeTempName([this, createMode](const std::string& name) {
        m_fd = ::openat(m_folderFd, name.c_str(),
                        O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, createMode);
        return m_fd >= 0;
    });
}

bool ReplacementFile::nameAnonymous() {
    const std::string ownEntry = std::string(kOwnFdFolder) + std::to_string(m_fd);
    return takeTempName([this, &ownEntry](const std::string& name) {
        return ::linkat(AT_FDCWD, ownEntry.c_str(), m_folderFd, name.c_str(), AT_SYMLINK_FOLLOW) ==
               0;
    });
}

template <typename MakeEntry>
bool ReplacementFile::takeTempName(MakeEntry makeEntry) {
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        std::optional<std::string> name = randomTempName(m_tempPrefix);
        if (!name) {
            return false;
        }
        if (makeEntry(*name)) {
            m_tempName = std::move(*name);
            m_mode = Mode::Named;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// The old file is truncated here and written directly. The type check on the open file keeps a
// FIFO or device that took the name meanwhile from being written.
ReplaceOpen ReplacementFile::openInPlace() {
    m_fd = ::openat(m_folderFd, m_name.c_str(), O_RDWR | kTargetOpenFlags);
    if (m_fd < 0 && errno == EACCES && m_access == ReplaceAccess::WriteOnly) {
        m_fd = ::openat(m_folderFd, m_name.c_str(), O_WRONLY | kTargetOpenFlags);
    }
    if (m_fd < 0) {
        return refuse(ReplaceOpen::TargetUnusable);
    }
    m_mode = Mode::InPlace;
    struct stat opened {};
    if (::fstat(m_fd, &opened) != 0) {
        return refuse(ReplaceOpen::TargetUnusable);
    }
    if (!S_ISREG(opened.st_mode)) {
        return refuse(ReplaceOpen::TargetNotRegular);
    }
    if (::ftruncate(m_fd, 0) != 0) {
        return refuse(ReplaceOpen::TargetUnusable);
    }
    return ReplaceOpen::Created;
}

bool ReplacementFile::commit() {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (::fsync(m_fd) != 0) {
        return false;
    }
    if (m_mode != Mode::InPlace) {
        if (m_mode == Mode::Anonymous && !nameAnonymous()) {
            return false;
        }
        if (::renameat(m_folderFd, m_tempName.c_str(), m_folderFd, m_name.c_str()) != 0) {
            // The folder keeps the old file's name (a sticky folder and another user's file):
            // its bytes are rewritten instead, and the temporary file goes.
            if ((errno != EPERM && errno != EACCES) || !rewriteTargetFromTemp() ||
                !removeTempName()) {
                return false;
            }
        }
        m_tempName.clear();
        // Makes the rename itself survive a crash. The file is complete under its name
        // already, so a folder that cannot be synced (some file systems refuse) does not fail
        // the commit.
        const FileDescriptor folder(
            ::openat(m_folderFd, kThisFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.valid()) {
            static_cast<void>(::fsync(folder.get()));
        }
    }
    // Synced already: a close can lose nothing more.
    static_cast<void>(::close(std::exchange(m_fd, -1)));
    discard();
    return true;
}

bool ReplacementFile::rewriteTargetFromTemp() {
    const FileDescriptor target(::openat(m_folderFd, m_name.c_str(), O_WRONLY | kTargetOpenFlags));
    struct stat status {};
    if (!target.valid() || ::fstat(target.get(), &status) != 0) {
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL; // something else took the name since open()
        return false;
    }
    // Exactly the temporary file's bytes: nothing else writes to it any more. On the stack: this
    // fallback may run when memory is short.
    struct stat temp {};
    if (::fstat(m_fd, &temp) != 0) {
        return false;
    }
    std::array<char, kCopyChunkBytes> chunk;
    off_t copied = 0;
    while (copied < temp.st_size) {
        const std::size_t wanted =
            std::min(chunk.size(), static_cast<std::size_t>(temp.st_size - copied));
        const ssize_t count = ::pread(m_fd, chunk.data(), wanted, copied);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            errno = EIO; // the file shrank under us
            return false;
        }
        if (!pwriteAll(target.get(), chunk.data(), static_cast<std::size_t>(count), copied)) {
            return false;
        }
        copied += count;
    }
    return ::ftruncate(target.get(), copied) == 0 && ::fsync(target.get()) == 0;
}

bool ReplacementFile::removeTempName() {
    if (::unlinkat(m_folderFd, m_tempName.c_str(), 0) == 0) {
        return true;
    }
    // A sticky folder lets only a file's owner remove it, and the file was given the target's
    // owner: it is taken back first.
    if (errno != EPERM || ::fchown(m_fd, ::geteuid(), ::getegid()) != 0) {
        return false;
    }
    return ::unlinkat(m_folderFd, m_tempName.c_str(), 0) == 0;
}

ReplaceOpen ReplacementFile::refuse(ReplaceOpen result) noexcept {
    const int reason = errno;
    discard();
    errno = reason;
    return result;
}

void ReplacementFile::dropFile() noexcept {
    // Whatever fails here, the temporary file is dropped: its writer has given up on it. An
    // anonymous one goes with its descriptor.
    if (m_fd >= 0) {
        static_cast<void>(::close(std::exchange(m_fd, -1)));
    }
    if (!m_tempName.empty()) {
        static_cast<void>(::unlinkat(m_folderFd, m_tempName.c_str(), 0));
        m_tempName.clear();
    }
    m_mode = Mode::None;
}

void ReplacementFile::discard() noexcept {
    dropFile();
    if (m_folderFd >= 0) {
        static_cast<void>(::close(std::exchange(m_folderFd, -1))); // O_PATH: nothing to lose
    }
    m_name.clear();
}

} // namespace doodle
