// Cost of the audio path: the renderer on a sounding voice with a glide always running.
// Reports ns per sample and the real-time factor on one core. Then the chorus: one singer other
// than the voice per sample beside the floor of the source's two libm sines, and sixteen singers
// as a share of one core over 64-frame periods at 44.1 kHz.
#include "voice/Choir.h"
#include "voice/Synth.h"
#include "voice/VoiceParams.h"
#include "voice/VoiceWorkload.h"

#include <array>
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

void countNsPerSample(benchmark::State& state, double samples) {
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    state.counters["ns_per_sample"] = benchmark::Counter(
        samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The floor: the source's two sines (sourceSample) alone, phase moving at 220 Hz.
void BM_TwoSineFloor(benchmark::State& state) {
    constexpr std::size_t kFrames = 64;
    constexpr double kPhaseStep = 220.0 / VoiceParams::sampleRate;
    double phase = 0.0;
    std::array<double, kFrames> out{};
    for (auto _ : state) {
        for (double& sample : out) {
            sample = sourceSample(phase);
            phase += kPhaseStep;
            if (phase > 1.0) {
                phase -= 1.0;
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    countNsPerSample(state, static_cast<double>(state.iterations()) * kFrames);
}
BENCHMARK(BM_TwoSineFloor);

// One singer other than the voice: a held note with vibrato, jitter and shimmer, then a glide
// to a new pitch every 4096 samples.
void BM_ChoirSinger(benchmark::State& state) {
    constexpr std::size_t kFrames = 64;
    constexpr std::array<double, 2> kPitchesHz{220.0, 262.0};
    SingerVariation variation;
    variation.detuneRatio = 1.01;
    variation.vibratoTurnsPerSample = 5.5 / VoiceParams::sampleRate;
    variation.vibratoPeakCents = 35.0;
    ChoirSinger singer(1);
    ChoirRequest request;
    request.starts = 1;
    request.parts[0] = {kPitchesHz[0], {{620, 1660, 2430}, {70, 150, 320}}};
    singer.apply(request, 0);
    std::array<double, kFrames> out{};
    std::size_t buffers = 0;
    for (auto _ : state) {
        if (++buffers % 64 == 0) {
            request.parts[0].pitchHz = kPitchesHz[(buffers / 64) % 2];
            singer.apply(request, 0);
        }
        for (double& sample : out) {
            sample = singer.step(variation);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    countNsPerSample(state, static_cast<double>(state.iterations()) * kFrames);
}
BENCHMARK(BM_ChoirSinger);

// Sixteen singers (Harmony, four a part, or Unison) in 64-frame periods, live output, the
// voice's pitch and the parts moving every period so that glides always run. period_share is
// the CPU time over the audio time: under 0.25 leaves three quarters of a core.
void BM_Choir16(benchmark::State& state) {
    constexpr std::size_t kFrames = 64;
    const auto mode = static_cast<ChorusMode>(state.range(0));
    VoiceParams voice;
    ChoirShared parts;
    ChoirRenderer choir(voice, parts, mode, kMaxSingersPerPart, VoiceOutput::Live);
    const FormantSet vowel{{620, 1660, 2430}, {70, 150, 320}};
    setFormants(voice, vowel);
    startVoice(voice);
    std::array<float, kFrames> left{};
    std::array<float, kFrames> right{};
    double pitchHz = 220.0;
    for (auto _ : state) {
        pitchHz = pitchHz > 440.0 ? 220.0 : pitchHz + 3.0;
        setPitch(voice, pitchHz);
        ChoirSettings settings;
        for (std::size_t p = 0; p < kChorusParts; ++p) {
            settings.parts[p] = {pitchHz * (1.0 - 0.2 * static_cast<double>(p)), vowel};
        }
        parts.publish(settings);
        choir.process(left.data(), right.data(), kFrames);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(state.iterations()) * kFrames;
    countNsPerSample(state, frames);
    state.counters["period_share"] =
        benchmark::Counter(frames / VoiceParams::sampleRate,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Choir16)
    ->Arg(static_cast<int64_t>(ChorusMode::Unison))
    ->Arg(static_cast<int64_t>(ChorusMode::Harmony));

} // namespace

BENCHMARK_MAIN();
