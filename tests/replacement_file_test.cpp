#include "TempFolderTest.h"
#include "files/ReplacementFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <linux/capability.h>
#include <map>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace doodle {
namespace {

namespace fs = std::filesystem;
using test::ActingAs;
using test::kNobody;

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
    // The temporary file a writer killed right after open() leaves, moved into `folder`. It
    // is made in a folder of its own, where no earlier leftover is tidied by that writer.
    static std::string leftoverOfKilledWriter(const fs::path& folder) {
        const fs::path maker = folder / "maker";
        fs::create_directory(maker);
        const pid_t child = ::fork();
        if (child == 0) {
            ReplacementFile file(TempFileKind::Named);
            const bool opened =
                file.open((maker / "killed").string(), kPrefix) == ReplaceOpen::Created;
            ::_exit(opened ? EXIT_SUCCESS : EXIT_FAILURE); // no destructor: as a kill -9 leaves it
        }
        int status = 0;
        EXPECT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EXIT_SUCCESS);
        const std::vector<std::string> made = entries(maker);
        if (made.size() == 1) {
            fs::rename(maker / made[0], folder / made[0]);
            fs::remove(maker);
            return made[0];
        }
        ADD_FAILURE() << "the killed writer left nothing";
        return {};
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
    EXPECT_TRUE(temp.starts_with(kPrefix)) << temp;
    EXPECT_TRUE(temp.ends_with(".tmp")) << temp;
    // Another user's files in a shared folder cannot stand in its way: its name is not the
    // process id and a counter, which anyone can plant beforehand.
    EXPECT_EQ(temp.find(std::to_string(::getpid())), std::string::npos) << temp;
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

    // A dangling link names the file to create; the link itself stays.
    fs::create_symlink("made", m_folder / "dangling");
    ReplacementFile made;
    ASSERT_EQ(made.open((m_folder / "dangling").string(), kPrefix), ReplaceOpen::Created);
    ASSERT_TRUE(writeAll(made.fd(), "made"));
    ASSERT_TRUE(made.commit());
    EXPECT_TRUE(fs::is_symlink(m_folder / "dangling"));
    EXPECT_EQ(readBytes(m_folder / "made"), "made");
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
    const fs::path other = m_folder / "other";
    ReplacementFile first(TempFileKind::Named);
    ReplacementFile second(TempFileKind::Named);
    ASSERT_EQ(first.open(target.string(), kPrefix), ReplaceOpen::Created);
    ASSERT_EQ(second.open(other.string(), kPrefix), ReplaceOpen::Created);
    EXPECT_EQ(entries(m_folder).size(), 3U);
}

