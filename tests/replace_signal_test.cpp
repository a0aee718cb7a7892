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

#ifdef DC_SAVE_SIGNAL_GUI_CHILD
// A recording of `lines` points, as the program saves them.
std::string recordingText(std::size_t lines, int x) {
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) {
        text += std::to_string(x + static_cast<int>(i % 200)) + ";" +
                std::to_string(100 + static_cast<int>(i % 97)) + ";0;" + std::to_string(i) + "\r\n";
    }
    return text;
}

// Starts the desktop program's Save over `target` and returns its pid, once the program has
// opened `recording`; -1 on failure.
pid_t startSave(const fs::path& recording, const fs::path& target, int& output) {
    std::array<int, 2> pipeFds{};
    if (::pipe(pipeFds.data()) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(DC_SAVE_SIGNAL_GUI_CHILD, DC_SAVE_SIGNAL_GUI_CHILD, recording.c_str(),
                target.c_str(), nullptr);
        ::_exit(EXIT_FAILURE);
    }
    ::close(pipeFds[1]);
    output = pipeFds[0];
    char said = 0;
    if (::read(output, &said, 1) != 1 || said != 'o') {
        return -1;
    }
    return child;
}

// Whether the program's kept copy of a rewrite in place has appeared in `folder`.
bool copyBegan(const fs::path& folder) {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".DoodleChorus-") && name.ends_with(".new")) {
            return true;
        }
    }
    return false;
}

// The same with the desktop program: a Save over a file with two names while SIGTERM, SIGINT
// or SIGHUP comes leaves both names old or the whole saved recording.
TEST_F(ReplaceSignalTest, TheDesktopProgramsSaveInPlaceSurvivesASignal) {
    constexpr std::size_t kLines = 1'500'000;
    constexpr auto kPoll = std::chrono::microseconds(200);
    constexpr auto kGiveUp = std::chrono::seconds(60); // only keeps a broken build from hanging
    const fs::path recording = m_folder / "big.sav";
    writeBytes(recording, recordingText(kLines, 100));
    const std::string oldBytes = recordingText(kLines / 2, 300);

    // What Save writes when nothing interrupts it.
    int output = -1;
    const pid_t reference = startSave(recording, m_folder / "reference.sav", output);
    ASSERT_GT(reference, 0);
    char said = 0;
    ASSERT_EQ(::read(output, &said, 1), 1);
    ASSERT_EQ(said, 'd');
    ::close(output);
    ASSERT_EQ(::kill(reference, SIGKILL), 0);
    ASSERT_EQ(::waitpid(reference, nullptr, 0), reference);
    const std::string saved = readBytes(m_folder / "reference.sav");
    ASSERT_GT(saved.size(), oldBytes.size());

    int signalledInCopy = 0;
    for (const int signalNumber : kSignals) {
        for (const int delayMs : {0, 10}) {
            SCOPED_TRACE(std::string(::strsignal(signalNumber)) + " " + std::to_string(delayMs) +
                         " ms into the copy");
            const fs::path folder = m_folder / std::to_string(signalNumber * 100 + delayMs);
            fs::create_directory(folder);
            writeBytes(folder / "out.sav", oldBytes);
            fs::create_hard_link(folder / "out.sav", folder / "twin.sav");
            const pid_t child = startSave(recording, folder / "out.sav", output);
            ASSERT_GT(child, 0);
            const auto giveUp = std::chrono::steady_clock::now() + kGiveUp;
            while (!copyBegan(folder) && std::chrono::steady_clock::now() < giveUp) {
                std::this_thread::sleep_for(kPoll);
            }
            signalledInCopy += copyBegan(folder) ? 1 : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            ASSERT_EQ(::kill(child, signalNumber), 0);
            ASSERT_EQ(::waitpid(child, nullptr, 0), child);
            ::close(output);
            for (const char* name : {"out.sav", "twin.sav"}) {
                const std::string bytes = readBytes(folder / name);
                EXPECT_TRUE(bytes == saved || bytes == oldBytes)
                    << name << " was cut: " << bytes.size() << " bytes";
            }
            fs::remove_all(folder);
        }
    }
    // Otherwise every signal may have come before or after the copy, which proves nothing.
    EXPECT_GT(signalledInCopy, 0) << "no signal came while the copy was under way";
}
#endif

} // namespace
} // namespace doodle
