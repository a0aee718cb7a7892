#pragma once

#include "app/audio/AudioOutput.h"
#include "app/audio/LiveResampler.h"
#include "app/clock/LatestValue.h"
#include "app/clock/PlayClock.h"
#include "app/midi/MidiRings.h"
#include "program/MidiInput.h"
#include "voice/Synth.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <jack/types.h>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace doodle {

// The program as one JACK client, where a JACK server runs (JACK itself or PipeWire's): audio out
// on "out_L" and "out_R", connected to the first two physical playback ports, and MIDI on
// "midi_in" and "midi_out". Its process callback is the program's real-time thread: it renders
// the voice (converted to the server's rate where that is not the voice's 44100 Hz), counts the
// play clock's ticks on the voice's frames, applies each MIDI input message to the voice at its
// frame (MidiVoice), and places the program's MIDI output. The main thread gets every input
// message too, for ink, note label and recording, and hears through an eventfd of new input, of
// a connection to midi_out and of the server going away.
class JackHost final : public AudioOutput {
public:
    static constexpr const char* kClientName = "DoodleChorus";
    static constexpr const char* kOutLeftPortName = "out_L";
    static constexpr const char* kOutRightPortName = "out_R";
    static constexpr const char* kMidiInPortName = "midi_in";
    static constexpr const char* kMidiOutPortName = "midi_out";
    // Input messages one period applies to the voice at their frames: a keyboard makes a few; a
    // flood beyond this in one period is drawn and recorded all the same, and its rest is sung
    // at the period's end.
    static constexpr std::size_t kMaxPeriodMessages = 512;

    // `voice`: the main thread's requests, which the callback renders beside its own.
    JackHost(const VoiceParams& voice, PlayClock& clock);
    ~JackHost() override;
    JackHost(const JackHost&) = delete;
    JackHost& operator=(const JackHost&) = delete;

    // Joins a running server (never starts one): 0, or libjack's status bits; with no server,
    // the program goes on without JACK.
    int open() override;
    std::string errorText(int code) const override;
    // Activates the client, registers its ports and connects the audio ones: 0, or -1 when the
    // server refused.
    int start() override;
    // Leaves the server; no callback runs after this returns. Safe to call more than once.
    void terminate() override;

    bool isOpen() const noexcept { return m_client != nullptr; }
    // The line About shows while the client runs: its ports and the server's rate.
    std::string status() const;
    // Readable when takeReady() has something; -1 when closed.
    int wakeFd() const noexcept { return m_wakeFd; }

    // Main thread: clears the wake-up, then hands every incoming message with its moment's
    // time (CLOCK_MONOTONIC ms) and whether it ends its period to `message`.
    struct Ready {
        std::size_t messages = 0;
        bool outputConnected = false; // a port got connected to midi_out since the last call
        bool serverLost = false;      // the server has gone: terminate() and go on without it
    };
    using OnMessage = std::function<void(const MidiMessage&, std::optional<int32_t>, bool)>;
    Ready takeReady(const OnMessage& message);

    // Main thread: whole channel messages that go out at JACK frame `frame` (a play clock
    // tick's), or now, each one period later so that a whole period can be placed exactly.
    // Without a running client they are dropped.
    void sendAtFrame(std::span<const MidiMessage> messages, uint32_t frame);
    void sendNow(std::span<const MidiMessage> messages);

    // Main thread: how MIDI input sings from now on; the callback takes it before its next
    // period.
    void singMidiInputWith(const MidiInputControls& controls) noexcept {
        m_midiControls.set(controls);
    }

private:
    struct PeriodMessage {
        uint32_t voiceFrame = 0; // the voice frame of this period it applies before
        MidiMessage message{};
        std::optional<int32_t> timeMs{};
        bool endsMoment = false; // the last of its millisecond in this period
    };

    // libjack's callbacks. Not noexcept: libjack may cancel their thread (see uncancellable in
    // the source), and the unwind must pass their frames.
    static int processCallback(jack_nframes_t frames, void* self);
    static void connectCallback(jack_port_id_t portA, jack_port_id_t portB, int connect,
                                void* self);
    static void shutdownCallback(jack_status_t code, const char* reason, void* self);
    static void latencyCallback(jack_latency_callback_mode_t mode, void* self);
    void onConnect(jack_port_id_t portA, jack_port_id_t portB, int connect) noexcept;
    // The resampler's source: the voice's next frames.
    static void pullVoice(void* self, float* out, std::size_t frames) noexcept;

    // Registers the four ports on a client that runs; false when one was refused.
    bool registerPorts();
    int process(jack_nframes_t frames) noexcept;
    // Takes the period's input: queued for the main thread, kept for the voice at its frame.
    void takeInput(void* inBuffer, jack_nframes_t periodStart, jack_nframes_t frames) noexcept;
    // Renders the voice's next frames, applying the period's messages at theirs.
    void renderVoice(float* out, std::size_t frames) noexcept;
    void applyMessage(const PeriodMessage& message) noexcept;
    // The messages of the period beyond kMaxPeriodMessages, in order.
    void applyOverflow(void* inBuffer, jack_nframes_t periodStart) noexcept;
    void wake() noexcept;
    // A JACK frame time on the monotonicMs() clock.
    std::optional<int32_t> toMonotonicMs(uint32_t frameTime) const noexcept;
    // When a frame time is heard (CLOCK_MONOTONIC ns): the time it begins plus the playback
    // latency of the audio ports.
    int64_t heardAtNs(uint32_t frameTime) const noexcept;

    const VoiceParams& m_voiceParams;
    PlayClock& m_clock;
    MidiRings m_rings{};
    LatestValue<MidiInputControls> m_midiControls{};
    jack_client_t* m_client = nullptr;
    jack_port_t* m_outLeft = nullptr;
    jack_port_t* m_outRight = nullptr;
    jack_port_t* m_midiIn = nullptr;
    jack_port_t* m_midiOut = nullptr;
    int m_wakeFd = -1;
    double m_serverRate = VoiceParams::sampleRate; // Hz, as the server runs
    std::unique_ptr<LiveResampler> m_resampler{};  // only where the server is not at 44100 Hz
    std::atomic<bool> m_portsReady{false};         // the ports exist: the callbacks may use them
    std::atomic<bool> m_outputConnected{false};
    std::atomic<bool> m_serverLost{false};
    std::atomic<uint32_t> m_playbackLatencyFrames{0}; // the audio ports', at the server's rate

    // The callback's own.
    MidiVoice m_midiVoice{};
    VoiceRenderer m_renderer{m_voiceParams, VoiceOutput::Live, &m_midiVoice.voice()};
    std::array<PeriodMessage, kMaxPeriodMessages> m_periodMessages{};
    std::size_t m_periodMessageCount = 0;
    std::size_t m_nextPeriodMessage = 0;
    uint32_t m_firstOverflowEvent = UINT32_MAX; // the first event of the period not kept
    uint32_t m_voiceFramesPulled = 0;           // voice frames rendered so far in this period
    int64_t m_periodHeardNs = 0;                // when this period's first voice frame is heard
    uint32_t m_periodHostFrame = 0;             // the JACK frame it leaves the ports at
};

} // namespace doodle
