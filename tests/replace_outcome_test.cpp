#include "TempFolderTest.h"
#include "files/RecordingFiles.h"
#include "files/ReplacementFile.h"

#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace doodle {
namespace {

namespace fs = std::filesystem;
using test::ActingAs;
using test::kNobody;

constexpr std::string_view kPrefix = ".outcome-test-";

class ReplaceOutcomeTest : public test::TempFolderTest {
protected:
    static ReplaceOutcome replace(const fs::path& path, std::string_view text) {
        const std::vector<uint8_t> bytes(text.begin(), text.end());
        return replaceFileWithBytes(path.string(), bytes, kPrefix);
    }
};

// The outcome says whether the file was replaced and, when not, why in the words the render
// tool uses; the file keeps what it had.
TEST_F(ReplaceOutcomeTest, SaysWhyAFileWasNotReplaced) {
    const ReplaceOutcome made = replace(m_folder / "new", "new bytes");
    EXPECT_TRUE(made.replaced);
    EXPECT_EQ(made.reason, "");
    EXPECT_EQ(made.keptCopy, "");
    EXPECT_EQ(readBytes(m_folder / "new"), "new bytes");

    fs::create_directory(m_folder / "folder");
    const ReplaceOutcome folder = replace(m_folder / "folder", "bytes");
    EXPECT_FALSE(folder.replaced);
    EXPECT_EQ(folder.reason, "it is a folder");

    writeBytes(m_folder / "held", "old");
    const FileDescriptor holder(::open((m_folder / "held").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    const ReplaceOutcome busy = replace(m_folder / "held", "new");
    EXPECT_FALSE(busy.replaced);
    EXPECT_TRUE(busy.reason.starts_with("another program is writing it")) << busy.reason;
    EXPECT_EQ(readBytes(m_folder / "held"), "old");

    const ReplaceOutcome missing = replace(m_folder / "no folder" / "file", "bytes");
    EXPECT_FALSE(missing.replaced);
    EXPECT_EQ(missing.reason, "no file can be made in the folder '" +
                                  (m_folder / "no folder").string() +
                                  "': No such file or directory");

    if (::geteuid() != 0) {
        GTEST_SKIP() << "a full disk and another user's link need root";
    }
    const fs::path disk = m_folder / "disk";
    fs::create_directory(disk);
    ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k"), 0);
    const ReplaceOutcome full = replace(disk / "big", std::string(std::size_t{1} << 20, 'b'));
    EXPECT_FALSE(full.replaced);
    EXPECT_TRUE(full.reason.starts_with("No space left on device: it needs 1.0 MB and the file "
                                        "system of '" +
                                        disk.string() + "' has "))
        << full.reason;
    EXPECT_EQ(entries(disk), std::vector<std::string>{});
    EXPECT_EQ(::umount(disk.c_str()), 0);

    // A link another user could have planted in a folder like /tmp.
    const fs::path shared = m_folder / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    writeBytes(m_folder / "decoy", "decoy");
    fs::create_symlink(m_folder / "decoy", shared / "planted");
    ASSERT_EQ(::lchown((shared / "planted").c_str(), kNobody, kNobody), 0);
    const ReplaceOutcome planted = replace(shared / "planted", "new");
    EXPECT_FALSE(planted.replaced);
    EXPECT_TRUE(planted.reason.starts_with("it is a link another user made in a shared folder"))
        << planted.reason;
    EXPECT_EQ(readBytes(m_folder / "decoy"), "decoy");
    fs::create_symlink(m_folder / "own", shared / "own");
    EXPECT_TRUE(replace(shared / "own", "own bytes").replaced);
    EXPECT_EQ(readBytes(m_folder / "own"), "own bytes");
}

} // namespace
} // namespace doodle
