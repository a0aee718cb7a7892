// Drains raw audio from stdin into a file at the pace of a sound card, for the end-to-end
// tests' ALSA capture ("file" plugin writing into "|capture_pacer OUTPUT [LOG]").
//
// A card takes its samples smoothly; `pv -L` instead takes a tenth of a second's worth at
// once, so the stream's callback runs in bursts and the voice's changes reach the capture at
// 0.1 s steps. This pacer takes, every millisecond, whatever the clock allows since it began
// (44100 frames of 4 bytes a second), and shrinks its input pipe to one page so that the
// callback cannot run far ahead of the clock: a sample's place in the capture then follows
// the time at which the callback rendered it to within the callback's own period.
//
// Prints nothing (its stderr is the program's). With LOG, it writes one line per change of
// the bytes written into the pipe so far: "microseconds-since-start total-bytes", and one
// "stall" line when the writer fell so far behind that the clock was moved on.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t kFramesPerSecond = 44100;
constexpr int64_t kBytesPerFrame = 4; // mono float32
constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr int64_t kStepNs = 1'000'000; // 1 ms between takes
constexpr int kPipeBytes = 4096;       // one page, the least a pipe can hold
// A writer behind the clock catches up: it renders the periods it owes back to back, and
// the capture's timeline keeps step with the clock after a short stall, only the sound
// rendered during the stall lands late. Only a writer stalled longer than this (1 s: a
// suspended process) moves the clock on instead, as a card's would after an underrun.
constexpr int64_t kMostDebtBytes = kFramesPerSecond * kBytesPerFrame;

int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * kNsPerSecond + t.tv_nsec;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        return 2;
    }
    const int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) {
        return 1;
    }
    std::FILE* log = argc == 3 ? std::fopen(argv[2], "w") : nullptr;

    // Fails harmlessly when stdin is not a pipe.
    static_cast<void>(fcntl(STDIN_FILENO, F_SETPIPE_SZ, kPipeBytes));
    static_cast<void>(prctl(PR_SET_TIMERSLACK, 1UL)); // wake at the millisecond itself
    const int flags = fcntl(STDIN_FILENO, F_GETFL);
    if (flags < 0 || fcntl(STDIN_FILENO, F_SETFL, flags | O_NONBLOCK) != 0) {
        return 1;
    }

    // The clock starts with the first data.
    pollfd in{STDIN_FILENO, POLLIN, 0};
    while (poll(&in, 1, -1) < 0) {
        if (errno != EINTR) {
            return 1;
        }
    }
    int64_t startNs = nowNs();
    int64_t nextNs = startNs;
    int64_t taken = 0; // bytes read and written to the file
    int64_t lastWritten = -1;
    std::vector<char> buffer(static_cast<std::size_t>(kMostDebtBytes + kPipeBytes));
    bool ended = false;
    while (!ended) {
        const int64_t elapsedNs = nowNs() - startNs;
        const int64_t due =
            elapsedNs / kStepNs * kStepNs * kFramesPerSecond / kNsPerSecond * kBytesPerFrame;
        int64_t want = due - taken;
        if (log != nullptr) {
            int queued = 0;
            if (ioctl(STDIN_FILENO, FIONREAD, &queued) == 0 && taken + queued != lastWritten) {
                lastWritten = taken + queued;
                std::fprintf(log, "%lld %lld\n", static_cast<long long>(elapsedNs / 1000),
                             static_cast<long long>(lastWritten));
            }
        }
        while (want > 0) {
            const ssize_t n =
                read(STDIN_FILENO, buffer.data(),
                     static_cast<std::size_t>(want < static_cast<int64_t>(buffer.size())
                                                  ? want
                                                  : static_cast<int64_t>(buffer.size())));
            if (n > 0) {
                if (!writeAll(out, buffer.data(), static_cast<std::size_t>(n))) {
                    return 1;
                }
                taken += n;
                want -= n;
            } else if (n == 0) {
                ended = true; // the writer closed and everything was taken
                break;
            } else if (errno == EAGAIN) {
                break; // nothing queued: the writer is behind
            } else if (errno != EINTR) {
                return 1;
            }
        }
        if (want > kMostDebtBytes) {
            startNs += (want - kMostDebtBytes) * kNsPerSecond / (kFramesPerSecond * kBytesPerFrame);
            if (log != nullptr) {
                std::fprintf(log, "stall %lld\n", static_cast<long long>(elapsedNs / 1000));
            }
        }
        // An absolute schedule: time lost to a late wake-up is not added to every step after.
        nextNs += kStepNs;
        const int64_t now = nowNs();
        if (nextNs < now) {
            nextNs = now;
        }
        const timespec deadline{static_cast<time_t>(nextNs / kNsPerSecond),
                                static_cast<long>(nextNs % kNsPerSecond)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        }
    }
    if (log != nullptr) {
        std::fclose(log);
    }
    return close(out) == 0 ? 0 : 1;
}
