// The live output's rate converter (44.1 kHz voice to a 48 kHz device): its added latency, from
// an impulse's position in the voice to the peak of its image in the output, in frames at
// 48 kHz and in ms; and its CPU per second of audio, converting a minute of a sine in the
// pieces a 256-frame device period asks for.
#include "app/audio/LiveResampler.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

using namespace doodle;

constexpr double kVoiceRate = 44100.0;
constexpr double kDeviceRate = 48000.0;
constexpr std::size_t kImpulseFrame = 44100; // a second into the voice
constexpr std::size_t kPeriodFrames = 256;
constexpr int kSeconds = 60;
constexpr double kSineHz = 220.0;
constexpr double kMsPerSecond = 1000.0;
constexpr double kUsPerSecond = 1e6;

// The voice: silence with one impulse, or a sine.
struct Source {
    bool impulse = true;
    std::size_t frame = 0;
    static void render(void* state, float* out, std::size_t frames) noexcept {
        auto* source = static_cast<Source*>(state);
        for (std::size_t i = 0; i < frames; ++i, ++source->frame) {
            out[i] =
                source->impulse
                    ? (source->frame == kImpulseFrame ? 1.0f : 0.0f)
                    : static_cast<float>(std::sin(2.0 * std::numbers::pi * kSineHz *
                                                  static_cast<double>(source->frame) / kVoiceRate));
        }
    }
};

} // namespace

int main() {
    Source impulse;
    LiveResampler latencyProbe(kVoiceRate, kDeviceRate, &Source::render, &impulse);
    if (!latencyProbe.error().empty()) {
        std::fprintf(stderr, "libsoxr: %s\n", latencyProbe.error().c_str());
        return 1;
    }
    std::vector<float> out(static_cast<std::size_t>(2 * kDeviceRate));
    for (std::size_t done = 0; done < out.size(); done += kPeriodFrames) {
        latencyProbe.process(out.data() + done, std::min(kPeriodFrames, out.size() - done));
    }
    const auto peak = static_cast<std::size_t>(
        std::max_element(out.begin(), out.end(),
                         [](float a, float b) { return std::fabs(a) < std::fabs(b); }) -
        out.begin());
    const double impulseAtDevice = static_cast<double>(kImpulseFrame) * kDeviceRate / kVoiceRate;
    const double latencyFrames = static_cast<double>(peak) - impulseAtDevice;
    std::printf("latency frames  %.1f (at 48 kHz)\n", latencyFrames);
    std::printf("latency ms      %.3f\n", latencyFrames / kDeviceRate * kMsPerSecond);

    Source sine{false, 0};
    LiveResampler converter(kVoiceRate, kDeviceRate, &Source::render, &sine);
    std::vector<float> period(kPeriodFrames);
    const auto periods = static_cast<std::size_t>(kSeconds * kDeviceRate) / kPeriodFrames;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < periods; ++i) {
        converter.process(period.data(), period.size());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("cpu us/s audio  %.1f (%.3f %% of one core)\n", seconds / kSeconds * kUsPerSecond,
                seconds / kSeconds * 100.0);
    return 0;
}
