#include "files/ReplacementFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>
#if __has_include(<linux/fs.h>)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

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
// Characters after the random ones that are a check sum of the prefix and of them: a file a
// user named like a temporary file matches by chance once in 2^24, and is never removed.
constexpr std::size_t kTempCheckChars = 4;
constexpr unsigned kAlphabetBits = 6;
constexpr uint32_t kAlphabetMask = (1U << kAlphabetBits) - 1;
// FNV-1a, 32 bits.
constexpr uint32_t kFnvOffset = 2166136261U;
constexpr uint32_t kFnvPrime = 16777619U;
// A file being written; one with this name, the writer's owner and no lock is a leftover.
constexpr std::string_view kTempSuffix = ".tmp";
// The complete new bytes while they are copied into a target rewritten in place: never taken
// for a leftover, since they may be all that is left of a save cut by a power failure.
constexpr std::string_view kKeptSuffix = ".new";

// Links followed before giving up, as the kernel does (MAXSYMLINKS).
constexpr int kMaxLinkHops = 40;
constexpr const char* kThisFolder = ".";
constexpr char kPathSeparator = '/';

// Where a temporary file goes when the target's folder takes no new files.
constexpr const char* kTempFolderVariable = "TMPDIR";
constexpr const char* kDefaultTempFolder = "/tmp";

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

// The kernel's views of itself, by the magic number statfs gives them: their "files" are
// settings and interfaces, which a sound file or a recording must never be written into.
constexpr std::array<uint32_t, 19> kPseudoFileSystems{
    0x9fa0,     // procfs
    0x62656572, // sysfs
    0x27e0eb,   // cgroup
    0x63677270, // cgroup2
    0x64626720, // debugfs
    0x74726163, // tracefs
    0x73636673, // securityfs
    0xcafe4a11, // bpffs
    0x62656570, // configfs
    0x1cd1,     // devpts
    0x6165676c, // pstore
    0xde5e81e4, // efivarfs
    0xf97cff8c, // selinuxfs
    0x43415d53, // smackfs
    0x42494e4d, // binfmt_misc
    0x65735543, // fusectl
    0x6e736673, // nsfs
    0x7655821,  // resctrl
    0x958458f6, // hugetlbfs
};

bool onPseudoFileSystem(int fd) noexcept {
    struct statfs status {};
    return ::fstatfs(fd, &status) == 0 &&
           std::find(kPseudoFileSystems.begin(), kPseudoFileSystems.end(),
                     static_cast<uint32_t>(status.f_type)) != kPseudoFileSystems.end();
}

