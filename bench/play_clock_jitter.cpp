// Runs the desktop program's play clock for a number of seconds (default 10; the first
// argument sets it, 1 to 3600) as it runs where no audio stream counts it: the steady driver,
// polled by the main thread's event loop (TickPump). Prints elapsed ms, ticks handed over,
// drift in per cent ((ticks - elapsedMs) / elapsedMs * 100), and the median, 99th percentile
// and largest lateness of a tick's handling behind the time of its frame, in ms. With a
// stream, the same ticks come a callback's frames at a time, stamped the same way.
#include "app/clock/PlayClock.h"
#include "app/clock/TickPump.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

using namespace doodle;

constexpr int kDefaultSeconds = 10;
constexpr int kMaxSeconds = 3600;
constexpr int kMsPerSecond = 1000;
constexpr double kNsPerMs = 1e6;
constexpr double kPercent = 100.0;
constexpr double kMedianPercentile = 50.0;
constexpr double kHighPercentile = 99.0;
constexpr int kUsageError = 1;
constexpr int kRunError = 2;

// Nearest-rank percentile of sorted, non-empty values.
double percentileMs(const std::vector<int64_t>& sortedNs, double percent) {
    const auto count = static_cast<double>(sortedNs.size());
    auto rank = static_cast<std::size_t>(std::ceil(percent / kPercent * count));
    rank = std::clamp<std::size_t>(rank, 1, sortedNs.size());
    return static_cast<double>(sortedNs[rank - 1]) / kNsPerMs;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = kDefaultSeconds;
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
        return kUsageError;
    }
    if (argc == 2) {
        const std::string_view text(argv[1]);
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
        if (error != std::errc() || end != text.data() + text.size() || seconds < 1 ||
            seconds > kMaxSeconds) {
            std::fprintf(stderr, "seconds must be a whole number from 1 to %d\n", kMaxSeconds);
            return kUsageError;
        }
    }
    // No argument reaches Qt: the bench takes only its own.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);

    std::vector<int64_t> latenessNs;
    latenessNs.reserve(static_cast<std::size_t>(seconds) * kMsPerSecond);
    int32_t lastTick = 0;
    PlayClock clock;
    TickPump pump(clock, [&](const PlayClock::Tick& tick) {
        latenessNs.push_back(monotonicNs() - tick.dueNs);
        lastTick = tick.tick;
    });
    const int64_t startNs = monotonicNs();
    pump.resume();
    QTimer::singleShot(seconds * kMsPerSecond, Qt::PreciseTimer, [&] {
        pump.pause();
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    const int64_t endNs = monotonicNs();
    pump.stop();

    const double elapsedMs = static_cast<double>(endNs - startNs) / kNsPerMs;
    const double driftPercent = (static_cast<double>(lastTick) - elapsedMs) / elapsedMs * kPercent;
    std::printf("elapsed ms      %.3f\n", elapsedMs);
    std::printf("ticks           %d\n", lastTick);
    std::printf("drift %%         %+.4f\n", driftPercent);
    if (latenessNs.empty()) {
        std::fprintf(stderr, "no tick was handed over\n");
        return kRunError;
    }
    std::sort(latenessNs.begin(), latenessNs.end());
    std::printf("late median ms  %.4f\n", percentileMs(latenessNs, kMedianPercentile));
    std::printf("late 99th ms    %.4f\n", percentileMs(latenessNs, kHighPercentile));
    std::printf("late largest ms %.4f\n", static_cast<double>(latenessNs.back()) / kNsPerMs);
    return 0;
}
