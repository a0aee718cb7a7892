#pragma once

#include "app/midi/MidiRings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <jack/types.h>
#include <optional>
#include <span>
#include <string>

namespace doodle {

// The desktop program's MIDI ports: a JACK client "DoodleChorus" with the MIDI ports "midi_in"
// and "midi_out". It only ever joins a running server. JACK's process thread moves the ports'
// events through MidiRings; the main thread hears of new input and of connections to midi_out
// through an eventfd it watches, and drains them with takeReady().
class JackMidiPorts {
public:
    static constexpr const char* kClientName = "DoodleChorus";
    static constexpr const char* kInPortName = "midi_in";
    static constexpr const char* kOutPortName = "midi_out";

    JackMidiPorts() = default;
    ~JackMidiPorts();
    JackMidiPorts(const JackMidiPorts&) = delete;
    JackMidiPorts& operator=(const JackMidiPorts&) = delete;

    // Joins a running JACK server and activates the ports. False, with nothing left open, when
    // no server runs or anything fails: the program then goes on without MIDI.
    bool open();
    // Deactivates and leaves the server; safe to call more than once.
    void close();
    bool isOpen() const { return m_client != nullptr; }

    // The line About shows: the ports' full names, or that there is no server.
    std::string status() const;
    // The descriptor that becomes readable when takeReady() has something; -1 when closed.
    int wakeFd() const { return m_wakeFd; }

    // Main thread: clears the wake-up, then hands every incoming message with its time on the
    // monotonicMs() clock to `message`, and tells whether a port got connected to midi_out
    // since the last call.
    struct Ready {
        std::size_t messages = 0;
        bool outputConnected = false;
    };
    Ready takeReady(const std::function<void(const MidiMessage&, std::optional<int32_t>)>& message);

    // Main thread: whole channel messages that go out at dueNs (CLOCK_MONOTONIC ns; now when
    // empty), one period later on JACK's clock so that a whole period can be placed exactly
    // (two for a due time, which may come late).
    // Without an open client they are dropped.
    void send(std::span<const MidiMessage> messages, std::optional<int64_t> dueNs = std::nullopt);

private:
    static int processCallback(jack_nframes_t frames, void* self) noexcept;
    static void connectCallback(jack_port_id_t portA, jack_port_id_t portB, int connect,
                                void* self) noexcept;
    int process(jack_nframes_t frames) noexcept;
    void wake() noexcept;
    // A message's JACK frame time on the monotonicMs() clock.
    std::optional<int32_t> toMonotonicMs(uint32_t frameTime) const noexcept;

    MidiRings m_rings;
    jack_client_t* m_client = nullptr;
    jack_port_t* m_inPort = nullptr;
    jack_port_t* m_outPort = nullptr;
    int m_wakeFd = -1;
    std::atomic<bool> m_outputConnected{false};
};

} // namespace doodle