// Whether the folder lets names be added but never renamed or removed (chattr +a or +i): a
// temporary file named there could never go again.
bool keepsEveryName(int folderFd) noexcept {
#if __has_include(<linux/fs.h>)
    const FileDescriptor folder(
        ::openat(folderFd, kThisFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int flags = 0;
    return folder.valid() && ::ioctl(folder.get(), FS_IOC_GETFLAGS, &flags) == 0 &&
           (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
#else
    static_cast<void>(folderFd);
    return false;
#endif
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder == kThisFolder ? name : folder + kPathSeparator + name;
}

// The check characters that follow `randomPart` in a temporary name given with `prefix`.
std::string tempNameCheck(std::string_view prefix, std::string_view randomPart) {
    uint32_t hash = kFnvOffset;
    for (const std::string_view part : {prefix, randomPart}) {
        for (const char c : part) {
            hash = (hash ^ static_cast<unsigned char>(c)) * kFnvPrime;
        }
    }
    std::string check;
    for (std::size_t i = 0; i < kTempCheckChars; ++i) {
        check += kTempNameAlphabet[(hash >> (i * kAlphabetBits)) & kAlphabetMask];
    }
    return check;
}

// Whether `name` is one that takeTempName gives with `prefix` and the temporary suffix.
bool isTempName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + kTempRandomChars + kTempCheckChars + kTempSuffix.size() ||
        !name.starts_with(prefix) || !name.ends_with(kTempSuffix)) {
        return false;
    }
    const std::string_view randomPart = name.substr(prefix.size(), kTempRandomChars);
    return randomPart.find_first_not_of(kTempNameAlphabet) == std::string_view::npos &&
           name.substr(prefix.size() + kTempRandomChars, kTempCheckChars) ==
               tempNameCheck(prefix, randomPart);
}

// Takes the lock that tells a leftover from a file still written: false when another run holds
// it already, which took the file for a leftover. Where the file system has no locks, the
// file is not taken for a leftover either (see removeLeftoversIn).
bool lockAsWritten(int fd) noexcept {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

// The signals that would end the process; the ones a fault or a limit raises stay deliverable.
sigset_t terminationSignals() noexcept {
    sigset_t signals;
    sigfillset(&signals);
    for (const int kept : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT, SIGXFSZ,
                           SIGXCPU, SIGKILL, SIGSTOP}) {
        sigdelset(&signals, kept);
    }
    return signals;
}

// Holds off the termination signals while it lives; they are delivered once it ends.
class HeldSignals {
public:
    HeldSignals() noexcept {
        const sigset_t held = terminationSignals();
        m_held = ::pthread_sigmask(SIG_BLOCK, &held, &m_previous) == 0;
    }
    ~HeldSignals() {
        if (m_held) {
            static_cast<void>(::pthread_sigmask(SIG_SETMASK, &m_previous, nullptr));
        }
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t m_previous{};
    bool m_held = false;
};

// The signals a user or a session sends to end a program. Another thread of the process, one
// that does not hold them off, would take them, and the default action ends the whole process.
constexpr std::array<int, 7> kEndingSignals{SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,
                                            SIGUSR1, SIGUSR2, SIGALRM};
std::array<volatile std::sig_atomic_t, kEndingSignals.size()> deferredSignals{};

extern "C" void deferSignal(int signalNumber) {
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
        if (kEndingSignals[i] == signalNumber) {
            deferredSignals[i] = 1;
        }
    }
}

// While it lives, the ending signals are recorded by whichever thread takes them, instead of
// acting; when it ends, their previous actions come back and each recorded signal is raised
// again, so it acts once the copy is complete. A signal the process ignores stays ignored. One
// at a time in a process: the actions are the process's.
class DeferredSignals {
public:
    DeferredSignals() {
        struct sigaction deferring {};
        deferring.sa_handler = deferSignal;
        deferring.sa_flags = SA_RESTART; // the other threads' calls go on as if nothing came
        sigemptyset(&deferring.sa_mask);
        for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
            deferredSignals[i] = 0;
            m_installed[i] = ::sigaction(kEndingSignals[i], nullptr, &m_previous[i]) == 0 &&
                             m_previous[i].sa_handler != SIG_IGN &&
                             ::sigaction(kEndingSignals[i], &deferring, nullptr) == 0;
        }
    }
    ~DeferredSignals() {
        for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
            if (m_installed[i]) {
                static_cast<void>(::sigaction(kEndingSignals[i], &m_previous[i], nullptr));
            }
        }
        // The calling thread holds them off until the HeldSignals that encloses this ends.
        for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
            if (m_installed[i] && deferredSignals[i] != 0) {
                static_cast<void>(::kill(::getpid(), kEndingSignals[i]));
            }
        }
    }
    DeferredSignals(const DeferredSignals&) = delete;
    DeferredSignals& operator=(const DeferredSignals&) = delete;

private:
    std::lock_guard<std::mutex> m_only{deferringNow()};
    std::array<struct sigaction, kEndingSignals.size()> m_previous{};
    std::array<bool, kEndingSignals.size()> m_installed{};

    static std::mutex& deferringNow() {
        static std::mutex mutex;
        return mutex;
    }
};

