#include "app/midi/JackMidiPorts.h"

#include "recording/Recorder.h"

#include <cerrno>
#include <cmath>
#include <ctime>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace doodle {
namespace {

constexpr double kUsPerMs = 1000.0;
constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr int64_t kNsPerUs = 1000;

// libjack reports on stderr that no server runs, and more; the program prints nothing.
void silentJackMessage(const char* /*message*/) {}

} // namespace

JackMidiPorts::~JackMidiPorts() {
    close();
}

bool JackMidiPorts::open() {
    if (m_client != nullptr || !m_rings.valid()) {
        return m_client != nullptr;
    }
    jack_set_error_function(&silentJackMessage);
    jack_set_info_function(&silentJackMessage);
    jack_status_t status{};
    m_client = jack_client_open(kClientName, JackNoStartServer, &status);
    if (m_client == nullptr) {
        return false; // no server runs: the program goes on without MIDI
    }
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_inPort =
        jack_port_register(m_client, kInPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    m_outPort =
        jack_port_register(m_client, kOutPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (m_wakeFd < 0 || m_inPort == nullptr || m_outPort == nullptr ||
        jack_set_process_callback(m_client, &JackMidiPorts::processCallback, this) != 0 ||
        jack_set_port_connect_callback(m_client, &JackMidiPorts::connectCallback, this) != 0 ||
        jack_activate(m_client) != 0) {
        close();
        return false;
    }
    return true;
}

void JackMidiPorts::close() {
    if (m_client != nullptr) {
        // Leaving the server also deactivates; a failure leaves nothing the process exit keeps.
        static_cast<void>(jack_client_close(m_client));
        m_client = nullptr;
        m_inPort = nullptr;
        m_outPort = nullptr;
    }
    if (m_wakeFd >= 0) {
        static_cast<void>(::close(m_wakeFd)); // an eventfd has nothing to flush
        m_wakeFd = -1;
    }
}

std::string JackMidiPorts::status() const {
    if (m_client == nullptr) {
        return "MIDI: no JACK server";
    }
    return std::string("MIDI: JACK ports ") + jack_port_name(m_inPort) + " and " +
           jack_port_name(m_outPort);
}

JackMidiPorts::Ready JackMidiPorts::takeReady(
    const std::function<void(const MidiMessage&, std::optional<int32_t>)>& message) {
    Ready ready;
    if (m_client == nullptr) {
        return ready;
    }
    uint64_t wakeCount = 0;
    // Non-blocking: EAGAIN only says that no wake-up is pending, and the rings are read anyway.
    const ssize_t readBytes = ::read(m_wakeFd, &wakeCount, sizeof(wakeCount));
    static_cast<void>(readBytes);
    ready.outputConnected = m_outputConnected.exchange(false);
    TimedMidiMessage timed;
    while (m_rings.takeIncoming(timed)) {
        message(timed.message, toMonotonicMs(timed.frameTime));
        ++ready.messages;
    }
    return ready;
}

void JackMidiPorts::send(std::span<const MidiMessage> messages, std::optional<int64_t> dueNs) {
    if (m_client == nullptr) {
        return;
    }
    jack_nframes_t stamp = jack_frame_time(m_client);
    timespec now{};
    if (dueNs && clock_gettime(CLOCK_MONOTONIC, &now) == 0) {
        // JACK's clock and the monotonic clock are related through "now" on both.
        const int64_t nowNs = int64_t{now.tv_sec} * kNsPerSecond + now.tv_nsec;
        const int64_t ageUs = (nowNs - *dueNs) / kNsPerUs;
        // One period more than messages of now: the main thread may handle a tick a period or
        // so late (a repaint, the X server), and a message placed late would lose its time.
        // Played lines have no one waiting on them, so the margin costs nothing audible.
        stamp = jack_time_to_frames(m_client, static_cast<jack_time_t>(
                                                  static_cast<int64_t>(jack_get_time()) - ageUs)) +
                jack_get_buffer_size(m_client);
    }
    for (const MidiMessage& message : messages) {
        // A full queue means the process thread has stopped taking messages: nothing to do.
        static_cast<void>(m_rings.queueOutgoing({stamp, message}));
    }
}

int JackMidiPorts::processCallback(jack_nframes_t frames, void* self) noexcept {
    return static_cast<JackMidiPorts*>(self)->process(frames);
}

void JackMidiPorts::connectCallback(jack_port_id_t portA, jack_port_id_t portB, int connect,
                                    void* self) noexcept {
    // JACK's notification thread, not the process thread: the opening messages are the main
    // thread's to send.
    auto* ports = static_cast<JackMidiPorts*>(self);
    if (connect == 0) {
        return;
    }
    if (jack_port_by_id(ports->m_client, portA) == ports->m_outPort ||
        jack_port_by_id(ports->m_client, portB) == ports->m_outPort) {
        ports->m_outputConnected.store(true);
        ports->wake();
    }
}

int JackMidiPorts::process(jack_nframes_t frames) noexcept {
    void* inBuffer = jack_port_get_buffer(m_inPort, frames);
    void* outBuffer = jack_port_get_buffer(m_outPort, frames);
    if (inBuffer == nullptr || outBuffer == nullptr) {
        return 0; // no buffers this period: nothing moves, the client stays
    }
    const jack_nframes_t periodStart = jack_last_frame_time(m_client);
    const uint32_t eventCount = jack_midi_get_event_count(inBuffer);
    bool queued = false;
    for (uint32_t index = 0; index < eventCount; ++index) {
        jack_midi_event_t event{};
        if (jack_midi_event_get(&event, inBuffer, index) == 0 && event.buffer != nullptr) {
            queued = m_rings.queueIncoming(periodStart + event.time,
                                           std::span<const uint8_t>(event.buffer, event.size)) ||
                     queued;
        }
    }
    jack_midi_clear_buffer(outBuffer);
    // A full port buffer drops the message: jack_midi_event_write says so and nothing else
    // can be done with it in this period.
    static_cast<void>(m_rings.writeOutgoing(
        periodStart, frames, [outBuffer](uint32_t offsetFrames, std::span<const uint8_t> bytes) {
            return jack_midi_event_write(outBuffer, offsetFrames, bytes.data(), bytes.size()) == 0;
        }));
    if (queued) {
        wake();
    }
    return 0;
}

void JackMidiPorts::wake() noexcept {
    const uint64_t one = 1;
    // Non-blocking: EAGAIN means the counter is full, so a wake-up is pending anyway.
    const ssize_t written = ::write(m_wakeFd, &one, sizeof(one));
    static_cast<void>(written);
}

std::optional<int32_t> JackMidiPorts::toMonotonicMs(uint32_t frameTime) const noexcept {
    const std::optional<int32_t> nowMs = monotonicMs();
    if (!nowMs) {
        return std::nullopt;
    }
    // JACK's clock and the monotonic clock are related through "now" on both.
    const jack_time_t jackNowUs = jack_get_time();
    const jack_time_t eventUs = jack_frames_to_time(m_client, frameTime);
    const auto ageUs = static_cast<double>(static_cast<int64_t>(jackNowUs - eventUs));
    return static_cast<int32_t>(static_cast<uint32_t>(*nowMs) -
                                static_cast<uint32_t>(std::lround(ageUs / kUsPerMs)));
}

} // namespace doodle
