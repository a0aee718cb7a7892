// The voice's benchmark workload (bench/VoiceWorkload.h) as WebAssembly: the page's benchmark
// times these calls in a browser against the native bench/voice_bench.
#include "bench/VoiceWorkload.h"

#include <emscripten/emscripten.h>
#include <memory>
#include <vector>

namespace {

struct BenchState {
    doodle::VoiceWorkload workload{};
    std::vector<float> buffer{};
};

std::unique_ptr<BenchState>& bench() {
    static std::unique_ptr<BenchState> instance;
    return instance;
}

} // namespace

extern "C" {

// A fresh workload rendering bufferFrames at a time.
EMSCRIPTEN_KEEPALIVE void dc_bench_voice_start(int32_t bufferFrames) {
    bench() = std::make_unique<BenchState>();
    bench()->buffer.resize(static_cast<std::size_t>(bufferFrames));
}

// Renders `buffers` buffers; returns the last sample so that the work cannot be left out.
EMSCRIPTEN_KEEPALIVE float dc_bench_voice_run(int32_t buffers) {
    BenchState& b = *bench();
    for (int32_t i = 0; i < buffers; ++i) {
        b.workload.renderBuffer(b.buffer.data(), b.buffer.size());
    }
    return b.buffer.back();
}

} // extern "C"
