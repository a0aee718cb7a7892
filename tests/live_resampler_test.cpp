// The live output's rate converter: the voice's 44.1 kHz to a device's 48 kHz at the same
// pitch, every frame asked for filled, and nothing allocated once made.
#include "PitchMeasure.h"
#include "Sanitizers.h"
#include "app/audio/LiveResampler.h"

#include <cmath>
#include <cstddef>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define DC_COUNT_MALLOC 1
// libsoxr allocates with malloc: the C allocator itself is counted, through glibc's own entry
// points (a sanitizer's runtime replaces them, so its builds do not count).
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void __libc_free(void* pointer);
}
namespace {
bool g_counting = false;
std::size_t g_allocations = 0;
} // namespace
extern "C" {
void* malloc(std::size_t size) {
    g_allocations += g_counting ? 1 : 0;
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    g_allocations += g_counting ? 1 : 0;
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
    g_allocations += g_counting ? 1 : 0;
    return __libc_realloc(pointer, size);
}
void free(void* pointer) {
    __libc_free(pointer);
}
}
#endif

namespace doodle {
namespace {

constexpr double kVoiceRate = 44100.0;
constexpr double kDeviceRate = 48000.0;
constexpr double kSineHz = 220.0;
constexpr float kAmplitude = 0.5f;

// A sine at kSineHz on the voice's clock, as the callback's voice would render it.
struct Sine {
    double phase = 0.0;
    std::size_t frames = 0;
    static void render(void* state, float* out, std::size_t count) noexcept {
        auto* sine = static_cast<Sine*>(state);
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = kAmplitude * static_cast<float>(std::sin(sine->phase));
            sine->phase += 2.0 * std::numbers::pi * kSineHz / kVoiceRate;
        }
        sine->frames += count;
    }
};

// Output in the uneven pieces a host's callbacks ask for.
std::vector<float> convert(LiveResampler& resampler, std::size_t frames) {
    constexpr std::size_t kPieces[] = {256, 64, 1024, 100, 480, 2048, 17, 4096};
    std::vector<float> out(frames, NAN);
    std::size_t done = 0;
    for (std::size_t i = 0; done < frames; ++i) {
        const std::size_t piece = std::min(kPieces[i % std::size(kPieces)], frames - done);
        resampler.process(out.data() + done, piece);
        done += piece;
    }
    return out;
}

TEST(LiveResampler, SingsTheVoicesPitchAtTheDevicesRateAndAgainAfterAReset) {
    Sine sine;
    LiveResampler resampler(kVoiceRate, kDeviceRate, &Sine::render, &sine);
    ASSERT_EQ(resampler.error(), "");
    EXPECT_EQ(sine.frames, 0U) << "the warm-up pulled the voice";
    for (int round = 0; round < 2; ++round) {
        constexpr std::size_t kFrames = 48000; // a second
        const std::vector<float> out = convert(resampler, kFrames);
        for (const float sample : out) {
            ASSERT_TRUE(std::isfinite(sample));
            ASSERT_LE(std::fabs(sample), kAmplitude * 1.01f);
        }
        // A second of output takes a second of the voice, give or take the converter's delay.
        EXPECT_NEAR(static_cast<double>(sine.frames), kVoiceRate * (round + 1), 4096.0);
        constexpr std::size_t kStart = 8192; // past the converter's delay
        constexpr std::size_t kWindow = 16384;
        EXPECT_NEAR(test::measurePitchHz(out, kStart, kWindow, kDeviceRate), kSineHz, 0.05);
        resampler.reset();
    }
    EXPECT_GT(resampler.delayFrames(), 0.0);
}

TEST(LiveResampler, AllocatesNothingOnceMade) {
#ifdef DC_COUNT_MALLOC
    Sine sine;
    LiveResampler resampler(kVoiceRate, kDeviceRate, &Sine::render, &sine);
    ASSERT_EQ(resampler.error(), "");
    std::vector<float> out(LiveResampler::kMaxStepFrames * 4);
    g_counting = true;
    g_allocations = 0;
    for (int i = 0; i < 2000; ++i) {
        resampler.process(out.data(), out.size() >> (i % 9));
    }
    g_counting = false;
    EXPECT_EQ(g_allocations, 0U);
#else
    GTEST_SKIP() << "the sanitizer's allocator cannot be counted";
#endif
}

} // namespace
} // namespace doodle
