#pragma once

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
    TargetNotRegular, // a device, FIFO or socket: a file must not take its place
    NoTempFile,       // nothing could be created in the target's folder
};

// Where the new bytes go until commit().
enum class TempFileKind {
    AnonymousWherePossible, // O_TMPFILE, named only just before the rename; else Named
    Named,                  // "<tempPrefix><random>.tmp" from the start
};

// What the caller does with fd().
enum class ReplaceAccess {
    ReadWrite, // reads back what it wrote: a file it may not read is never rewritten in place
    WriteOnly, // only writes: a file it may write but not read can be rewritten in place
};

// A new file that takes the place of its target only once complete: it is written into a
// temporary file in the target's folder, given the target's owner, group, mode, extended
// attributes and ACL, and renamed over the target by commit(). Until then, and after any
// failure, a file under the target's name keeps what it had, and the temporary file is removed
// by discard() or the destructor. Where the file system allows it the temporary file has no
// name until commit(), so a killed process leaves nothing behind. Its name is unpredictable, so
// files planted in a shared folder cannot block it, and everything is done relative to the
// opened folder, so a target whose path is as long as the system allows still works.
//
// The exception: where a new file could not be what the old one was, the old file is rewritten
// in place (truncated by open(), synced by commit()), as a plain save would; a failure then
// leaves it incomplete. That is a file with more than one name (every name must see the new
// bytes), one whose owner or group the user cannot give to a new file, one whose attributes
// cannot be read or carried over, one in a folder where no file can be created, and, at
// commit(), one in a folder that refuses the rename (a sticky folder).
class ReplacementFile {
public:
    explicit ReplacementFile(TempFileKind kind = TempFileKind::AnonymousWherePossible) noexcept
        : m_kind(kind) {}
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // A symbolic link as `target` stays a link: the file it points to is replaced, or created
    // when the link dangles, as writing through it would. A folder, a device, a FIFO or a
    // socket is refused, and so is an existing file the user may not write: renaming over it
    // would work, but the user who took write permission away meant it to stay as it is. With
    // ReadWrite, a file that must be rewritten in place but may not be read is refused too,
    // with EACCES, before anything is touched. A new file gets rw for everyone narrowed by the
    // umask, as any new file does.
    ReplaceOpen open(const std::string& target, std::string_view tempPrefix,
                     ReplaceAccess access = ReplaceAccess::ReadWrite);

    // The file being written, open for writing, and for reading too unless the caller asked
    // for WriteOnly; -1 when there is none.
    int fd() const noexcept { return m_fd; }

    // Syncs the file, renames it over the target and syncs the folder. False, with errno set,
    // when the file may not be complete under the target's name; the temporary file is then
    // left for discard() or the destructor.
    bool commit();

    // Closes and removes an uncommitted temporary file; the target is left as it was.
    void discard() noexcept;

private:
    enum class Mode { None, Anonymous, Named, InPlace };

    ReplaceOpen locate(const std::string& target);
    ReplaceOpen replaceExisting();
    bool createTemp(mode_t createMode);
    // Makes an entry under a new temporary name in the folder: makeEntry(name) creates it and
    // returns whether it did, with errno EEXIST when the name was taken.
    template <typename MakeEntry>
    bool takeTempName(MakeEntry makeEntry);
    bool nameAnonymous();
    ReplaceOpen openInPlace();
    bool rewriteTargetFromTemp();
    // Removes the temporary file's name once its bytes were copied to the target.
    bool removeTempName();
    // Closes everything, keeping errno, and returns `result`.
    ReplaceOpen refuse(ReplaceOpen result) noexcept;
    // Closes and removes the temporary file, or closes the file rewritten in place.
    void dropFile() noexcept;

    TempFileKind m_kind = TempFileKind::AnonymousWherePossible;
    ReplaceAccess m_access = ReplaceAccess::ReadWrite;
    Mode m_mode = Mode::None;
    int m_folderFd = -1;        // the target's folder, links resolved (O_PATH)
    std::string m_name{};       // the target's name in that folder
    std::string m_tempPrefix{}; // from open()
    std::string m_tempName{};   // in the folder; empty while anonymous, once renamed or removed
    int m_fd = -1;
};

} // namespace doodle
