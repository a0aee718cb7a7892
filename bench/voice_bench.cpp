// Cost of the audio path: renderVoice on a sounding voice with a glide always running.
// Reports ns per sample and the real-time factor on one core.
#include "voice/ResonatorTuning.h"
#include "voice/Synth.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

using namespace doodle;

void BM_RenderVoice(benchmark::State& state) {
    const auto bufferFrames = static_cast<std::size_t>(state.range(0));
    VoiceParams voice;
    VoiceRenderer renderer(voice);
    voice.res[0].setFormant(620, 70);
    voice.res[1].setFormant(1660, 150);
    voice.res[2].setFormant(2430, 320);
    tuneResonators(voice);
    voice.pitch.store(110.0);
    startVoice(voice);
    setPitch(voice);
    std::vector<float> buffer(bufferFrames);
    double targetHz = 110.0;
    for (auto _ : state) {
        // A new target every buffer keeps a glide running, as a drag does.
        targetHz = targetHz > 600.0 ? 110.0 : targetHz + 7.0;
        voice.pitch.store(targetHz);
        setPitch(voice);
        renderVoice(renderer, buffer.data(), buffer.size());
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
