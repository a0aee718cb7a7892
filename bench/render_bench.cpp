// The offline renderer on a minute of drawing: a drag with a line every 10 to 16 ms sweeping
// the area, lifted every few seconds. Reports the real-time factor, seconds of sound per
// second of CPU; the render tool is also timed end to end into a WAV in the temporary folder.
#include "files/RecordingFiles.h"
#include "recording/GestureLine.h"
#include "recording/OfflineRender.h"
#include "recording/RecordingFile.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace doodle;
namespace fs = std::filesystem;

constexpr int32_t kRecordingMs = 60'000;
constexpr int32_t kMinLineGapMs = 10; // mouse-move reports while dragging
constexpr int32_t kLineGapSpreadMs = 7;
constexpr int32_t kStrokeMs = 4'000;           // then the button goes up
constexpr int32_t kLiftedMs = 250;             // before the next press
constexpr int32_t kXSweepMs = 2'300;           // one pass over the area's width and back
constexpr int32_t kYSweepMs = 3'700;           // one pass over its height and back
constexpr uint32_t kLcgMultiplier = 1'664'525; // Numerical Recipes' generator: fixed gaps
constexpr uint32_t kLcgIncrement = 1'013'904'223;
constexpr unsigned kLcgShift = 16;
constexpr double kMicrosecondsPerSecond = 1e6;
constexpr double kSecondsPerNanosecond = 1e-9;
constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;

// 0 up to `top` and back down over periodMs.
int32_t triangle(int32_t timeMs, int32_t periodMs, int32_t top) {
    const int32_t phaseMs = timeMs % periodMs;
    const int32_t halfMs = periodMs / 2;
    const int32_t risingMs = phaseMs < halfMs ? phaseMs : periodMs - phaseMs;
    return static_cast<int32_t>(static_cast<int64_t>(risingMs) * top / halfMs);
}

const Recording& minuteOfDrawing() {
    static const Recording lines = [] {
        Recording made;
        uint32_t random = 1;
        int32_t strokeStartMs = 0;
        for (int32_t timeMs = 0; timeMs < kRecordingMs;) {
            const GestureLine point{triangle(timeMs, kXSweepMs, kMaxPointX),
                                    triangle(timeMs, kYSweepMs, kMaxPointY), 0, timeMs};
            made.append(point);
            random = random * kLcgMultiplier + kLcgIncrement;
            timeMs += kMinLineGapMs + static_cast<int32_t>((random >> kLcgShift) %
                                                           static_cast<uint32_t>(kLineGapSpreadMs));
            if (timeMs - strokeStartMs >= kStrokeMs) {
                made.append(GestureLine{point.x, point.y, 1, timeMs});
                timeMs += kLiftedMs;
                strokeStartMs = timeMs;
            }
        }
        return made;
    }();
    return lines;
}

void reportRealTimeFactor(benchmark::State& state, int64_t samplesPerIteration) {
    const double samples =
        static_cast<double>(state.iterations()) * static_cast<double>(samplesPerIteration);
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    // Divided by the CPU time: seconds of sound per second of CPU.
    state.counters["realtime_x"] = benchmark::Counter(
        samples / static_cast<double>(kRenderSampleRate), benchmark::Counter::kIsRate);
    state.counters["ns_per_sample"] = benchmark::Counter(
        samples * kSecondsPerNanosecond, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_RenderMinuteOfDrawing(benchmark::State& state) {
    const Recording& lines = minuteOfDrawing();
    const std::optional<RenderPlan> plan = planRender(lines, 1.0);
    if (!plan) {
        state.SkipWithError("the recording does not end");
        return;
    }
    for (auto _ : state) {
        const RenderOutcome outcome =
            renderRecording(lines, {}, *plan, [](std::span<const float> block) {
                benchmark::DoNotOptimize(block.data());
                benchmark::ClobberMemory();
                return true;
            });
        if (outcome != RenderOutcome::Finished) {
            state.SkipWithError("the render did not finish");
            return;
        }
    }
    reportRealTimeFactor(state, plan->sampleCount);
    state.counters["lines"] = static_cast<double>(lines.size());
}
BENCHMARK(BM_RenderMinuteOfDrawing)->Unit(benchmark::kMillisecond);

void BM_PlanMinuteOfDrawing(benchmark::State& state) {
    const Recording& lines = minuteOfDrawing();
    for (auto _ : state) {
        benchmark::DoNotOptimize(planRender(lines, 1.0));
    }
}
BENCHMARK(BM_PlanMinuteOfDrawing)->Unit(benchmark::kMicrosecond);

double childCpuSeconds() {
    rusage usage{};
    if (getrusage(RUSAGE_CHILDREN, &usage) != 0) {
        return 0.0;
    }
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) +
               static_cast<double>(t.tv_usec) / kMicrosecondsPerSecond;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The tool as a user runs it: reading the .sav, rendering, writing and syncing the WAV.
void BM_RenderToolToWav(benchmark::State& state) {
    std::string pattern = (fs::temp_directory_path() / "render-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const fs::path folder = pattern;
    const std::string in = (folder / "minute.sav").string();
    std::string out = (folder / "minute.wav").string();
    const std::optional<RenderPlan> plan = planRender(minuteOfDrawing(), 1.0);
    if (!plan || !replaceFileWith(in, recordingFileBytes(minuteOfDrawing()), ".bench-")) {
        state.SkipWithError("cannot save the recording");
        return;
    }
    std::string tool = DC_RENDER_TOOL;
    std::string inArgument = in;
    char* argv[] = {tool.data(), inArgument.data(), out.data(), nullptr};
    const double cpuBefore = childCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    for (auto _ : state) {
        pid_t pid = -1;
        int status = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0 ||
            waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the tool failed");
            break;
        }
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallStart;
    const double audioSeconds = static_cast<double>(state.iterations()) *
                                static_cast<double>(plan->sampleCount) /
                                static_cast<double>(kRenderSampleRate);
    state.counters["wall_realtime_x"] = audioSeconds / wall.count();
    // The child's CPU time is not the benchmark's: the factor against it is reported apart.
    const double childSeconds = childCpuSeconds() - cpuBefore;
    if (childSeconds > 0.0) {
        state.counters["tool_cpu_realtime_x"] = audioSeconds / childSeconds;
    }
    state.counters["wav_MB"] = static_cast<double>(fs::file_size(out)) / kBytesPerMegabyte;
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}
BENCHMARK(BM_RenderToolToWav)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