TEST_F(ReplaceFileTest, AFailedCommitLeavesTheTempFileForDiscard) {
    const fs::path target = m_folder / "target";
    writeBytes(target, "old");
    {
        ReplacementFile file;
        ASSERT_EQ(file.open(target.string(), kPrefix), ReplaceOpen::Created);
        // A folder takes the file's name while the new one is written: the rename cannot
        // replace it.
        fs::remove(target);
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

// Root less one capability in its effective set (this thread) until destroyed.
class WithoutCapability {
public:
    explicit WithoutCapability(unsigned capability) : m_capability(capability) {
        EXPECT_TRUE(setEffective(false));
    }
    ~WithoutCapability() { EXPECT_TRUE(setEffective(true)); }
    WithoutCapability(const WithoutCapability&) = delete;
    WithoutCapability& operator=(const WithoutCapability&) = delete;

private:
    bool setEffective(bool on) const {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> sets{};
        if (::syscall(SYS_capget, &header, sets.data()) != 0) {
            return false;
        }
        const std::uint32_t bit = 1U << (m_capability % 32U);
        std::uint32_t& effective = sets.at(m_capability / 32U).effective;
        effective = on ? (effective | bit) : (effective & ~bit);
        return ::syscall(SYS_capset, &header, sets.data()) == 0;
    }

    unsigned m_capability = 0;
};

constexpr uid_t kDaemon = 1; // user and group

using Attributes = std::map<std::string, std::string>;

// Every extended attribute of a file, its ACL among them.
Attributes attributesOf(const fs::path& path) {
    std::string names(std::size_t{4096}, '\0');
    const ssize_t length = ::listxattr(path.c_str(), names.data(), names.size());
    EXPECT_GE(length, 0) << path;
    names.resize(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    Attributes attributes;
    for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        const std::string name = names.c_str() + at;
        std::string value(std::size_t{4096}, '\0');
        const ssize_t size = ::getxattr(path.c_str(), name.c_str(), value.data(), value.size());
        EXPECT_GE(size, 0) << name;
        value.resize(static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
        attributes[name] = value;
    }
    return attributes;
}

// What a replaced file must keep, and its inode, which tells a rename from a rewrite.
struct FileIdentity {
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;
    nlink_t links = 0;
    ino_t inode = 0;
    Attributes attributes{};
};

FileIdentity identityOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return {status.st_uid,   status.st_gid, status.st_mode & 07777U,
            status.st_nlink, status.st_ino, attributesOf(path)};
}

TEST_F(ReplaceFileTest, AReplacedFileKeepsItsOwnerModeAttributesAclAndLinks) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "gives files to other users and acts as them, which needs root";
    }
    // The tests' temporary folder must hold user attributes (ext4 and tmpfs do).
    writeBytes(m_folder / "probe", "");
    if (::setxattr((m_folder / "probe").c_str(), "user.probe", "1", 1, 0) != 0) {
        GTEST_SKIP() << m_folder << " holds no extended attributes: " << std::strerror(errno);
    }
    fs::remove(m_folder / "probe");
    ASSERT_EQ(::chmod(m_folder.c_str(), 0755), 0); // other users reach the folders inside

    enum class Writer { Root, RootWithoutFowner, Nobody };
    struct Case {
        std::string name;
        std::function<void(const fs::path& folder, const fs::path& file)> make;
        Writer writer = Writer::Root;
        bool inPlace = false; // the old inode is rewritten, not replaced
    };
    const auto chownChmod = [](const fs::path& path, uid_t user, mode_t mode) {
        EXPECT_EQ(::chown(path.c_str(), user, user), 0);
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    };
    const std::vector<Case> cases{
        // Root saving over another user's file must leave it theirs, or they lose it.
        {"owner", [&](const fs::path&, const fs::path& file) { chownChmod(file, kNobody, 0640); }},
        {"set-id bits",
         [&](const fs::path&, const fs::path& file) { chownChmod(file, kDaemon, 02754); }},
        {"attributes and ACL",
         [](const fs::path&, const fs::path& file) {
             EXPECT_EQ(::setxattr(file.c_str(), "user.origin", "drawn", 5, 0), 0);
             const std::string acl = "setfacl -m u:nobody:rw,g:daemon:r " + file.string();
             EXPECT_EQ(std::system(acl.c_str()), 0) << acl;
         }},
        {"ACL inherited by new files",
         [](const fs::path& folder, const fs::path&) {
             const std::string acl = "setfacl -d -m u:nobody:rwx " + folder.string();
             EXPECT_EQ(std::system(acl.c_str()), 0) << acl;
         }},
        // Every name of the file sees the new bytes.
        {"hard link",
         [](const fs::path& folder, const fs::path& file) {
             fs::create_hard_link(file, folder / "other name");
         },
         Writer::Root, true},
        // nobody may write the file but not give a new one its owner.
        {"another user's file in a sticky folder",
         [&](const fs::path& folder, const fs::path& file) {
             EXPECT_EQ(::chmod(folder.c_str(), 01777), 0);
             chownChmod(file, kDaemon, 0666);
         },
         Writer::Nobody, true},
        {"nobody's own file",
         [&](const fs::path& folder, const fs::path& file) {
             EXPECT_EQ(::chmod(folder.c_str(), 01777), 0);
             chownChmod(file, kNobody, 0604);
         },
         Writer::Nobody},
        // The new file is made and given its owner; only the rename is refused.
        {"a folder that refuses the rename",
         [&](const fs::path& folder, const fs::path& file) {
             chownChmod(folder, kDaemon, 01777);
             chownChmod(file, kNobody, 0600);
         },
         Writer::RootWithoutFowner, true},
    };
    for (const TempFileKind kind : {TempFileKind::AnonymousWherePossible, TempFileKind::Named}) {
        for (const Case& c : cases) {
            const std::string shown =
                c.name + (kind == TempFileKind::Named ? " (named)" : " (anonymous)");
            const fs::path folder = m_folder / "case";
            fs::create_directory(folder);
            const fs::path file = folder / "tune";
            writeBytes(file, "old bytes");
            c.make(folder, file);
            const FileIdentity before = identityOf(file);
            {
                std::optional<ActingAs> actingAs;
                std::optional<WithoutCapability> withoutFowner;
                if (c.writer == Writer::Nobody) {
                    actingAs.emplace(kNobody, kNobody);
                } else if (c.writer == Writer::RootWithoutFowner) {
                    withoutFowner.emplace(CAP_FOWNER);
                }
                ReplacementFile replacement(kind);
                EXPECT_EQ(replacement.open(file.string(), kPrefix), ReplaceOpen::Created) << shown;
                EXPECT_TRUE(writeAll(replacement.fd(), "new")) << shown;
                EXPECT_TRUE(replacement.commit()) << shown << ": " << std::strerror(errno);
            }
            EXPECT_EQ(readBytes(file), "new") << shown;
            const FileIdentity after = identityOf(file);
            EXPECT_EQ(after.uid, before.uid) << shown;
            EXPECT_EQ(after.gid, before.gid) << shown;
            EXPECT_EQ(after.mode, before.mode) << shown;
            EXPECT_EQ(after.links, before.links) << shown;
            EXPECT_EQ(after.attributes, before.attributes) << shown;
            // Where a new file can be all the old one was, it takes its place in one step.
            EXPECT_EQ(after.inode == before.inode, c.inPlace) << shown;
            for (const std::string& name : entries(folder)) {
                EXPECT_TRUE(name == "tune" || name == "other name") << shown << ": " << name;
                EXPECT_EQ(readBytes(folder / name), "new") << shown << ": " << name;
            }
            fs::remove_all(folder);
        }
    }
}

