#pragma once

#include "recording/MidiFormat.h"

#include <cstddef>
#include <cstdint>
#include <jack/ringbuffer.h>
#include <optional>
#include <span>

namespace doodle {

// One channel message with the JACK frame time it belongs to (frames wrap at 2^32). Incoming
// ones also carry the time their moment has for the program (CLOCK_MONOTONIC ms, as
// monotonicMs gives; none when it could not be read), and whether the message is the last of its
// period: the program ends MIDI input's moment there, as the process thread did.
struct TimedMidiMessage {
    uint32_t frameTime = 0;
    MidiMessage message{};
    std::optional<int32_t> timeMs{};
    bool endsPeriod = false;
};

// The two lock-free queues between JACK's process thread and the main thread, and what the
// process thread does with them each period. Only the ring buffers come from libjack: none of
// it needs a server. Each queue has one writer thread and one reader thread.
class MidiRings {
public:
    // Messages each queue holds at least (the ring rounds its size up to a power of two): about 45
    // s of a dense controller stream (3 bytes per ms) if the main thread stalls; beyond that, new
    // messages are dropped.
    static constexpr std::size_t kRingMessages = 4096;

    MidiRings() noexcept;
    ~MidiRings();
    MidiRings(const MidiRings&) = delete;
    MidiRings& operator=(const MidiRings&) = delete;

    // False when the rings could not be allocated; nothing else may be called then.
    bool valid() const noexcept { return m_in != nullptr && m_out != nullptr; }

    // The channel message an event holds, when it holds one whole (system, real-time and SysEx
    // events hold none).
    static std::optional<MidiMessage> channelMessageOf(std::span<const uint8_t> event) noexcept;
    // Process thread. Queues one incoming event if it is a whole channel message. True when it
    // was queued.
    bool queueIncoming(uint32_t frameTime, std::span<const uint8_t> event) noexcept;
    // Process thread. Queues one incoming message; false when the queue is full.
    bool queueIncoming(const TimedMidiMessage& message) noexcept { return push(m_in, message); }

    // Process thread. Hands `write(offsetFrames, bytes)` every outgoing message that is due in
    // the period starting at lastFrameTime: each keeps a constant delay of one period after its
    // stamp (offset = stamp + periodFrames - lastFrameTime), moved into the period if late and
    // never before the message ahead of it. Messages due in a later period stay queued. `write`
    // returns false when the port buffer is full; the message is then dropped. Returns the
    // number written.
    template <class Write>
    std::size_t writeOutgoing(uint32_t lastFrameTime, uint32_t periodFrames,
                              Write&& write) noexcept {
        std::size_t written = 0;
        uint32_t earliestOffset = 0;
        TimedMidiMessage next{};
        while (peek(m_out, next)) {
            const int64_t offset =
                static_cast<int64_t>(static_cast<int32_t>(next.frameTime - lastFrameTime)) +
                periodFrames;
            if (offset >= static_cast<int64_t>(periodFrames)) {
                break; // stamped after this period began: due in the next one
            }
            const uint32_t offsetFrames =
                offset < earliestOffset ? earliestOffset : static_cast<uint32_t>(offset);
            const std::array<uint8_t, 3> bytes{next.message.status, next.message.data1,
                                               next.message.data2};
            if (write(offsetFrames, std::span<const uint8_t>(
                                        bytes.data(), 1 + midiDataBytes(next.message.status)))) {
                ++written;
            }
            earliestOffset = offsetFrames;
            jack_ringbuffer_read_advance(m_out, sizeof(TimedMidiMessage));
        }
        return written;
    }

    // Main thread. The oldest incoming message; false when there is none.
    bool takeIncoming(TimedMidiMessage& message) noexcept;
    // Main thread. Queues one outgoing channel message stamped with the JACK frame time of its
    // moment. False when the queue is full (the message is dropped).
    bool queueOutgoing(const TimedMidiMessage& message) noexcept;

private:
    static bool peek(jack_ringbuffer_t* ring, TimedMidiMessage& message) noexcept;
    static bool push(jack_ringbuffer_t* ring, const TimedMidiMessage& message) noexcept;

    jack_ringbuffer_t* m_in = nullptr;  // process thread -> main thread
    jack_ringbuffer_t* m_out = nullptr; // main thread -> process thread
};

} // namespace doodle
