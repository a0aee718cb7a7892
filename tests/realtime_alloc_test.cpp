// Proves that the audio path never allocates: every global operator new in this binary is
// counted, and rendering must leave the count unchanged.
#include "voice/Synth.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>
#include <vector>

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace doodle {
namespace {

TEST(RealtimeSafety, RenderingAllocatesNothing) {
    VoiceParams voice;
    VoiceRenderer renderer(voice);
    VoiceRenderer live(voice, VoiceOutput::Live); // the desktop's and the page's, guarded
    std::vector<float> buffer(4096);              // allocated before counting starts
    const long beforeSanity = g_allocations.load();
    auto* probe = new std::vector<int>(3);
    delete probe;
    ASSERT_GT(g_allocations.load(), beforeSanity) << "the counter must see allocations";

    setFormants(voice, {{620, 1660, 2430}, {70, 150, 320}});
    startVoice(voice);
    setPitch(voice, 110.0);
    setPitch(voice, 300.0); // a running glide

    // The renderer tunes its resonators itself when a new vowel arrives, and takes stops and
    // starts: all of that inside the callback.
    const long before = g_allocations.load();
    for (int block = 0; block < 50; ++block) {
        renderer.process(buffer.data(), buffer.size());
        live.process(buffer.data(), buffer.size());
        if (block == 10) {
            setFormants(voice, {{310, 2020, 2960}, {45, 200, 400}});
        }
        if (block == 25) {
            stopVoice(voice);
        }
    }
    EXPECT_EQ(g_allocations.load(), before);
}

} // namespace
} // namespace doodle
