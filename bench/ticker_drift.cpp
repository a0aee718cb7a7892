// Runs the playback ticker for a number of seconds (default 10; the first argument sets it,
// 1 to 3600) and measures it against CLOCK_MONOTONIC: elapsed ms, ticks, drift in per cent
// ((ticks - elapsedMs) / elapsedMs * 100, aim: |drift| < 0.1 %) and the median, 99th percentile
// and largest interval between calls of post, in ms.
#include "app/ticker/Ticker.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace doodle;

constexpr int kDefaultSeconds = 10;
constexpr int kMaxSeconds = 3600;
// Room for the ticks a late stop lets through.
constexpr int64_t kSpareStamps = 1000;
constexpr double kNsPerMs = 1e6;
constexpr double kPercent = 100.0;
constexpr double kMedianPercentile = 50.0;
constexpr double kHighPercentile = 99.0;
constexpr int kUsageError = 1;
constexpr int kRunError = 2;

// steady_clock is CLOCK_MONOTONIC, the ticker's own clock.
int64_t monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

    // Filled on the ticker thread only, read here after stop() has joined it.
    std::vector<int64_t> stampsNs(
        static_cast<std::size_t>(seconds * kTicksPerSecond + kSpareStamps));
    std::size_t stampCount = 0;
    TickerShared shared;
    Ticker ticker(shared, [&] {
        if (stampCount < stampsNs.size()) {
            stampsNs[stampCount++] = monotonicNs();
        }
    });

    const int64_t startNs = monotonicNs();
    if (!ticker.start()) {
        std::fprintf(stderr, "the ticker thread could not be started\n");
        return kRunError;
    }
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
        std::chrono::nanoseconds(startNs + seconds * kNsPerSecond)));
    const int64_t endNs = monotonicNs();
    const int32_t ticks = shared.tickCount.load();
    ticker.stop();
    if (ticker.threadError() != 0) {
        std::fprintf(stderr, "ticker thread: %s\n", std::strerror(ticker.threadError()));
    }

    const double elapsedMs = static_cast<double>(endNs - startNs) / kNsPerMs;
    const double driftPercent = (static_cast<double>(ticks) - elapsedMs) / elapsedMs * kPercent;
    std::printf("elapsed ms      %.3f\n", elapsedMs);
    std::printf("ticks           %d\n", ticks);
    std::printf("drift %%         %+.4f\n", driftPercent);

    std::vector<int64_t> intervalsNs;
    intervalsNs.reserve(stampCount);
    for (std::size_t i = 1; i < stampCount; ++i) {
        intervalsNs.push_back(stampsNs[i] - stampsNs[i - 1]);
    }
    if (intervalsNs.empty()) {
        std::fprintf(stderr, "fewer than two ticks: no intervals\n");
        return kRunError;
    }
    std::sort(intervalsNs.begin(), intervalsNs.end());
    std::printf("median ms       %.4f\n", percentileMs(intervalsNs, kMedianPercentile));
    std::printf("99th pct ms     %.4f\n", percentileMs(intervalsNs, kHighPercentile));
    std::printf("largest ms      %.4f\n", static_cast<double>(intervalsNs.back()) / kNsPerMs);
    return 0;
}
