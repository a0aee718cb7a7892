#include "app/midi/MidiRings.h"

#include <cstring>

namespace doodle {
namespace {

// A jack_ringbuffer holds one byte less than its size; the size is rounded up to a power of two.
constexpr std::size_t kRingBytes = MidiRings::kRingMessages * sizeof(TimedMidiMessage) + 1;

jack_ringbuffer_t* makeRing() noexcept {
    jack_ringbuffer_t* ring = jack_ringbuffer_create(kRingBytes);
    // Locked into memory so that the process thread never takes a page fault on it; a ring
    // that cannot be locked still works.
    if (ring != nullptr) {
        static_cast<void>(jack_ringbuffer_mlock(ring));
    }
    return ring;
}

} // namespace

MidiRings::MidiRings() noexcept : m_in(makeRing()), m_out(makeRing()) {}

MidiRings::~MidiRings() {
    if (m_in != nullptr) {
        jack_ringbuffer_free(m_in);
    }
    if (m_out != nullptr) {
        jack_ringbuffer_free(m_out);
    }
}

std::optional<MidiMessage> MidiRings::channelMessageOf(std::span<const uint8_t> event) noexcept {
    if (event.empty() || (event[0] & kMidiStatusFlag) == 0 ||
        (event[0] & kMidiKindMask) == kMidiSystem) {
        return std::nullopt; // running status never reaches a JACK port; system messages are
                             // skipped
    }
    const std::size_t dataBytes = midiDataBytes(event[0]);
    if (event.size() != 1 + dataBytes) {
        return std::nullopt;
    }
    return MidiMessage{event[0], event[1], dataBytes == 2 ? event[2] : uint8_t{0}};
}

bool MidiRings::queueIncoming(uint32_t frameTime, std::span<const uint8_t> event) noexcept {
    const std::optional<MidiMessage> message = channelMessageOf(event);
    return message && push(m_in, {frameTime, *message});
}

bool MidiRings::takeIncoming(TimedMidiMessage& message) noexcept {
    if (!peek(m_in, message)) {
        return false;
    }
    jack_ringbuffer_read_advance(m_in, sizeof(TimedMidiMessage));
    return true;
}

bool MidiRings::queueOutgoing(const TimedMidiMessage& message) noexcept {
    return push(m_out, message);
}

bool MidiRings::peek(jack_ringbuffer_t* ring, TimedMidiMessage& message) noexcept {
    if (jack_ringbuffer_read_space(ring) < sizeof(TimedMidiMessage)) {
        return false;
    }
    std::array<char, sizeof(TimedMidiMessage)> bytes{};
    if (jack_ringbuffer_peek(ring, bytes.data(), bytes.size()) != bytes.size()) {
        return false;
    }
    std::memcpy(&message, bytes.data(), bytes.size());
    return true;
}

bool MidiRings::push(jack_ringbuffer_t* ring, const TimedMidiMessage& message) noexcept {
    if (jack_ringbuffer_write_space(ring) < sizeof(TimedMidiMessage)) {
        return false;
    }
    std::array<char, sizeof(TimedMidiMessage)> bytes{};
    std::memcpy(bytes.data(), &message, bytes.size());
    return jack_ringbuffer_write(ring, bytes.data(), bytes.size()) == bytes.size();
}

} // namespace doodle
