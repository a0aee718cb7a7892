#include "TempFolderTest.h"
#include "recording/ReplacementFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace doodle {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = ".replace-test-";

class ReplaceFileTest : public test::TempFolderTest {
protected:
    static bool writeAll(int fd, std::string_view bytes) {
        return ::write(fd, bytes.data(), bytes.size()) == std::ssize(bytes);
    }
    static unsigned permissions(const fs::path& path) {
        struct stat status {};
        EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
        return status.st_mode & 0777U;
    }
};

TEST_F(ReplaceFileTest, ReplacesTheTargetOnlyOnCommitKeepingItsMode) {
    const fs::path target = m_folder / "tune";
    writeBytes(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ReplacementFile file(TempFileKind::Named); // an anonymous one is never seen in the folder
    ASSERT_EQ(file.open(target.string(), kPrefix), ReplaceOpen::Created);
    ASSERT_TRUE(writeAll(file.fd(), "new bytes"));

    // Until the commit the target is untouched and the new bytes sit in a file of their own.
    EXPECT_EQ(readBytes(target), "old");
    const std::vector<std::string> during = entries(m_folder);
    ASSERT_EQ(during.size(), 2U);
    const std::string& temp = during[0];
    EXPECT_TRUE(temp.starts_with(std::string(kPrefix) + std::to_string(::getpid()) + "-")) << temp;
    EXPECT_TRUE(temp.ends_with(".tmp")) << temp;
    EXPECT_EQ(permissions(m_folder / temp), 0640U);
    // The caller may read back what it wrote, as the Ogg fix-up does.
    char first = '\0';
    EXPECT_EQ(::pread(file.fd(), &first, 1, 0), 1);
    EXPECT_EQ(first, 'n');

    ASSERT_TRUE(file.commit());
    EXPECT_EQ(file.fd(), -1);
    EXPECT_EQ(readBytes(target), "new bytes");
    EXPECT_EQ(permissions(target), 0640U);
    EXPECT_EQ(entries(m_folder), std::vector<std::string>{"tune"});
}

TEST_F(ReplaceFileTest, ANewFileGetsReadWriteForEveryoneNarrowedByTheUmask) {
    const mode_t previousMask = ::umask(027);
    {
        ReplacementFile file;
        ASSERT_EQ(file.open((m_folder / "new").string(), kPrefix), ReplaceOpen::Created);
        ASSERT_TRUE(writeAll(file.fd(), "x"));
        ASSERT_TRUE(file.commit());
    }
    static_cast<void>(::umask(previousMask));
    EXPECT_EQ(readBytes(m_folder / "new"), "x");
    EXPECT_EQ(permissions(m_folder / "new"), 0640U);
}

TEST_F(ReplaceFileTest, ALinkStaysALinkAndTheTempFileGoesBesideWhatItPointsTo) {
    const fs::path other = m_folder / "other";
    fs::create_directory(other);
    writeBytes(other / "real", "old");
    fs::create_symlink(other / "real", m_folder / "link");

    ReplacementFile file(TempFileKind::Named);
    ASSERT_EQ(file.open((m_folder / "link").string(), kPrefix), ReplaceOpen::Created);
    // Renaming from the link's folder would fail across file systems, and would not stay one
    // atomic step: the temporary file is made where the real file is.
    EXPECT_EQ(entries(other).size(), 2U);
    EXPECT_EQ(entries(m_folder), (std::vector<std::string>{"link", "other"}));
    ASSERT_TRUE(writeAll(file.fd(), "new"));
    ASSERT_TRUE(file.commit());
    EXPECT_TRUE(fs::is_symlink(m_folder / "link"));
    EXPECT_EQ(readBytes(other / "real"), "new");
    EXPECT_EQ(entries(other), std::vector<std::string>{"real"});
}

TEST_F(ReplaceFileTest, AnUncommittedFileIsRemovedAndTheTargetKept) {
    const fs::path target = m_folder / "kept";
    writeBytes(target, "old");
    {
        ReplacementFile dropped;
        ASSERT_EQ(dropped.open(target.string(), kPrefix), ReplaceOpen::Created);
        ASSERT_TRUE(writeAll(dropped.fd(), "new"));
    }
    EXPECT_EQ(entries(m_folder), std::vector<std::string>{"kept"});

    ReplacementFile discarded;
    ASSERT_EQ(discarded.open(target.string(), kPrefix), ReplaceOpen::Created);
    discarded.discard();
    EXPECT_EQ(discarded.fd(), -1);
    EXPECT_FALSE(discarded.commit());
    EXPECT_EQ(entries(m_folder), std::vector<std::string>{"kept"});
    EXPECT_EQ(readBytes(target), "old");

    // Two at once in one folder get names of their own.
    ReplacementFile first(TempFileKind::Named);
    ReplacementFile second(TempFileKind::Named);
    ASSERT_EQ(first.open(target.string(), kPrefix), ReplaceOpen::Created);
    ASSERT_EQ(second.open(target.string(), kPrefix), ReplaceOpen::Created);
    EXPECT_EQ(entries(m_folder).size(), 3U);
}

TEST_F(ReplaceFileTest, AFailedCommitLeavesTheTempFileForDiscard) {
    const fs::path target = m_folder / "target";
    {
        ReplacementFile file;
        ASSERT_EQ(file.open(target.string(), kPrefix), ReplaceOpen::Created);
        // A folder appears under the name while the file is written: the rename cannot
        // replace it.
        fs::create_directory(target);
        errno = 0;
        const bool committed = file.commit();
        const int error = errno;
        EXPECT_FALSE(committed);
        EXPECT_EQ(error, EISDIR);
        EXPECT_EQ(entries(m_folder).size(), 2U);
    }
    EXPECT_EQ(entries(m_folder), std::vector<std::string>{"target"});
    EXPECT_TRUE(fs::is_directory(target));
}

// Root may write anywhere, so each refusal here is one that permissions do not decide.
TEST_F(ReplaceFileTest, RefusesFoldersAndUnusableNamesAndCreatesNothing) {
    fs::create_directory(m_folder / "folder");
    writeBytes(m_folder / "file", "file");
    fs::create_symlink("loop", m_folder / "loop");
    ReplacementFile file;
    // errno as open() left it, read before anything else can change it.
    const auto openWithErrno = [&](const fs::path& target) {
        errno = 0;
        const ReplaceOpen result = file.open(target.string(), kPrefix);
        return std::pair(result, errno);
    };
    EXPECT_EQ(openWithErrno(m_folder / "folder").first, ReplaceOpen::TargetIsFolder);
    EXPECT_EQ(openWithErrno(m_folder / "file" / "x"),
              std::pair(ReplaceOpen::TargetUnusable, ENOTDIR));
    EXPECT_EQ(openWithErrno(m_folder / "loop"), std::pair(ReplaceOpen::TargetUnusable, ELOOP));
    EXPECT_EQ(openWithErrno(m_folder / "missing" / "x"),
              std::pair(ReplaceOpen::NoTempFile, ENOENT));
    EXPECT_EQ(file.fd(), -1);
    EXPECT_EQ(entries(m_folder), (std::vector<std::string>{"file", "folder", "loop"}));
}

TEST_F(ReplaceFileTest, RefusesAFileWithoutWritePermission) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write any file";
    }
    const fs::path target = m_folder / "kept";
    writeBytes(target, "kept");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    ReplacementFile file;
    errno = 0;
    const ReplaceOpen result = file.open(target.string(), kPrefix);
    const int error = errno;
    EXPECT_EQ(result, ReplaceOpen::TargetUnusable);
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(entries(m_folder), std::vector<std::string>{"kept"});
}

} // namespace
} // namespace doodle
