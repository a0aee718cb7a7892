// Proves that the audio path never allocates: every global operator new in this binary is
// counted, and rendering must leave the count unchanged.
#include "voice/ResonatorTuning.h"
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

TEST(RealtimeSafety, RenderVoiceAllocatesNothing) {
    VoiceParams voice;
    VoiceRenderer renderer(voice);
    std::vector<float> buffer(4096); // allocated before counting starts
    const long beforeSanity = g_allocations.load();
    auto* probe = new std::vector<int>(3);
    delete probe;
    ASSERT_GT(g_allocations.load(), beforeSanity) << "the counter must see allocations";

    voice.res[0].setFormant(620, 70);
    tuneResonators(voice);
    voice.pitch.store(110.0);
    startVoice(voice);
    setPitch(voice);
    voice.pitch.store(300.0);
    setPitch(voice); // a running glide

    const long before = g_allocations.load();
    for (int block = 0; block < 50; ++block) {
        renderVoice(renderer, buffer.data(), buffer.size());
        if (block == 25) {
            stopVoice(voice);
        }
    }
    EXPECT_EQ(g_allocations.load(), before);
}

} // namespace
} // namespace doodle
