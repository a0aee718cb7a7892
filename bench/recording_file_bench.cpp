// Opening and saving a long recording, what a line costs in memory, and the cost of a playback
// tick on which nothing is due.
// A million lines is over two hours of drawing at the usual rate of mouse-move reports.
// peak_rss_MB is the process's high-water mark, so the figure of one benchmark includes those
// run before it: run one at a time (--benchmark_filter=Open, =Save) to see each alone.
#include "files/RecordingFiles.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "recording/GestureLine.h"
#include "recording/Player.h"
#include "recording/RecordingFile.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace {

using namespace doodle;
namespace fs = std::filesystem;

constexpr int32_t kLineCount = 1'000'000;
constexpr int32_t kMsBetweenEvents = 8;    // a mouse-move report every 8 ms while dragging
constexpr int32_t kStrokeEvents = 50;      // a release after every 50 points
constexpr int32_t kXStep = 7;              // px per event, wrapping inside the area
constexpr int32_t kYStep = 13;             // px per event, wrapping inside the area
constexpr int32_t kFirstEventMs = 120'000; // two minutes in: times of six digits and more
constexpr double kKilobytesPerMegabyte = 1024.0;

GestureLine lineAt(int32_t index) {
    return {(index * kXStep) % (kMaxPointX + 1), (index * kYStep) % (kMaxPointY + 1),
            index % kStrokeEvents == kStrokeEvents - 1 ? 1 : 0,
            kFirstEventMs + index * kMsBetweenEvents};
}

double peakRssMegabytes() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) {
        return -1.0;
    }
    return static_cast<double>(usage.ru_maxrss) / kKilobytesPerMegabyte; // ru_maxrss is in KiB
}

// A folder of its own in the temporary folder, removed at exit.
class BenchFolder {
public:
    BenchFolder() {
        std::string pattern = (fs::temp_directory_path() / "recording-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        m_path = pattern;
    }
    ~BenchFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    const fs::path& path() const { return m_path; }

private:
    fs::path m_path{};
};

const fs::path& benchFolder() {
    static const BenchFolder folder;
    return folder.path();
}

void BM_OpenRecordingFile(benchmark::State& state) {
    // Written line by line so that the file's source does not count towards the peak RSS.
    const fs::path path = benchFolder() / "open.sav";
    {
        std::ofstream out(path, std::ios::binary);
        for (int32_t i = 0; i < kLineCount; ++i) {
            out << formatGestureLine(lineAt(i)) << "\r\n";
        }
        if (!out) {
            state.SkipWithError("cannot write the file to open");
            return;
        }
    }
    std::size_t recordingBytes = 0;
    for (auto _ : state) {
        const std::optional<Recording> recording = openRecordingFile(path.string());
        if (!recording || recording->size() != kLineCount) {
            state.SkipWithError("the file did not read back");
            return;
        }
        recordingBytes = recording->capacityBytes();
        benchmark::DoNotOptimize(recording->event(kLineCount - 1));
    }
    state.SetItemsProcessed(state.iterations() * kLineCount);
    // What a line costs in memory, text and event together (the file's line is 17 bytes).
    state.counters["bytes_per_line"] =
        static_cast<double>(recordingBytes) / static_cast<double>(kLineCount);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(path)));
    state.counters["peak_rss_MB"] = peakRssMegabytes();
}
BENCHMARK(BM_OpenRecordingFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveRecordingFile(benchmark::State& state) {
    Recording recording;
    for (int32_t i = 0; i < kLineCount; ++i) {
        recording.append(lineAt(i));
    }
    const fs::path path = benchFolder() / "save.sav";
    for (auto _ : state) {
        if (!replaceFileWith(path.string(), recordingFileBytes(recording), ".bench-")) {
            state.SkipWithError("the save failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kLineCount);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(path)));
    state.counters["peak_rss_MB"] = peakRssMegabytes();
}
// Real time: most of a save is waiting for fsync, which costs no CPU.
BENCHMARK(BM_SaveRecordingFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlayerStepNotDue(benchmark::State& state) {
    const Recording recording{formatGestureLine(lineAt(kLineCount - 1))};
    VoiceParams voice;
    VowelWorking vowel;
    const MapControls controls;
    Player player(recording, voice, vowel);
    constexpr int32_t kEarlyTick = 1;
    for (auto _ : state) {
        const PlayedStep step = player.step(kEarlyTick, 1.0, controls);
        benchmark::DoNotOptimize(step);
    }
}
BENCHMARK(BM_PlayerStepNotDue);

} // namespace

BENCHMARK_MAIN();
