// The desktop program beside a real JACK server (a dummy one of the test's own): it joins it as
// its one client, says in its window and in About when the server has gone, sings on through
// its other output meanwhile, and joins the server again when it returns.
#include "GuiTestSupport.h"

#include <QStatusBar>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <jack/jack.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace doodle::test {
namespace {

// A name of this test's own: libjack's registry reclaims a dead server's entry only under the
// same name.
constexpr const char* kServerName = "doodlechorus-gui-jack";

void silentJackMessage(const char* /*message*/) {}

// Counts what the program asks of its other output.
struct OutputCounts {
    int starts = 0;
    int terminates = 0;
};
class CountingAudio final : public AudioOutput {
public:
    explicit CountingAudio(OutputCounts& counts) : m_counts(counts) {}
    int open() override { return 0; }
    std::string errorText(int /*code*/) const override { return {}; }
    int start() override {
        ++m_counts.starts;
        return 0;
    }
    void terminate() override { ++m_counts.terminates; }

private:
    OutputCounts& m_counts;
};

class JackHostGuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("JACK_DEFAULT_SERVER", kServerName, 1);
        jack_set_error_function(&silentJackMessage);
        jack_set_info_function(&silentJackMessage);
        startServer();
    }
    void TearDown() override {
        program.shutdown();
        stopServer(SIGTERM);
    }

    void startServer() {
        const char* argv[] = {"jackd", "-n",    kServerName, "--no-realtime", "-d",   "dummy",
                              "-r",    "44100", "-p",        "256",           nullptr};
        // Its banner and its log go nowhere: the test's output is the test's.
        posix_spawn_file_actions_t quiet{};
        ASSERT_EQ(posix_spawn_file_actions_init(&quiet), 0);
        for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
            ASSERT_EQ(posix_spawn_file_actions_addopen(&quiet, fd, "/dev/null", O_WRONLY, 0), 0);
        }
        const int spawned =
            posix_spawnp(&m_serverPid, "jackd", &quiet, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&quiet);
        ASSERT_EQ(spawned, 0);
        ASSERT_TRUE(processUntil([] {
            jack_status_t status{};
            jack_client_t* probe = jack_client_open("dc-gui-probe", JackNoStartServer, &status);
            if (probe == nullptr) {
                return false;
            }
            jack_client_close(probe);
            return true;
        })) << "the server did not start";
    }
    void stopServer(int signal) {
        if (m_serverPid > 0) {
            kill(m_serverPid, signal);
            int status = 0;
            waitpid(m_serverPid, &status, 0);
            m_serverPid = -1;
        }
    }
    QString aboutMidiLine() {
        dialogs.messages.clear();
        WindowControls(*program.window()).menuAbout->trigger();
        return dialogs.messages.empty() ? QString()
                                        : dialogs.messages.back().text.split(u'\n').back();
    }
    QString statusLine() const {
        const auto* bar = program.window()->findChild<QStatusBar*>();
        return bar == nullptr || !bar->isVisible() ? QString() : bar->currentMessage();
    }

    pid_t m_serverPid = -1;
    OutputCounts counts;
    RecordingDialogs dialogs;
    Program program{dialogs, [this](VoiceParams&, PlayClock&) {
                        return std::make_unique<CountingAudio>(counts);
                    }};
};

TEST_F(JackHostGuiTest, ALostServerIsToldInTheWindowAndInAboutAndJoinedAgainWhenItReturns) {
    ASSERT_TRUE(program.start());
    const QSize started = program.window()->size();
    const QString joined =
        QStringLiteral("Sound and MIDI: JACK ports DoodleChorus:out_L, DoodleChorus:out_R, "
                       "DoodleChorus:midi_in and DoodleChorus:midi_out, at 44100 Hz");
    EXPECT_EQ(aboutMidiLine(), joined);
    EXPECT_EQ(statusLine(), QString()) << "nothing to say while the server runs";
    EXPECT_EQ(counts.starts, 0) << "the other output stays closed";

    stopServer(SIGKILL);
    ASSERT_TRUE(processUntil([&] { return !statusLine().isEmpty(); }));
    EXPECT_EQ(statusLine(), QStringLiteral("JACK server gone; sound via the default device."));
    const QSize grown = program.window()->size();
    EXPECT_TRUE(aboutMidiLine().startsWith(QStringLiteral("MIDI: the JACK server has gone")));
    EXPECT_EQ(counts.starts, 1) << "sound goes on through the other output";
    EXPECT_GT(grown.height(), started.height()) << "the line adds to the window, not the controls";

    startServer();
    ASSERT_TRUE(processUntil([&] { return statusLine() == "Joined the JACK server again."; }));
    EXPECT_EQ(aboutMidiLine(), joined);
    EXPECT_EQ(counts.terminates, 1) << "the other output made way";
    EXPECT_EQ(program.window()->size(), grown);
    ASSERT_TRUE(processUntil([&] { return statusLine().isEmpty(); }, std::chrono::seconds(20)))
        << "the line goes after a while";
    EXPECT_LT(program.window()->height(), grown.height()) << "and the window gives its room back";
}

} // namespace
} // namespace doodle::test
