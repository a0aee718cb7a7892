// With no output device, the program shows PortAudio's own text in a box with an empty title,
// opens no window and ends with 0. Real PortAudio on ALSA's own configuration, as on a machine
// without a sound card.
#include "GuiTestSupport.h"
#include "app/audio/PortAudioOutput.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace doodle::test {
namespace {

bool hasSoundCard() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/snd", error)) {
        if (entry.path().filename().string().starts_with("pcm")) {
            return true;
        }
    }
    return false;
}

TEST(AudioError, NoOutputDeviceShowsInvalidDeviceAndEndsWithZero) {
    if (hasSoundCard()) {
        GTEST_SKIP() << "this machine has a sound card: there is no 'no device' to test";
    }
    unsetenv("ALSA_CONFIG_PATH");
    setenv("JACK_NO_START_SERVER", "1", 1);

    RecordingDialogs dialogs;
    Program program(dialogs, [](VoiceParams& voice, PlayClock& clock) {
        return std::make_unique<PortAudioOutput>(voice, clock);
    });
    EXPECT_EQ(program.run(), 0);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, QString());
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Invalid device"));
    EXPECT_EQ(program.window(), nullptr);
}

} // namespace
} // namespace doodle::test
