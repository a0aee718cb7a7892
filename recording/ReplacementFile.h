#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace doodle {

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
    Named,                  // "<tempPrefix><pid>-<n>.tmp" from the start
};

// A new file that takes the place of its target only once complete: it is written into a
// temporary file in the target's folder and renamed over the target by commit(). Until then,
// and after any failure, a file under the target's name keeps what it had, and the temporary
// file is removed by discard() or the destructor. Where the file system allows it the
// temporary file has no name until commit(), so a killed process leaves nothing behind.
//
// One exception: an existing file that the user may write, in a folder where no file can be
// created, is rewritten in place (truncated by open(), synced by commit()), as a plain save
// would; a failure then leaves it incomplete.
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
    // would work, but the user who took write permission away meant it to stay as it is. The
    // temporary file is created empty with a replaced regular file's permission bits, else rw
    // for everyone narrowed by the umask, as for any new file.
    ReplaceOpen open(const std::string& target, std::string_view tempPrefix);

    // The file being written, open for reading and writing; -1 when there is none.
    int fd() const noexcept { return m_fd; }
    // The target itself is being rewritten (see the class comment).
    bool inPlace() const noexcept { return m_mode == Mode::InPlace; }

    // Syncs and closes the file, renames it over the target and syncs the folder. False, with
    // errno set, when the file may not be complete under the target's name; the temporary file
    // is then left for discard() or the destructor.
    bool commit();

    // Closes and removes an uncommitted temporary file; the target is left as it was.
    void discard() noexcept;

private:
    enum class Mode { None, Anonymous, Named, InPlace };

    bool createNamed(const std::filesystem::path& folder);
    bool nameAnonymous();
    // Makes an entry under the next free temporary name in folder: makeEntry(path) creates it
    // and returns whether it did, with errno EEXIST when the name was taken.
    template <typename MakeEntry>
    bool takeTempName(const std::filesystem::path& folder, MakeEntry makeEntry);
    ReplaceOpen openInPlace();

    TempFileKind m_kind = TempFileKind::AnonymousWherePossible;
    Mode m_mode = Mode::None;
    std::filesystem::path m_target{};   // links resolved
    std::string m_tempStem{};           // "<tempPrefix><pid>-"
    std::filesystem::path m_tempPath{}; // empty while anonymous, once renamed or removed
    int m_fd = -1;
};

} // namespace doodle
