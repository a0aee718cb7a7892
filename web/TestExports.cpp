// What only the browser tests and the benchmark call, built into the module with
// -DDC_WEB_TEST_EXPORTS=ON (web/test.sh does): the program's own answers to compare the page
// with, and the voice's benchmark workload (voice/VoiceWorkload.h), which the benchmark times
// in a browser against the native bench/voice_bench.
#include "mapping/DrawingSurface.h"
#include "mapping/PitchMap.h"
#include "program/HelpText.h"
#include "voice/VoiceWorkload.h"

#include <emscripten/bind.h>
#include <emscripten/emscripten.h>
#include <memory>
#include <string>
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

// The pitch the maps give to a point's X (0..kMaxPointX) in a scale mode (0 Unrestricted,
// 1 Major, 2 Minor, 3 Pentatonic) on a root (0..11) under a tuning (0 Classic, 1 Concert), Hz.
double mapPitchHz(int32_t x, int32_t scaleMode, int32_t rootIndex, int32_t tuning) {
    const auto mode = static_cast<doodle::ScaleMode>(scaleMode);
    return doodle::mapPitch(doodle::clampX(x), mode, doodle::buildScale(mode, rootIndex, {}),
                            static_cast<doodle::Tuning>(tuning))
        .pitchHz;
}

} // namespace

// The Help window's text, and the pitch of a point, for the page's tests to compare with.
EMSCRIPTEN_BINDINGS(doodlechorus_tests) {
    emscripten::function("helpText", &doodle::programHelpText);
    emscripten::function("mapPitch", &mapPitchHz);
}

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
