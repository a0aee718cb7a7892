// The voice's workload of bench/voice_bench, for timing the WebAssembly voice in a browser: a
// sounding voice with a glide always running. The page's benchmark times the calls.
#include "voice/ResonatorTuning.h"
#include "voice/Synth.h"

#include <emscripten/emscripten.h>
#include <memory>
#include <vector>

namespace doodle {
namespace {

constexpr double kStartHz = 110.0;
constexpr double kTopHz = 600.0;
constexpr double kStepHz = 7.0;

struct BenchVoice {
    VoiceParams voice{};
    VoiceRenderer renderer{voice};
    std::vector<float> buffer{};
    double targetHz = kStartHz;
};

std::unique_ptr<BenchVoice>& bench() {
    static std::unique_ptr<BenchVoice> instance;
    return instance;
}

} // namespace
} // namespace doodle

using namespace doodle;

extern "C" {

// A voice sounding with the formants of bench/voice_bench, rendering bufferFrames at a time.
EMSCRIPTEN_KEEPALIVE void dc_bench_voice_start(int32_t bufferFrames) {
    constexpr double kF1Hz = 620;
    constexpr double kB1Hz = 70;
    constexpr double kF2Hz = 1660;
    constexpr double kB2Hz = 150;
    constexpr double kF3Hz = 2430;
    constexpr double kB3Hz = 320;
    bench() = std::make_unique<BenchVoice>();
    BenchVoice& b = *bench();
    b.buffer.resize(static_cast<std::size_t>(bufferFrames));
    b.voice.res[0].setFormant(kF1Hz, kB1Hz);
    b.voice.res[1].setFormant(kF2Hz, kB2Hz);
    b.voice.res[2].setFormant(kF3Hz, kB3Hz);
    tuneResonators(b.voice);
    b.voice.pitch.store(kStartHz);
    startVoice(b.voice);
    setPitch(b.voice);
}

// Renders `buffers` buffers, each towards a new pitch; returns the last sample so that the
// work cannot be left out.
EMSCRIPTEN_KEEPALIVE float dc_bench_voice_run(int32_t buffers) {
    BenchVoice& b = *bench();
    for (int32_t i = 0; i < buffers; ++i) {
        b.targetHz = b.targetHz > kTopHz ? kStartHz : b.targetHz + kStepHz;
        b.voice.pitch.store(b.targetHz);
        setPitch(b.voice);
        renderVoice(b.renderer, b.buffer.data(), b.buffer.size());
    }
    return b.buffer.back();
}

} // extern "C"
