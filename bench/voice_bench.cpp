// Cost of the audio path: the renderer on a sounding voice with a glide always running.
// Reports ns per sample and the real-time factor on one core.
#include "voice/Synth.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

using namespace doodle;

void BM_RenderVoice(benchmark::State& state) {
    const auto bufferFrames = static_cast<std::size_t>(state.range(0));
    VoiceParams voice;
    VoiceRenderer renderer(voice);
    setFormants(voice, {{620, 1660, 2430}, {70, 150, 320}});
    startVoice(voice);
    setPitch(voice, 110.0);
    std::vector<float> buffer(bufferFrames);
    double targetHz = 110.0;
    for (auto _ : state) {
        // A new target every buffer keeps a glide running, as a drag does.
        targetHz = targetHz > 600.0 ? 110.0 : targetHz + 7.0;
        setPitch(voice, targetHz);
        renderer.process(buffer.data(), buffer.size());
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
BENCHMARK(BM_RenderVoice)->Arg(64)->Arg(512)->Arg(4096);

} // namespace

BENCHMARK_MAIN();
