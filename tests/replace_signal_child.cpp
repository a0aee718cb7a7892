// A process with threads of its own, as the desktop program has (Qt's, the ticker, the audio
// thread), none of which holds signals off: it gives TARGET new bytes through ReplacementFile,
// writes 'c' on stdout when the rewrite in place begins and 'd' once it is committed, then
// waits to be ended by a signal.
// Usage: replace_signal_child TARGET BYTES
#include "files/ReplacementFile.h"
#include "files/WriteAll.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kOtherThreads = 3;
constexpr auto kOtherThreadTick = std::chrono::milliseconds(1);
constexpr std::string_view kTempPrefix = ".signal-test-";
constexpr char kCopyBegins = 'c';
constexpr char kCommitted = 'd';

void say(char byte) {
    if (::write(STDOUT_FILENO, &byte, 1) != 1) {
        std::_Exit(EXIT_FAILURE);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return EXIT_FAILURE;
    }
    for (int i = 0; i < kOtherThreads; ++i) {
        std::thread([] {
            for (;;) {
                std::this_thread::sleep_for(kOtherThreadTick);
            }
        }).detach();
    }
    // The byte at i is (i * 7 + 1) mod 256: a cut copy cannot pass for it.
    std::vector<std::byte> bytes(std::stoull(argv[2]));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::byte>(i * 7 + 1);
    }
    doodle::ReplacementFile file;
    file.setCopyNotice([](const std::string&) { say(kCopyBegins); });
    if (file.open(argv[1], kTempPrefix) != doodle::ReplaceOpen::Created ||
        !doodle::writeAll(file.fd(), bytes) || !file.commit()) {
        return EXIT_FAILURE;
    }
    say(kCommitted);
    for (;;) {
        ::pause();
    }
}
