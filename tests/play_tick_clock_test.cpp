#include "recording/PlayTickClock.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace doodle {
namespace {

struct Handed {
    int32_t tick;
    int64_t frame;
};

// Ticks land where the offline render handles them, however the frames are cut into blocks,
// and the rendered pieces cover every frame exactly once.
TEST(PlayTickClock, HandsEachTickBeforeItsSampleWhateverTheBlockSizes) {
    for (const std::size_t block :
         {std::size_t{1}, std::size_t{44}, std::size_t{128}, std::size_t{441}, std::size_t{4096}}) {
        PlayTickClock clock;
        constexpr int64_t kLeadFrames = 300; // the clock runs before the resume
        std::vector<Handed> handed;
        int64_t rendered = 0;
        auto run = [&](std::size_t frames) {
            clock.advance(
                frames,
                [&](int32_t tick) {
                    handed.push_back({tick, clock.frame()});
                    return true;
                },
                [&](std::size_t offset, std::size_t count) {
                    EXPECT_EQ(clock.frame() - rendered, 0);
                    EXPECT_LT(offset, frames);
                    rendered += static_cast<int64_t>(count);
                });
        };
        run(kLeadFrames);
        EXPECT_TRUE(handed.empty()) << "ticks before a resume";
        clock.resume();
        constexpr int64_t kFrames = 44100;
        for (int64_t done = 0; done < kFrames; done += static_cast<int64_t>(block)) {
            run(block);
        }
        EXPECT_EQ(rendered, clock.frame());
        ASSERT_GE(handed.size(), 999U) << block;
        for (std::size_t i = 0; i < handed.size(); ++i) {
            const int32_t tick = static_cast<int32_t>(i) + 1;
            EXPECT_EQ(handed[i].tick, tick);
            EXPECT_EQ(handed[i].frame, kLeadFrames + tickSampleIndex(tick)) << block;
        }
        clock.pause();
        const std::size_t before = handed.size();
        run(block);
        EXPECT_EQ(handed.size(), before) << "a tick after the pause";
    }
}

// A tick the host cannot take yet is held, with every later one, and handed over first on the
// next call; the frames go on meanwhile. A resume starts the count at 1 again.
TEST(PlayTickClock, HoldsRefusedTicksAndCountsAgainAfterAResume) {
    PlayTickClock clock;
    clock.resume();
    std::vector<int32_t> taken;
    bool accept = false;
    auto run = [&](std::size_t frames) {
        clock.advance(
            frames,
            [&](int32_t tick) {
                if (accept) {
                    taken.push_back(tick);
                }
                return accept;
            },
            [](std::size_t, std::size_t) {});
    };
    run(441); // ticks 1..9 due (tick 10 at frame 441)
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(clock.frame(), 441);
    accept = true;
    run(1);
    ASSERT_EQ(taken.size(), 10U);
    EXPECT_EQ(taken.front(), 1);
    EXPECT_EQ(taken.back(), 10);
    EXPECT_EQ(clock.nowMs(), 10);

    clock.resume();
    taken.clear();
    run(45);
    EXPECT_EQ(clock.resumeFrame(), 442);
    EXPECT_EQ(taken, (std::vector<int32_t>{1}));
}

} // namespace
} // namespace doodle
