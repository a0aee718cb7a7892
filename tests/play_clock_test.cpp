#include "app/clock/LatestValue.h"
#include "app/clock/PlayClock.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace doodle {
namespace {

struct Taken {
    int32_t tick;
    int64_t dueNs;
};

std::vector<Taken> takeAll(PlayClock& clock) {
    std::vector<Taken> taken;
    clock.takeTicks([&](const PlayClock::Tick& tick) { taken.push_back({tick.tick, tick.dueNs}); });
    return taken;
}

constexpr int64_t kStartNs = 7 * kNsPerSecond + 123'456; // an arbitrary point on the clock
constexpr std::size_t kBlockFrames = 256;

// A stream's callback counts: the ticks come in order, each stamped with when its frame is
// heard, counted from the first frame after the resume, as the MIDI export places them.
TEST(PlayClock, StampsEachTickWithTheTimeOfItsFrame) {
    PlayClock clock;
    clock.setStreamDriven(true);
    int64_t frames = 0;
    auto callback = [&] {
        clock.count(kBlockFrames, kStartNs + framesToNs(frames), [](std::size_t, std::size_t) {});
        frames += static_cast<int64_t>(kBlockFrames);
    };
    callback(); // before the resume: nothing
    EXPECT_TRUE(takeAll(clock).empty());
    clock.resume();
    const int64_t resumeFrame = frames;
    for (int i = 0; i < 20; ++i) {
        callback();
    }
    const std::vector<Taken> taken = takeAll(clock);
    ASSERT_EQ(taken.size(), 116U); // 20 × 256 frames hold ticks 1..116 (116 × 44.1 = 5115.6)
    for (std::size_t i = 0; i < taken.size(); ++i) {
        const int32_t tick = static_cast<int32_t>(i) + 1;
        EXPECT_EQ(taken[i].tick, tick);
        EXPECT_EQ(taken[i].dueNs,
                  kStartNs + framesToNs(resumeFrame) + framesToNs(tickSampleIndex(tick)));
    }
}

// Ticks counted before a pause, or for an earlier resume, never reach the program; after a
// resume the count starts at 1 again.
TEST(PlayClock, DropsTicksOfAnEarlierResumeOrAfterAPause) {
    PlayClock clock;
    clock.setStreamDriven(true);
    clock.resume();
    clock.count(kBlockFrames, kStartNs, [](std::size_t, std::size_t) {}); // ticks 1..5 queued
    clock.pause();
    EXPECT_TRUE(takeAll(clock).empty());
    clock.resume();
    clock.count(kBlockFrames, kStartNs, [](std::size_t, std::size_t) {}); // the old resume's
    clock.resume();
    clock.count(kBlockFrames, kStartNs, [](std::size_t, std::size_t) {}); // this one's
    std::vector<int32_t> ticks;
    clock.takeTicks([&](const PlayClock::Tick& taken) {
        const int32_t tick = taken.tick;
        ticks.push_back(tick);
        if (tick == 3) {
            clock.pause(); // as the program pauses when playback ends
        }
    });
    EXPECT_EQ(ticks, (std::vector<int32_t>{1, 2, 3}));
}

// Where no stream runs, the main thread counts on the steady clock: the ticks due by then, a
// long stall caught up only up to its limit, and no time counted while paused.
TEST(PlayClock, TheSteadyDriverCountsTheTicksDueByNow) {
    PlayClock clock;
    clock.resume();
    clock.advanceSteady(kStartNs);
    EXPECT_TRUE(takeAll(clock).empty());
    clock.advanceSteady(kStartNs + 10'100'000); // 10.1 ms: ticks 1..10
    std::vector<Taken> taken = takeAll(clock);
    ASSERT_EQ(taken.size(), 10U);
    EXPECT_EQ(taken.back().dueNs, kStartNs + framesToNs(tickSampleIndex(10)));

    clock.advanceSteady(kStartNs + 3600 * kNsPerSecond); // an hour's stall
    taken = takeAll(clock);
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(taken.back().tick, 10 + 100); // 100 ms of it, no more
    clock.pause();
    clock.advanceSteady(kStartNs + 3601 * kNsPerSecond);
    EXPECT_TRUE(takeAll(clock).empty());
    clock.resume();
    const int64_t resumeNs = kStartNs + 7200 * kNsPerSecond;
    clock.advanceSteady(resumeNs);
    clock.advanceSteady(resumeNs + 2'100'000);
    taken = takeAll(clock);
    ASSERT_EQ(taken.size(), 2U) << "the paused hour counted";
    EXPECT_EQ(taken[0].tick, 1);
    EXPECT_EQ(taken[1].dueNs, resumeNs + framesToNs(tickSampleIndex(2)));
}

// A full queue holds the ticks back in the clock; none is lost or doubled.
TEST(PlayClock, AFullQueueHoldsTicksBack) {
    PlayClock clock;
    clock.setStreamDriven(true);
    clock.resume();
    const std::size_t frames = static_cast<std::size_t>(tickSampleIndex(5000)) + 1;
    clock.count(frames, kStartNs, [](std::size_t, std::size_t) {});
    std::vector<Taken> taken = takeAll(clock);
    ASSERT_EQ(taken.size(), PlayClock::kQueueTicks);
    clock.count(1, kStartNs, [](std::size_t, std::size_t) {});
    const std::vector<Taken> rest = takeAll(clock);
    taken.insert(taken.end(), rest.begin(), rest.end());
    ASSERT_EQ(taken.size(), 5000U);
    for (std::size_t i = 0; i < taken.size(); ++i) {
        EXPECT_EQ(taken[i].tick, static_cast<int32_t>(i) + 1);
    }
}

// The callback and the main thread at once (ThreadSanitizer checks the hand-over): every tick
// arrives once and in order while the main thread pauses and resumes.
TEST(PlayClock, ACallbackThreadAndTheMainThreadShareTheQueue) {
    PlayClock clock;
    clock.setStreamDriven(true);
    std::atomic<bool> done{false};
    std::thread callback([&] {
        int64_t frames = 0;
        while (!done.load()) {
            clock.count(kBlockFrames, framesToNs(frames), [](std::size_t, std::size_t) {});
            frames += static_cast<int64_t>(kBlockFrames);
            std::this_thread::yield();
        }
    });
    constexpr int kResumes = 50;
    constexpr int32_t kTicksPerResume = 200;
    for (int resume = 0; resume < kResumes; ++resume) {
        clock.resume();
        int32_t expected = 1;
        while (expected <= kTicksPerResume) {
            clock.takeTicks([&](const PlayClock::Tick& taken) {
                const int32_t tick = taken.tick;
                EXPECT_EQ(tick, expected);
                ++expected;
            });
        }
        clock.pause();
    }
    done.store(true);
    callback.join();
}

// The controls the main thread hands the audio callback: each look takes the latest value set,
// whole, however the two threads interleave; nothing set since the last look gives nothing.
TEST(LatestValue, EachLookTakesTheLatestValueWholeOrNothing) {
    struct Value {
        uint64_t count = 0;
        std::array<uint64_t, 5> copies{}; // each equals count: a torn copy would not
        bool flag = false;
    };
    LatestValue<Value> latest;
    Value taken;
    EXPECT_FALSE(latest.take(taken)) << "nothing set yet";
    latest.set({1, {1, 1, 1, 1, 1}, true});
    latest.set({2, {2, 2, 2, 2, 2}, false});
    ASSERT_TRUE(latest.take(taken));
    EXPECT_EQ(taken.count, 2U);
    EXPECT_FALSE(taken.flag);
    EXPECT_FALSE(latest.take(taken)) << "taken once";

    constexpr uint64_t kSets = 200'000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (uint64_t count = 3; count <= kSets; ++count) {
            Value value{count, {}, count % 2 == 0};
            value.copies.fill(count);
            latest.set(value);
        }
        done.store(true);
    });
    uint64_t lastCount = 2;
    uint64_t torn = 0;
    uint64_t backwards = 0;
    while (true) {
        const bool finished = done.load(); // before the look: no value can come after it
        if (!latest.take(taken)) {
            if (finished) {
                break;
            }
            continue;
        }
        for (const uint64_t copy : taken.copies) {
            torn += copy != taken.count ? 1 : 0;
        }
        torn += taken.flag != (taken.count % 2 == 0) ? 1 : 0;
        backwards += taken.count <= lastCount ? 1 : 0;
        lastCount = taken.count;
    }
    writer.join();
    EXPECT_EQ(torn, 0U);
    EXPECT_EQ(backwards, 0U);
    EXPECT_EQ(lastCount, kSets) << "the last value set is taken";
}

} // namespace
} // namespace doodle
