// Cost of the audio path: the renderer on a sounding voice with a glide always running.
// Reports ns per sample and the real-time factor on one core.
#include "voice/VoiceParams.h"
#include "voice/VoiceWorkload.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

using namespace doodle;

void BM_RenderVoice(benchmark::State& state) {
    const auto bufferFrames = static_cast<std::size_t>(state.range(0));
    VoiceWorkload workload;
    std::vector<float> buffer(bufferFrames);
    for (auto _ : state) {
        workload.renderBuffer(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    const double samples =
        static_cast<double>(state.iterations()) * static_cast<double>(bufferFrames);
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    // Seconds of audio rendered per second of CPU: the real-time factor.
    state.counters["realtime_x"] =
        benchmark::Counter(samples / VoiceParams::sampleRate, benchmark::Counter::kIsRate);
    state.counters["ns_per_sample"] = benchmark::Counter(
        samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RenderVoice)->Arg(64)->Arg(128)->Arg(512)->Arg(4096); // 128: a web audio quantum

} // namespace

BENCHMARK_MAIN();
