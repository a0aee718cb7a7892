#pragma once

#include "files/ReplacementFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace doodle {

// The name that stands for standard input (IN) and standard output (OUT).
inline constexpr std::string_view kStandardStreamName = "-";
// The prefix of the tool's temporary files, beside the file being written.
inline constexpr std::string_view kRenderTempPrefix = ".doodlechorus-render-";

// Where OUT's bytes go. A named file is written into a temporary file, which gives the file
// its bytes only on commit(): until then, and after any failure, a file under that name keeps
// what it had and nothing else is left behind (see ReplacementFile). "-" is standard output,
// written as the bytes come: what a failure leaves there cannot be taken back. Every failure
// leaves one line, the reason, in error().
class OutputFile {
public:
    // A symbolic link as `path` stays a link: its target is replaced. An existing file the user
    // may not write, a folder, a device, a FIFO or a socket under `path` is refused, and so is
    // one on the kernel's pseudo file systems, one another writer holds locked, and standard
    // output when it is a terminal. With `expectedBytes`, a file that would not fit in the free
    // space is refused too. A rewrite in place first says on stderr, even with --quiet, where
    // the complete new bytes stay should it be cut.
    bool open(const std::string& path, std::optional<uint64_t> expectedBytes);
    int fd() const noexcept;
    bool isStandardOutput() const noexcept { return m_standardOutput; }
    // Syncs the file and gives it its final name; nothing for standard output. A temporary
    // copy that could not be removed afterwards is named in a warning on stderr.
    bool commit();
    // Drops the temporary file; the final name is left as it was.
    void discard() noexcept { m_file.discard(); }

    // "cannot write NAME: reason", NAME quoted, or standard output.
    std::string failure(std::string_view reason) const;
    // The same with errno's reason.
    std::string systemFailure() const;
    const std::string& error() const noexcept { return m_error; }

private:
    bool fail(std::string reason);

    std::string m_displayPath{}; // as the user wrote it, for messages
    bool m_standardOutput = false;
    ReplacementFile m_file{};
    std::string m_error{};
};

} // namespace doodle
