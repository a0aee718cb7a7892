#include "TempFolderTest.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace doodle {
namespace {

namespace fs = std::filesystem;

// Large enough that the copy into the target lasts tens of milliseconds.
constexpr std::size_t kNewBytes = std::size_t{64} << 20;
constexpr std::size_t kOldBytes = std::size_t{48} << 20;
constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};
// When the signal comes after the copy began: at once, a little in, well in.
constexpr std::array<int, 3> kDelaysMs{0, 3, 15};

class ReplaceSignalTest : public test::TempFolderTest {
protected:
    static bool holdsNewBytes(const fs::path& path) {
        const std::string bytes = readBytes(path);
        if (bytes.size() != kNewBytes) {
            return false;
        }
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (static_cast<unsigned char>(bytes[i]) != static_cast<unsigned char>(i * 7 + 1)) {
                return false;
            }
        }
        return true;
    }
};

// A signal that another thread of the process takes while a file with two names is rewritten
// in place ends the process only once the copy is complete: never a cut file.
TEST_F(ReplaceSignalTest, ASignalToAMultiThreadedProcessWaitsForTheCopyInPlace) {
    const std::string oldBytes(kOldBytes, 'o');
    for (const int signalNumber : kSignals) {
        for (const int delayMs : kDelaysMs) {
            SCOPED_TRACE(std::string(::strsignal(signalNumber)) + " " + std::to_string(delayMs) +
                         " ms into the copy");
            const fs::path folder = m_folder / std::to_string(signalNumber * 100 + delayMs);
            fs::create_directory(folder);
            writeBytes(folder / "out", oldBytes);
            fs::create_hard_link(folder / "out", folder / "twin");
            std::array<int, 2> pipeFds{};
            ASSERT_EQ(::pipe(pipeFds.data()), 0);
            const pid_t child = ::fork();
            if (child == 0) {
                ::dup2(pipeFds[1], STDOUT_FILENO);
                ::execl(DC_SIGNAL_CHILD, DC_SIGNAL_CHILD, (folder / "out").c_str(),
                        std::to_string(kNewBytes).c_str(), nullptr);
                ::_exit(EXIT_FAILURE);
            }
            ::close(pipeFds[1]);
            char said = 0;
            ASSERT_EQ(::read(pipeFds[0], &said, 1), 1);
            EXPECT_EQ(said, 'c');
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            ASSERT_EQ(::kill(child, signalNumber), 0);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ::close(pipeFds[0]);
            // The signal still acts, once the copy is done.
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << status;
            for (const char* name : {"out", "twin"}) {
                EXPECT_TRUE(holdsNewBytes(folder / name) || readBytes(folder / name) == oldBytes)
                    << name << " was cut: " << fs::file_size(folder / name) << " bytes";
            }
            fs::remove_all(folder);
        }
    }
}

} // namespace
} // namespace doodle