// Acted as nobody where the tests run as root, who may write any file.
TEST_F(ReplaceFileTest, RefusesAFileWithoutWritePermission) {
    const fs::path target = m_folder / "kept";
    writeBytes(target, "kept");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    std::optional<ActingAs> nobody;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(m_folder.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
        nobody.emplace(kNobody, kNobody);
    }
    ReplacementFile file;
    errno = 0;
    const ReplaceOpen result = file.open(target.string(), kPrefix);
    const int error = errno;
    nobody.reset();
    EXPECT_EQ(result, ReplaceOpen::TargetUnusable);
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(entries(m_folder), std::vector<std::string>{"kept"});
}

TEST_F(ReplaceFileTest, AFileThatMayBeWrittenButNotReadIsRewrittenFromATempFileTheWriterMayRead) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "acts as nobody, which needs root";
    }
    // nobody's file in root's folder, which nobody may not write: the file must be rewritten
    // in place, and nobody may not read it; the new bytes wait in the temporary folder.
    ASSERT_EQ(::chmod(m_folder.c_str(), 0755), 0);
    const fs::path target = m_folder / "drop box";
    writeBytes(target, "old bytes");
    ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0200), 0);
    {
        const ActingAs nobody(kNobody, kNobody);
        ReplacementFile writer;
        ASSERT_EQ(writer.open(target.string(), kPrefix), ReplaceOpen::Created)
            << std::strerror(errno);
        ASSERT_TRUE(writeAll(writer.fd(), "new"));
        // What was written can be read back, as an encoder filling in its header does.
        char first = '\0';
        EXPECT_EQ(::pread(writer.fd(), &first, 1, 0), 1);
        EXPECT_EQ(first, 'n');
        ASSERT_TRUE(writer.commit()) << std::strerror(errno);
        EXPECT_EQ(writer.keptCopy(), "");
    }
    EXPECT_EQ(readBytes(target), "new");
    EXPECT_EQ(permissions(target), 0200U);
    EXPECT_EQ(entries(m_folder), std::vector<std::string>{"drop box"});
}

