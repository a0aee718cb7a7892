// The JACK process thread's MIDI handling on plain buffers: which incoming events reach the
// main thread, and where in a period the outgoing messages land.
#include "app/midi/MidiRings.h"

#include <gtest/gtest.h>
#include <vector>

namespace doodle {
namespace {

constexpr uint32_t kPeriodFrames = 256;

struct Written {
    uint32_t offsetFrames = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const Written&) const = default;
};

std::vector<Written> runPeriod(MidiRings& rings, uint32_t periodStart) {
    std::vector<Written> written;
    rings.writeOutgoing(periodStart, kPeriodFrames,
                        [&written](uint32_t offsetFrames, std::span<const uint8_t> bytes) {
                            written.push_back({offsetFrames, {bytes.begin(), bytes.end()}});
                            return true;
                        });
    return written;
}

TEST(MidiRings, IncomingKeepsChannelMessagesWithTheirFrameTimes) {
    MidiRings rings;
    ASSERT_TRUE(rings.valid());
    const std::vector<std::vector<uint8_t>> events{{0x93, 60, 100},          // note on, channel 4
                                                   {0xF8},                   // clock
                                                   {0xF0, 0x7E, 0x01, 0xF7}, // SysEx
                                                   {0xE0, 0x00, 0x50},       // bend
                                                   {0xC5, 52}, // program change: one data byte
                                                   {0xB0, 74}, // cut short
                                                   {60, 100},  // data bytes without a status
                                                   {0xFF},     // reset
                                                   {0x80, 60, 0}};
    uint32_t frameTime = 1000;
    for (const std::vector<uint8_t>& event : events) {
        static_cast<void>(rings.queueIncoming(frameTime++, event));
    }
    std::vector<TimedMidiMessage> taken;
    TimedMidiMessage message;
    while (rings.takeIncoming(message)) {
        taken.push_back(message);
    }
    ASSERT_EQ(taken.size(), 4u);
    EXPECT_EQ(taken[0].frameTime, 1000u);
    EXPECT_EQ(taken[0].message, (MidiMessage{0x93, 60, 100}));
    EXPECT_EQ(taken[1].frameTime, 1003u);
    EXPECT_EQ(taken[1].message, (MidiMessage{0xE0, 0x00, 0x50}));
    EXPECT_EQ(taken[2].message, (MidiMessage{0xC5, 52, 0}));
    EXPECT_EQ(taken[3].frameTime, 1008u);
}

TEST(MidiRings, OutgoingKeepsOnePeriodOfDelayInOrder) {
    MidiRings rings;
    ASSERT_TRUE(rings.valid());
    // Period k starts at frame 0xFFFFFF00 (the frame counter wraps within it); messages
    // stamped during it go out in period k + 1 at the same offset.
    const uint32_t periodK = 0xFFFFFF00u;
    ASSERT_TRUE(rings.queueOutgoing({periodK + 10, {0x90, 60, 100}}));
    ASSERT_TRUE(rings.queueOutgoing({periodK + 200, {0xE0, 0, 64}}));
    ASSERT_TRUE(rings.queueOutgoing({periodK + 255, {0xC0, 52, 0}}));
    // Stamped after period k + 1 began (the main thread ran ahead of the process thread).
    ASSERT_TRUE(rings.queueOutgoing({periodK + kPeriodFrames + 3, {0x80, 60, 0}}));
    EXPECT_EQ(
        runPeriod(rings, periodK + kPeriodFrames),
        (std::vector<Written>{{10, {0x90, 60, 100}}, {200, {0xE0, 0, 64}}, {255, {0xC0, 52}}}));
    // Period k + 2 was missed: its messages are late and land at the start, in order, never
    // before the one ahead.
    ASSERT_TRUE(rings.queueOutgoing({periodK + kPeriodFrames + 100, {0xB0, 74, 5}}));
    ASSERT_TRUE(rings.queueOutgoing({periodK + kPeriodFrames + 90, {0xB0, 74, 6}}));
    ASSERT_TRUE(rings.queueOutgoing({periodK + 3 * kPeriodFrames + 50, {0x90, 62, 100}}));
    EXPECT_EQ(runPeriod(rings, periodK + 3 * kPeriodFrames),
              (std::vector<Written>{{0, {0x80, 60, 0}}, {0, {0xB0, 74, 5}}, {0, {0xB0, 74, 6}}}));
    EXPECT_EQ(runPeriod(rings, periodK + 4 * kPeriodFrames),
              (std::vector<Written>{{50, {0x90, 62, 100}}}));
    EXPECT_TRUE(runPeriod(rings, periodK + 5 * kPeriodFrames).empty());
}

TEST(MidiRings, FullQueuesDropNewMessages) {
    MidiRings rings;
    ASSERT_TRUE(rings.valid());
    const std::array<uint8_t, 3> noteOn{0x90, 60, 100};
    std::size_t queued = 0;
    constexpr std::size_t kOffered = 4 * MidiRings::kRingMessages;
    for (std::size_t index = 0; index < kOffered; ++index) {
        queued += rings.queueIncoming(static_cast<uint32_t>(index), noteOn) ? 1 : 0;
    }
    EXPECT_GE(queued, MidiRings::kRingMessages);
    EXPECT_LT(queued, kOffered);
    TimedMidiMessage message;
    std::size_t taken = 0;
    while (rings.takeIncoming(message)) {
        EXPECT_EQ(message.frameTime, taken);
        ++taken;
    }
    EXPECT_EQ(taken, queued);
}

} // namespace
} // namespace doodle
