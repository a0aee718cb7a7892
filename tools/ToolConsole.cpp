#include "tools/ToolConsole.h"

#include "files/Quoted.h"
#include "tools/OutputFile.h"
#include "tools/RenderOptions.h"

#include <array>
#include <csignal>
#include <cstdio>

namespace doodle {
namespace {

constexpr int kExitSignalBase = 128; // the shell's status for a process ended by a signal
constexpr std::array<int, 3> kInterruptSignals{SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void onInterrupt(int signalNumber) {
    interruptSignal = signalNumber;
}

} // namespace

void printToStderr(const std::string& text) {
    static_cast<void>(std::fwrite(text.data(), 1, text.size(), stderr));
    static_cast<void>(std::fflush(stderr));
}

int failWith(const std::string& reason) {
    printToStderr(std::string(kRenderProgramName) + ": " + reason + "\n");
    return kExitError;
}

bool catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
    if (sigemptyset(&action.sa_mask) != 0) {
        return false;
    }
    for (const int signalNumber : kInterruptSignals) {
        if (sigaction(signalNumber, &action, nullptr) != 0) {
            return false;
        }
    }
    return true;
}

bool interrupted() noexcept {
    return interruptSignal != 0;
}

int endByInterrupt(const std::string& outputPath, bool written) {
    std::string line = "interrupted; ";
    if (outputPath == kStandardStreamName) {
        line += "standard output holds what was written before";
    } else {
        line += inQuotes(outputPath);
        line += written ? " was complete already and holds the render" : " is left as it was";
    }
    static_cast<void>(failWith(line));
    const int signalNumber = interruptSignal;
    if (std::signal(signalNumber, SIG_DFL) != SIG_ERR) {
        static_cast<void>(std::raise(signalNumber)); // returns only if the signal is blocked
    }
    return kExitSignalBase + signalNumber;
}

} // namespace doodle
