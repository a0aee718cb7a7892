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
    NoTempFile, // nothing could be created in the target's folder
};

// A new file that takes the place of its target only once complete: it is written under a
// temporary name in the target's folder and renamed over the target by commit(). Until then,
// and after any failure, a file under the target's name keeps what it had, and the temporary
// file is removed by discard() or the destructor.
class ReplacementFile {
public:
    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // A symbolic link as `target` stays a link: the file it points to is replaced, as writing
    // through it would. A folder, or an existing file the user may not write, is refused:
    // renaming over such a file would work, but the user who took write permission away meant
    // it to stay as it is. The temporary file, "<tempPrefix><pid>-<n>.tmp", is created empty
    // with a replaced regular file's permission bits, else rw for everyone narrowed by the
    // umask, as for any new file.
    ReplaceOpen open(const std::string& target, std::string_view tempPrefix);

    // The temporary file, open for reading and writing; -1 when there is none.
    int fd() const noexcept { return m_fd; }

    // Syncs and closes the file, renames it over the target and syncs the folder. False, with
    // errno set, when the file may not be complete under the target's name; the temporary file
    // is then left for discard() or the destructor.
    bool commit();

    // Closes and removes an uncommitted temporary file; the target is left as it was.
    void discard() noexcept;

private:
    std::filesystem::path m_target{};   // links resolved
    std::filesystem::path m_tempPath{}; // empty once renamed or removed
    int m_fd = -1;
};

} // namespace doodle