// The calls have nothing to work on here: no extended attributes on this file system, or no
// owners at all (a browser's file system).
bool unsupported(int error) noexcept {
    return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

// A new file cannot be what the old one was: the old one is rewritten in place instead.
bool cannotKeepAttributes(int error) noexcept {
    return error == EPERM || error == EACCES || unsupported(error);
}

std::optional<std::string> randomTempName(std::string_view prefix, std::string_view suffix) {
    std::array<unsigned char, kTempRandomChars> bytes{};
    if (::getentropy(bytes.data(), bytes.size()) != 0) {
        return std::nullopt;
    }
    std::string randomPart;
    for (const unsigned char byte : bytes) {
        randomPart += kTempNameAlphabet[byte % kTempNameAlphabet.size()];
    }
    std::string name(prefix);
    name += randomPart;
    name += tempNameCheck(prefix, randomPart);
    name += suffix;
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

// Gives a file the writer gave away back to the writer, who alone may then rename and remove
// it in a sticky folder.
bool takeBack(int fd) noexcept {
    return ::fchown(fd, ::geteuid(), ::getegid()) == 0;
}

// Copies bytes [from, to) of `source` to the same place in `target`.
bool copyRange(int source, int target, off_t from, off_t to) noexcept {
    // On the stack: a rewrite in place may run when memory is short.
    std::array<char, kCopyChunkBytes> chunk;
    for (off_t at = from; at < to;) {
        const std::size_t wanted = std::min(chunk.size(), static_cast<std::size_t>(to - at));
        const ssize_t count = ::pread(source, chunk.data(), wanted, at);
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
        if (!pwriteAll(target, chunk.data(), static_cast<std::size_t>(count), at)) {
            return false;
        }
        at += count;
    }
    return true;
}

// The free bytes of a file system an unprivileged writer may use; nothing when unknown.
std::optional<uint64_t> freeBytesOf(int fd) noexcept {
    struct statvfs status {};
    if (::fstatvfs(fd, &status) != 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
}

std::optional<dev_t> deviceOf(int fd) noexcept {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return std::nullopt;
    }
    return status.st_dev;
}

// Whether the kernel's protected_symlinks rule would refuse to follow the link `link` in the
// folder: one in a sticky folder anyone may write (such as /tmp), owned neither by the
// folder's owner nor by the writer, may have been planted there by another user to lead the
// writer's bytes to a file of the writer's. The links are read here, so the kernel never
// applies its rule itself.
bool isForeignLinkIn(int folderFd, const struct stat& link) noexcept {
    struct stat folder {};
    if (::fstat(folderFd, &folder) != 0) {
        return true; // nothing shows it is safe
    }
    return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0 &&
           link.st_uid != folder.st_uid && link.st_uid != ::geteuid();
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

ReplaceOpen ReplacementFile::open(const std::string& target, std::string_view tempPrefix) {
    discard();
    m_keptCopy.clear();
    m_commit = Commit::Rename;
    m_tempPrefix = tempPrefix;
    if (const ReplaceOpen located = locate(target); located != ReplaceOpen::Created) {
        return refuse(located);
    }
    if (onPseudoFileSystem(m_folderFd)) {
        errno = EPERM;
        return refuse(ReplaceOpen::TargetOnPseudoSystem);
    }
    struct stat existing {};
    if (::fstatat(m_folderFd, m_name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            return refuse(ReplaceOpen::TargetUnusable);
        }
        // A new file. A folder that keeps every name gets it written in place at commit().
        if (!keepsEveryName(m_folderFd) && createTemp(m_folderFd, m_folderPath, kNewFileMode)) {
            return ReplaceOpen::Created;
        }
        if (errno != EACCES && errno != EPERM && !keepsEveryName(m_folderFd)) {
            return refuse(ReplaceOpen::NoTempFile);
        }
        m_commit = Commit::InPlace;
        return createTempElsewhere() ? ReplaceOpen::Created : refuse(ReplaceOpen::NoTempFile);
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
// name of what is there, or of the file to create, and m_folderPath.
ReplaceOpen ReplacementFile::locate(const std::string& target) {
    fs::path path(target);
    int base = AT_FDCWD; // the folder a relative link is read from
    for (int hop = 0;; ++hop) {
        const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(kThisFolder);
        // The folder as the user would find it: a link's relative target is read from the
        // link's own folder.
        m_folderPath = folder.is_absolute() || base == AT_FDCWD
                           ? folder.string()
                           : joined(m_folderPath, folder.string());
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
        if (isForeignLinkIn(m_folderFd, status)) {
            errno = EACCES;
            return ReplaceOpen::TargetIsForeignLink;
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
    // Opened to be locked, for its attributes, and to be rewritten should it come to that:
    // for reading and writing where it may be; only for reading where it runs as a program
    // (a rename still replaces it); only for writing where it may not be read.
    m_targetFd = ::openat(m_folderFd, m_name.c_str(), O_RDWR | kTargetOpenFlags);
    if (m_targetFd < 0 && errno == ETXTBSY) {
        m_targetFd = ::openat(m_folderFd, m_name.c_str(), O_RDONLY | kTargetOpenFlags);
    }
    bool attributesReadable = true;
    if (m_targetFd < 0 && errno == EACCES) {
        m_targetFd = ::openat(m_folderFd, m_name.c_str(), O_WRONLY | kTargetOpenFlags);
        attributesReadable = false;
    }
    if (m_targetFd < 0) {
        return refuse(ReplaceOpen::TargetUnusable);
    }
    struct stat oldStatus {};
    if (::fstat(m_targetFd, &oldStatus) != 0) {
        return refuse(ReplaceOpen::TargetUnusable);
    }
    if (!S_ISREG(oldStatus.st_mode)) {
        return refuse(ReplaceOpen::TargetNotRegular);
    }
    if (onPseudoFileSystem(m_targetFd)) {
        errno = EPERM;
        return refuse(ReplaceOpen::TargetOnPseudoSystem);
    }
    if (const ReplaceOpen locked = lockTarget(m_targetFd); locked != ReplaceOpen::Created) {
        return refuse(locked);
    }
    // Every name must see the new bytes; names in such a folder could never be removed.
    if (!attributesReadable || oldStatus.st_nlink > 1 || keepsEveryName(m_folderFd)) {
        return goInPlace();
    }
    if (!createTemp(m_folderFd, m_folderPath, kPrivateMode)) {
        return errno == EACCES || errno == EPERM ? goInPlace() : refuse(ReplaceOpen::NoTempFile);
    }
    if (!takeOver(m_fd, m_targetFd, oldStatus)) {
        const int takeOverError = errno;
        dropTemp();
        if (cannotKeepAttributes(takeOverError)) {
            return goInPlace();
        }
        errno = takeOverError;
        return refuse(ReplaceOpen::NoTempFile);
    }
    m_tempOwnedByTarget = oldStatus.st_uid != ::geteuid();
    return ReplaceOpen::Created;
}

ReplaceOpen ReplacementFile::lockTarget(int targetFd) {
    if (::flock(targetFd, LOCK_EX | LOCK_NB) == 0) {
        return ReplaceOpen::Created;
    }
    if (errno == EWOULDBLOCK) {
        return ReplaceOpen::TargetBusy;
    }
    // A file system without locks (some network and FUSE ones): nobody can hold one there.
    return errno == ENOLCK || errno == EINVAL || unsupported(errno) ? ReplaceOpen::Created
                                                                    : ReplaceOpen::TargetUnusable;
}

// The old file will be rewritten by commit(), from a complete temporary file: in its folder
// where that takes new files and lets them go again, else in the temporary folder.
ReplaceOpen ReplacementFile::goInPlace() {
    m_commit = Commit::InPlace;
    if (!keepsEveryName(m_folderFd) && createTemp(m_folderFd, m_folderPath, kPrivateMode)) {
        return ReplaceOpen::Created;
    }
    return createTempElsewhere() ? ReplaceOpen::Created : refuse(ReplaceOpen::NoTempFile);
}

bool ReplacementFile::createTempElsewhere() {
    const char* variable = std::getenv(kTempFolderVariable);
    const std::string folder =
        variable != nullptr && *variable != '\0' ? variable : kDefaultTempFolder;
    const FileDescriptor folderFd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return folderFd.valid() && createTemp(folderFd.get(), folder, kPrivateMode);
}

bool ReplacementFile::createTemp(int folderFd, const std::string& folderPath, mode_t createMode) {
    m_tempFolderFd = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (m_tempFolderFd < 0) {
        return false;
    }
    m_tempFolderPath = folderPath;
    if (m_kind == TempFileKind::AnonymousWherePossible) {
        // Fails with EOPNOTSUPP, EISDIR or EINVAL where the file system or kernel lacks it; a
        // named file is tried then, and reports any other reason again.
        m_fd = ::openat(m_tempFolderFd, kThisFolder, O_TMPFILE | O_RDWR | O_CLOEXEC, createMode);
        if (m_fd >= 0) {
            // Nameless: nobody else can hold its lock.
            static_cast<void>(lockAsWritten(m_fd));
            return true;
        }
    }
    removeLeftoversIn(m_tempFolderFd);
    if (createNamedTemp(createMode)) {
        return true;
    }
    const int error = errno;
    static_cast<void>(::close(std::exchange(m_tempFolderFd, -1)));
    m_tempFolderPath.clear();
    errno = error;
    return false;
}

bool ReplacementFile::createNamedTemp(mode_t createMode) {
    return takeTempName(kTempSuffix, [this, createMode](const std::string& name) {
        m_fd = ::openat(m_tempFolderFd, name.c_str(),
                        O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, createMode);
        if (m_fd < 0) {
            return false;
        }
        // Another run may have taken it for a leftover between its creation and the lock: it
        // is still ours only if that run does not hold the lock, and the name still leads to it.
        struct stat made {};
        struct stat named {};
        if (lockAsWritten(m_fd) && ::fstat(m_fd, &made) == 0 &&
            ::fstatat(m_tempFolderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            made.st_ino == named.st_ino && made.st_dev == named.st_dev) {
            return true;
        }
        static_cast<void>(::close(std::exchange(m_fd, -1)));
        errno = EEXIST; // another name, then
        return false;
    });
}

bool ReplacementFile::nameAnonymous(std::string_view suffix) {
    const std::string ownEntry = std::string(kOwnFdFolder) + std::to_string(m_fd);
    return takeTempName(suffix, [this, &ownEntry](const std::string& name) {
        return ::linkat(AT_FDCWD, ownEntry.c_str(), m_tempFolderFd, name.c_str(),
                        AT_SYMLINK_FOLLOW) == 0;
    });
}

template <typename MakeEntry>
bool ReplacementFile::takeTempName(std::string_view suffix, MakeEntry makeEntry) {
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        std::optional<std::string> name = randomTempName(m_tempPrefix, suffix);
        if (!name) {
            return false;
        }
        if (makeEntry(*name)) {
            m_tempName = std::move(*name);
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// Removes the temporary files in the folder that a killed run of this writer left: its name
// pattern, the user's own, one name, and no lock held on it.
void ReplacementFile::removeLeftoversIn(int folderFd) const {
    const int listFd = ::openat(folderFd, kThisFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) {
        return;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::fdopendir(listFd), ::closedir);
    if (!folder) {
        static_cast<void>(::close(listFd));
        return;
    }
    const int at = ::dirfd(folder.get());
    while (const dirent* entry = ::readdir(folder.get())) {
        if (!isTempName(entry->d_name, m_tempPrefix)) {
            continue;
        }
        struct stat named {};
        if (::fstatat(at, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(named.st_mode) || named.st_uid != ::geteuid() || named.st_nlink != 1) {
            continue;
        }
        // Its mode is the old file's, which may let its owner only write it.
        int fd = ::openat(at, entry->d_name, O_RDONLY | kTargetOpenFlags);
        if (fd < 0) {
            fd = ::openat(at, entry->d_name, O_WRONLY | kTargetOpenFlags);
        }
        const FileDescriptor file(fd);
        // Removed only while its lock is held here and the name still leads to the locked file:
        // a run that made a file of that name since cannot lock it, and gives the name up.
        struct stat opened {};
        struct stat stillNamed {};
        if (file.valid() && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0 &&
            ::fstat(file.get(), &opened) == 0 && opened.st_ino == named.st_ino &&
            opened.st_dev == named.st_dev &&
            ::fstatat(at, entry->d_name, &stillNamed, AT_SYMLINK_NOFOLLOW) == 0 &&
            stillNamed.st_ino == opened.st_ino && stillNamed.st_dev == opened.st_dev) {
            static_cast<void>(::unlinkat(at, entry->d_name, 0)); // best effort
        }
    }
}

std::optional<RoomShortage> ReplacementFile::shortOfRoom(uint64_t newBytes) const {
    if (m_fd < 0) {
        return std::nullopt;
    }
    // A rewrite in place grows the old file by the difference, beside the temporary file.
    uint64_t growthBytes = 0;
    struct stat target {};
    if (m_commit == Commit::InPlace && m_targetFd >= 0 && ::fstat(m_targetFd, &target) == 0 &&
        newBytes > static_cast<uint64_t>(target.st_size)) {
        growthBytes = newBytes - static_cast<uint64_t>(target.st_size);
    }
    const std::optional<dev_t> tempDevice = deviceOf(m_fd);
    const std::optional<dev_t> targetDevice = deviceOf(m_folderFd);
    const bool sameSystem = tempDevice && targetDevice && *tempDevice == *targetDevice;
    const uint64_t tempNeeds = newBytes + (sameSystem ? growthBytes : 0);
    if (const std::optional<uint64_t> free = freeBytesOf(m_fd); free && *free < tempNeeds) {
        return RoomShortage{tempNeeds, *free, m_tempFolderPath};
    }
    if (!sameSystem && growthBytes > 0) {
        if (const std::optional<uint64_t> free = freeBytesOf(m_folderFd);
            free && *free < growthBytes) {
            return RoomShortage{growthBytes, *free, m_folderPath};
        }
    }
    return std::nullopt;
}

bool ReplacementFile::commit() {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (::fsync(m_fd) != 0) {
        return false;
    }
    if (m_commit == Commit::Rename && !renameOverTarget()) {
        // The folder keeps the old file's name (a sticky folder and another user's file): its
        // bytes are rewritten instead.
        if (errno != EPERM && errno != EACCES) {
            return false;
        }
        m_commit = Commit::InPlace;
    }
    if (m_commit == Commit::InPlace && !rewriteInPlace()) {
        return false;
    }
    // Makes the rename or the new name itself survive a crash. The file is complete under its
    // name already, so a folder that cannot be synced (some file systems refuse) does not fail
    // the commit.
    const FileDescriptor folder(
        ::openat(m_folderFd, kThisFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) {
        static_cast<void>(::fsync(folder.get()));
    }
    // Synced already: a close can lose nothing more.
    static_cast<void>(::close(std::exchange(m_fd, -1)));
    discard();
    return true;
}

bool ReplacementFile::renameOverTarget() {
    if (m_targetFd < 0) {
        return placeNew();
    }
    if (m_tempName.empty() && !nameAnonymous(kTempSuffix)) {
        return false;
    }
    if (::renameat(m_tempFolderFd, m_tempName.c_str(), m_folderFd, m_name.c_str()) != 0) {
        return false;
    }
    m_tempName.clear();
    return true;
}

// A new name had no lock to take: of two writers of it, the one that commits second finds the
// name taken (EEXIST) and leaves the other's file as it is.
bool ReplacementFile::placeNew() {
    if (m_tempName.empty()) {
        const std::string ownEntry = std::string(kOwnFdFolder) + std::to_string(m_fd);
        if (::linkat(AT_FDCWD, ownEntry.c_str(), m_folderFd, m_name.c_str(), AT_SYMLINK_FOLLOW) ==
            0) {
            return true;
        }
        if (errno == EEXIST || !nameAnonymous(kTempSuffix)) {
            return false;
        }
    }
    if (::renameat2(m_tempFolderFd, m_tempName.c_str(), m_folderFd, m_name.c_str(),
                    RENAME_NOREPLACE) == 0) {
        m_tempName.clear();
        return true;
    }
    // A file system without the flag (some FUSE ones): a link never replaces a name either.
    if (errno != EINVAL && errno != ENOSYS && !unsupported(errno)) {
        return false;
    }
    if (::linkat(m_tempFolderFd, m_tempName.c_str(), m_folderFd, m_name.c_str(), 0) != 0) {
        return false;
    }
    // The file is complete under its name; the second name is only a stray.
    static_cast<void>(::unlinkat(m_tempFolderFd, m_tempName.c_str(), 0));
    m_tempName.clear();
    return true;
}

bool ReplacementFile::rewriteInPlace() {
    // The target as open() found it, where that may be written; a new one where the folder
    // keeps every name.
    const bool writable = m_targetFd >= 0 && (::fcntl(m_targetFd, F_GETFL) & O_ACCMODE) != O_RDONLY;
    const int create = m_targetFd >= 0 ? 0 : O_CREAT | O_EXCL;
    const FileDescriptor opened(writable
                                    ? -1
                                    : ::openat(m_folderFd, m_name.c_str(),
                                               O_WRONLY | create | kTargetOpenFlags, kNewFileMode));
    const int targetFd = writable ? m_targetFd : opened.get();
    struct stat status {};
    if (targetFd < 0 || ::fstat(targetFd, &status) != 0) {
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL; // something else took the name since open()
        return false;
    }
    // From the moment the target's size may change to its last synced byte, a signal that
    // would end the process, whichever thread takes it, waits.
    const HeldSignals held;
    const DeferredSignals deferred;
    // Without a complete copy under a name, a power cut in the copy would leave only a cut file.
    if (!keepTempForCopy()) {
        return false;
    }
    if (m_copyNotice) {
        m_copyNotice(m_keptCopy);
    }
    if (!copyIntoTarget(targetFd)) {
        // The complete bytes stay under their name for the user.
        if (!m_keptCopy.empty()) {
            m_tempName.clear();
        }
        return false;
    }
    if (!removeKeptCopy()) {
        m_tempName.clear(); // written, but the copy stays: keptCopy() says where
    } else {
        m_keptCopy.clear();
    }
    return true;
}

// Gives the complete temporary file a name that a cut copy leaves for the user, and that the
// next run does not take for a leftover.
bool ReplacementFile::keepTempForCopy() {
    if (m_tempOwnedByTarget) {
        // Renamed and removed by its writer, in a sticky folder too.
        if (!takeBack(m_fd)) {
            return false;
        }
        m_tempOwnedByTarget = false;
    }
    if (m_tempName.empty()) {
        if (!nameAnonymous(kKeptSuffix)) {
            return false;
        }
    } else {
        const std::string named = m_tempName;
        const bool renamed = takeTempName(kKeptSuffix, [this, &named](const std::string& name) {
            return ::linkat(m_tempFolderFd, named.c_str(), m_tempFolderFd, name.c_str(), 0) == 0;
        });
        if (!renamed) {
            m_tempName = named;
            return false;
        }
        static_cast<void>(::unlinkat(m_tempFolderFd, named.c_str(), 0));
    }
    m_keptCopy = joined(m_tempFolderPath, m_tempName);
    return true;
}

// The target takes the temporary file's bytes. Its new size is claimed first, so that a full
// disk or a file size limit fails before one old byte is overwritten. The caller holds the
// termination signals off.
bool ReplacementFile::copyIntoTarget(int targetFd) {
    struct stat temp {};
    struct stat target {};
    if (::fstat(m_fd, &temp) != 0 || ::fstat(targetFd, &target) != 0) {
        return false;
    }
    // Where the file system cannot, glibc emulates it by writing a zero into each block that
    // reads as zero: no old byte changes. That needs a readable file; EBADF means it was not.
    if (temp.st_size > 0) {
        const int claimed = ::posix_fallocate(targetFd, 0, temp.st_size);
        if (claimed != 0 && !unsupported(claimed) && claimed != EINVAL && claimed != EBADF) {
            errno = claimed;
            return false;
        }
    }
    // Where the room could not be claimed, the bytes past the old end go first: they claim it.
    // Should that fail (a full disk after all), the old bytes are still whole: the file is cut
    // back to them.
    const off_t common = std::min(temp.st_size, target.st_size);
    if (!copyRange(m_fd, targetFd, common, temp.st_size)) {
        const int reason = errno;
        // Should this fail too, the copy's error is still the one to report.
        [[maybe_unused]] const bool cutBack = ::ftruncate(targetFd, target.st_size) == 0;
        errno = reason;
        return false;
    }
    return copyRange(m_fd, targetFd, 0, common) && ::ftruncate(targetFd, temp.st_size) == 0 &&
           ::fsync(targetFd) == 0;
}

bool ReplacementFile::removeKeptCopy() {
    return m_tempName.empty() || ::unlinkat(m_tempFolderFd, m_tempName.c_str(), 0) == 0;
}

ReplaceOpen ReplacementFile::refuse(ReplaceOpen result) noexcept {
    const int reason = errno;
    discard();
    errno = reason;
    return result;
}

void ReplacementFile::dropTemp() noexcept {
    // Whatever fails here, the temporary file is dropped: its writer has given up on it. An
    // anonymous one goes with its descriptor.
    if (!m_tempName.empty() && m_tempOwnedByTarget && m_fd >= 0) {
        // A sticky folder lets only a file's owner remove it, and the file was given the
        // target's owner: it is taken back first.
        static_cast<void>(takeBack(m_fd));
    }
    if (m_fd >= 0) {
        static_cast<void>(::close(std::exchange(m_fd, -1)));
    }
    if (!m_tempName.empty()) {
        static_cast<void>(::unlinkat(m_tempFolderFd, m_tempName.c_str(), 0));
        m_tempName.clear();
    }
    if (m_tempFolderFd >= 0) {
        static_cast<void>(::close(std::exchange(m_tempFolderFd, -1))); // O_PATH
    }
    m_tempFolderPath.clear();
    m_tempOwnedByTarget = false;
}

void ReplacementFile::discard() noexcept {
    dropTemp();
    if (m_targetFd >= 0) {
        static_cast<void>(::close(std::exchange(m_targetFd, -1))); // releases the lock
    }
    if (m_folderFd >= 0) {
        static_cast<void>(::close(std::exchange(m_folderFd, -1))); // O_PATH: nothing to lose
    }
    m_name.clear();
}

} // namespace doodle