TEST_F(ReplaceFileTest, OneWriterAtATimeAndOtherWritersLocksAreHonoured) {
    const fs::path target = m_folder / "tune";
    writeBytes(target, "old");
    fs::create_hard_link(target, m_folder / "other name");
    {
        ReplacementFile first;
        ASSERT_EQ(first.open(target.string(), kPrefix), ReplaceOpen::Created);
        ASSERT_TRUE(writeAll(first.fd(), "first"));
        // Under either of its names, the file is the first writer's until it is done.
        ReplacementFile second;
        EXPECT_EQ(second.open((m_folder / "other name").string(), kPrefix),
                  ReplaceOpen::TargetBusy);
        EXPECT_EQ(second.fd(), -1);
        ASSERT_TRUE(first.commit()) << std::strerror(errno);
    }
    EXPECT_EQ(readBytes(m_folder / "other name"), "first");
    // Another program that takes the file's lock, as flock(1) does, holds it off too.
    {
        const FileDescriptor other(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(other.get(), LOCK_EX), 0);
        ReplacementFile file;
        EXPECT_EQ(file.open(target.string(), kPrefix), ReplaceOpen::TargetBusy);
    }
    ReplacementFile file;
    ASSERT_EQ(file.open(target.string(), kPrefix), ReplaceOpen::Created);
    ASSERT_TRUE(writeAll(file.fd(), "second"));
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(readBytes(target), "second");
    EXPECT_EQ(entries(m_folder), (std::vector<std::string>{"other name", "tune"}));
}

