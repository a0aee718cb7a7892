#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace doodle {

// A descriptor closed on every path; -1 holds none.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const noexcept { return m_fd; }
    bool valid() const noexcept { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// How ReplacementFile::open went. For TargetUnusable and NoTempFile, errno holds the reason.
enum class ReplaceOpen {
    Created,
    TargetUnusable, // the name cannot be looked at, or names a file the user may not write
    TargetIsFolder,
    TargetNotRegular,     // a device, FIFO or socket: a file must not take its place
    TargetOnPseudoSystem, // in the kernel's view of itself (procfs, sysfs, ...), not a file
    TargetBusy,           // another writer holds the target's lock
    TargetIsForeignLink,  // another user's link in a sticky folder anyone may write, as /tmp
    NoTempFile,           // nothing could be created for the new bytes
};

// Where the new bytes go until commit().
enum class TempFileKind {
    AnonymousWherePossible, // O_TMPFILE, named only just before the rename; else Named
    Named,                  // "<tempPrefix><random>.tmp" from the start
};

// Free space that a file of the new size would need and does not have.
struct RoomShortage {
    uint64_t neededBytes = 0;
    uint64_t freeBytes = 0;
    std::string folder{}; // the folder whose file system is short, as messages name it
};

// A new file that takes the place of its target only once complete. The new bytes are always
// written into a temporary file first, which holds a lock of its own while it is written; a
// file under the target's name keeps what it had until commit(), and after any failure.
//
// Where the new file can be all the old one was (owner, group, mode, extended attributes, ACL,
// its only name), the temporary file sits in the target's folder, takes those over, and commit()
// renames it over the target in one step. Where the file system has no anonymous files, a named
// temporary file that a killed run left behind is removed by the next run in that folder, once
// its name (the prefix, random characters and check characters computed from them, so that no
// name a user gives a file matches by chance), owner and free lock show that it is the
// leftover of such a run. A run takes the lock of a temporary file it names before anyone can
// take that file for a leftover, and a run tidying up removes a file only while it holds its
// lock and the name still leads to it.
//
// Where it cannot (a file with more than one name, one whose owner or attributes cannot be
// given, a folder where no file can be created or renamed, an append-only folder), the old file
// is rewritten in place by commit(), from the complete temporary file, which then sits in the
// folder or, where the folder takes no new files, in $TMPDIR (or /tmp). The target is first
// extended to the new size, so that a full disk or a size limit fails before one old byte is
// overwritten; then the bytes are copied, the file truncated and synced, with every signal that
// can be held off held off in the calling thread, and the signals that end a process (SIGHUP,
// SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM) deferred in every other thread: each is
// recorded and raised again once the copy is done, with the action it had before. During that copy
// the temporary file has a name (see keptCopy()), announced beforehand, so that should a kill -9 or
// a power cut stop it, the complete new bytes are still on disk.
//
// The target is locked (flock) from open() to commit() or discard(): a second writer that
// honours such locks is refused rather than mixing its bytes with these. A new name has no
// lock to take: commit() gives it the new file only while it is still free, so of two writers
// of one new name the second to commit fails (EEXIST) and leaves the first one's file whole.
// A symbolic link is not followed where the kernel's protected_symlinks rule would refuse to:
// in a sticky folder anyone may write, owned neither by the folder's owner nor by the writer. A
// target on one of the kernel's pseudo file systems is refused before anything is written.
// Everything is done relative to opened folders, so a target whose path is as long as the system
// allows works.
class ReplacementFile {
public:
    // Called with the kept copy's path just before a target is rewritten in place.
    using CopyNotice = std::function<void(const std::string& keptCopy)>;

    explicit ReplacementFile(TempFileKind kind = TempFileKind::AnonymousWherePossible) noexcept
        : m_kind(kind) {}
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // A symbolic link as `target` stays a link: the file it points to is replaced, or created
    // when the link dangles, as writing through it would. A folder, a device, a FIFO or a
    // socket is refused, and so is an existing file the user may not write: renaming over it
    // would work, but the user who took write permission away meant it to stay as it is. A new
    // file gets rw for everyone narrowed by the umask, as any new file does.
    ReplaceOpen open(const std::string& target, std::string_view tempPrefix);

    // The temporary file being written, open for reading and writing; -1 when there is none.
    int fd() const noexcept { return m_fd; }

    // The folder the target is in, links followed, as a path for messages (the folder a
    // missing-folder error is about, too, after a failed open()).
    const std::string& folderPath() const noexcept { return m_folderPath; }

    // Where a new file of `newBytes` would not fit: the file systems of the temporary file and
    // of the target, which a rewrite in place extends. Nothing when it fits, or when the free
    // space cannot be asked.
    std::optional<RoomShortage> shortOfRoom(uint64_t newBytes) const;

    void setCopyNotice(CopyNotice notice) { m_copyNotice = std::move(notice); }

    // Gives the target the new bytes: by a rename, or by a copy in place (see above). False,
    // with errno set, when the target may not hold them (EEXIST: a new name was taken
    // meanwhile); a target rewritten in place then may
    // hold a mix, and keptCopy() names the complete new bytes.
    bool commit();

    // After commit(): the path of a complete copy of the new bytes that is still on disk: the
    // copy a failed rewrite in place stopped at, or one that could not be removed after it.
    const std::string& keptCopy() const noexcept { return m_keptCopy; }

    // Closes and removes an uncommitted temporary file; the target is left as it was.
    void discard() noexcept;

private:
    enum class Commit { Rename, InPlace };

    ReplaceOpen locate(const std::string& target);
    ReplaceOpen replaceExisting();
    ReplaceOpen lockTarget(int targetFd);
    ReplaceOpen goInPlace();
    bool createTemp(int folderFd, const std::string& folderPath, mode_t createMode);
    bool createTempElsewhere();
    bool createNamedTemp(mode_t createMode);
    // Makes an entry under a new temporary name in the temporary file's folder:
    // makeEntry(name) creates it and returns whether it did, with errno EEXIST when the name was
    // taken.
    template <typename MakeEntry>
    bool takeTempName(std::string_view suffix, MakeEntry makeEntry);
    bool nameAnonymous(std::string_view suffix);
    bool renameOverTarget();
    bool placeNew();
    bool rewriteInPlace();
    bool keepTempForCopy();
    bool copyIntoTarget(int targetFd);
    bool removeKeptCopy();
    void removeLeftoversIn(int folderFd) const;
    // Closes everything, keeping errno, and returns `result`.
    ReplaceOpen refuse(ReplaceOpen result) noexcept;
    // Closes and removes the temporary file.
    void dropTemp() noexcept;

    TempFileKind m_kind = TempFileKind::AnonymousWherePossible;
    Commit m_commit = Commit::Rename;
    CopyNotice m_copyNotice{};
    int m_folderFd = -1;        // the target's folder, links resolved (O_PATH)
    std::string m_folderPath{}; // the same, for messages
    std::string m_name{};       // the target's name in that folder
    std::string m_tempPrefix{}; // from open()
    int m_targetFd = -1;        // the existing target, locked; -1 for a new one
    int m_tempFolderFd = -1;    // the temporary file's folder: m_folderFd's or another (O_PATH)
    std::string m_tempFolderPath{};
    std::string m_tempName{}; // in that folder; empty while anonymous, once renamed or removed
    bool m_tempOwnedByTarget = false; // given the target's owner: taken back before removal
    int m_fd = -1;
    std::string m_keptCopy{};
};

} // namespace doodle