// A small file system of its own, unmounted with the test.
class SmallDisk {
public:
    SmallDisk(const fs::path& where, std::string_view size) : m_path(where) {
        fs::create_directory(m_path);
        const std::string options = "size=" + std::string(size);
        m_mounted = ::mount("tmpfs", m_path.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (m_mounted) {
            EXPECT_EQ(::umount(m_path.c_str()), 0);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const noexcept { return m_mounted; }

private:
    fs::path m_path{};
    bool m_mounted = false;
};

TEST_F(ReplaceFileTest, ARewriteInPlaceTouchesNoOldByteUntilTheNewOnesFit) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounts a small file system, which needs root";
    }
    constexpr std::size_t kOldBytes = 300 << 10;
    constexpr std::size_t kNewBytes = 600 << 10;
    for (const TempFileKind kind : {TempFileKind::AnonymousWherePossible, TempFileKind::Named}) {
        // 1 MiB: room for the old file and the new one beside it, not for the old one grown.
        const SmallDisk disk(m_folder / "disk", "1m");
        ASSERT_TRUE(disk.mounted());
        const fs::path target = m_folder / "disk" / "tune";
        const std::string oldBytes(kOldBytes, 'o');
        writeBytes(target, oldBytes);
        fs::create_hard_link(target, m_folder / "disk" / "other name");

        ReplacementFile file(kind);
        std::vector<std::string> notices;
        file.setCopyNotice([&](const std::string& kept) { notices.push_back(kept); });
        ASSERT_EQ(file.open(target.string(), kPrefix), ReplaceOpen::Created);
        // Asked beforehand, the shortage is known: the new bytes and the old file's growth.
        const std::optional<RoomShortage> shortage = file.shortOfRoom(kNewBytes);
        ASSERT_TRUE(shortage.has_value());
        EXPECT_EQ(shortage->neededBytes, kNewBytes + (kNewBytes - kOldBytes));
        EXPECT_LT(shortage->freeBytes, shortage->neededBytes);
        EXPECT_FALSE(file.shortOfRoom(kOldBytes / 2).has_value());

        const std::string newBytes(kNewBytes, 'n');
        ASSERT_TRUE(writeAll(file.fd(), newBytes));
        errno = 0;
        EXPECT_FALSE(file.commit());
        EXPECT_EQ(errno, ENOSPC);
        // Both names keep every old byte; the new ones wait, complete, under the name given.
        EXPECT_EQ(readBytes(target), oldBytes);
        EXPECT_EQ(readBytes(m_folder / "disk" / "other name"), oldBytes);
        ASSERT_EQ(notices.size(), 1U);
        EXPECT_EQ(file.keptCopy(), notices[0]);
        EXPECT_EQ(readBytes(file.keptCopy()), newBytes);
        EXPECT_TRUE(fs::path(file.keptCopy()).filename().string().starts_with(kPrefix));
    }
}

TEST_F(ReplaceFileTest, AFileInTheKernelsPseudoFileSystemsIsRefusedUntouched) {
    const std::string comm = readBytes("/proc/self/comm");
    ReplacementFile file;
    EXPECT_EQ(file.open("/proc/self/comm", kPrefix), ReplaceOpen::TargetOnPseudoSystem);
    EXPECT_EQ(file.fd(), -1);
    EXPECT_EQ(readBytes("/proc/self/comm"), comm);
    EXPECT_EQ(file.open("/sys/kernel/doodlechorus-test", kPrefix),
              ReplaceOpen::TargetOnPseudoSystem);
    EXPECT_FALSE(fs::exists("/sys/kernel/doodlechorus-test"));
}

TEST_F(ReplaceFileTest, TheLeftoversOfAKilledWriterGoAndNothingElseDoes) {
    const std::string leftover = leftoverOfKilledWriter(m_folder);
    const std::string written = leftoverOfKilledWriter(m_folder); // a writer holds its lock
    // Names a user may give files of their own: the pattern without its check characters,
    // one character short, and a kept copy of a cut rewrite.
    const std::string lookAlike = std::string(kPrefix) + "MyNotes2024aBcDe.tmp";
    const std::string shortName = std::string(kPrefix) + "MyNotes2024.tmp";
    const std::string kept = std::string(kPrefix) + "Dbcdefghij-_AbCd.new";
    for (const std::string& name : {lookAlike, shortName, kept}) {
        writeBytes(m_folder / name, "bytes");
    }
    const FileDescriptor writer(::open((m_folder / written).c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_EQ(::flock(writer.get(), LOCK_EX), 0);
    std::vector<std::string> expected{kept, lookAlike, shortName, written, "tune"};
    if (::geteuid() == 0) {
        const std::string others = leftoverOfKilledWriter(m_folder);
        ASSERT_EQ(::chown((m_folder / others).c_str(), kNobody, kNobody), 0);
        expected.push_back(others);
    }
    std::ranges::sort(expected);
    ASSERT_TRUE(fs::exists(m_folder / leftover));

    // Only a writer that has to name its temporary file looks.
    ReplacementFile file(TempFileKind::Named);
    ASSERT_EQ(file.open((m_folder / "tune").string(), kPrefix), ReplaceOpen::Created);
    ASSERT_TRUE(writeAll(file.fd(), "new"));
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(entries(m_folder), expected);
}

// An append-only folder takes new names but never lets one go.
class AppendOnly {
public:
    explicit AppendOnly(const fs::path& folder) : m_folder(folder) {
        m_set = std::system(("chattr +a " + m_folder.string()).c_str()) == 0;
    }
    ~AppendOnly() {
        if (m_set) {
            EXPECT_EQ(std::system(("chattr -a " + m_folder.string()).c_str()), 0);
        }
    }
    AppendOnly(const AppendOnly&) = delete;
    AppendOnly& operator=(const AppendOnly&) = delete;

    bool set() const noexcept { return m_set; }

private:
    fs::path m_folder{};
    bool m_set = false;
};

TEST_F(ReplaceFileTest, AnAppendOnlyFolderHasItsFilesWrittenAndNoTempFileLeft) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "chattr +a needs root";
    }
    const fs::path folder = m_folder / "log";
    fs::create_directory(folder);
    writeBytes(folder / "tune", "old bytes");
    const AppendOnly appendOnly(folder);
    if (!appendOnly.set()) {
        GTEST_SKIP() << "chattr +a is not available here";
    }
    for (const TempFileKind kind : {TempFileKind::AnonymousWherePossible, TempFileKind::Named}) {
        for (const std::string name : {"tune", "new tune"}) {
            ReplacementFile file(kind);
            ASSERT_EQ(file.open((folder / name).string(), kPrefix), ReplaceOpen::Created);
            ASSERT_TRUE(writeAll(file.fd(), "new"));
            ASSERT_TRUE(file.commit()) << name << ": " << std::strerror(errno);
            EXPECT_EQ(file.keptCopy(), "") << name;
            EXPECT_EQ(readBytes(folder / name), "new") << name;
        }
    }
    EXPECT_EQ(entries(folder), (std::vector<std::string>{"new tune", "tune"}));
}

// Only the last name's length counts, as for any other program writing the file: the longest
// path the system takes, PATH_MAX less its terminating zero, through nested folders.
TEST_F(ReplaceFileTest, ATargetAsLongAsAPathMayBeIsCreatedAndReplaced) {
    constexpr std::size_t kLongestPath = PATH_MAX - 1;
    constexpr std::size_t kFolderNameChars = 200;
    fs::path folder = m_folder;
    const std::string last = "tune.sav";
    while (folder.string().size() + 2 * (kFolderNameChars + 1) + last.size() < kLongestPath) {
        folder /= std::string(kFolderNameChars, 'f');
    }
    const std::size_t rest = kLongestPath - folder.string().size() - 2 - last.size();
    folder /= std::string(rest, 'g');
    fs::create_directories(folder);
    const fs::path target = folder / last;
    ASSERT_EQ(target.string().size(), kLongestPath);

    for (const TempFileKind kind : {TempFileKind::AnonymousWherePossible, TempFileKind::Named}) {
        for (const std::string bytes : {"first", "second"}) { // made, then replaced
            ReplacementFile file(kind);
            ASSERT_EQ(file.open(target.string(), kPrefix), ReplaceOpen::Created)
                << std::strerror(errno);
            ASSERT_TRUE(writeAll(file.fd(), bytes));
            ASSERT_TRUE(file.commit()) << std::strerror(errno);
            EXPECT_EQ(readBytes(target), bytes);
            EXPECT_EQ(entries(folder), std::vector<std::string>{last});
        }
        fs::remove(target);
    }
}

TEST_F(ReplaceFileTest, NamesPlantedInTheFolderDoNotStopIt) {
    // Every name the process id and a counter would give in a test run, and many more with the
    // prefix.
    constexpr int kPlantedCounters = 200;
    constexpr int kPlantedOthers = 800;
    for (int n = 0; n < kPlantedCounters; ++n) {
        writeBytes(m_folder / (std::string(kPrefix) + std::to_string(::getpid()) + "-" +
                               std::to_string(n) + ".tmp"),
                   "");
    }
    for (int n = 0; n < kPlantedOthers; ++n) {
        writeBytes(m_folder / (std::string(kPrefix) + std::to_string(n) + ".tmp"), "");
    }
    const fs::path target = m_folder / "tune";
    for (const TempFileKind kind : {TempFileKind::AnonymousWherePossible, TempFileKind::Named}) {
        ReplacementFile file(kind);
        ASSERT_EQ(file.open(target.string(), kPrefix), ReplaceOpen::Created)
            << std::strerror(errno);
        ASSERT_TRUE(writeAll(file.fd(), "new"));
        ASSERT_TRUE(file.commit()) << std::strerror(errno);
        EXPECT_EQ(readBytes(target), "new");
    }
    EXPECT_EQ(entries(m_folder).size(), kPlantedCounters + kPlantedOthers + 1U);
}

} // namespace
} // namespace doodle
