#include "app/audio/JackHost.h"

#include "recording/Recorder.h"

#include <algorithm>
#include <cmath>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace doodle {
namespace {

constexpr double kUsPerMs = 1000.0;
constexpr int64_t kNsPerUs = 1000;

// libjack ends a client's threads with pthread_cancel, asynchronous, when the client closes
// (at once after its server has gone): the thread may be anywhere in a callback then. A cancel
// acted on inside the program's noexcept code would unwind through it and end the program, so
// the callbacks run with cancellation held back, and let a pending one act only as they return
// into libjack, from the trampoline, whose frame lets the unwind pass.
template <class Call>
auto uncancellable(Call&& call) {
    int cancelState = PTHREAD_CANCEL_ENABLE;
    static_cast<void>(pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState));
    auto result = call();
    static_cast<void>(pthread_setcancelstate(cancelState, nullptr));
    return result;
}

// libjack reports on stderr that no server runs, and more; the program prints nothing.
void silentJackMessage(const char* /*message*/) {}

} // namespace

JackHost::JackHost(const VoiceParams& voice, PlayClock& clock)
    : m_voiceParams(voice), m_clock(clock) {}

JackHost::~JackHost() {
    terminate();
}

int JackHost::open() {
    if (m_client != nullptr) {
        return 0;
    }
    if (!m_rings.valid()) {
        return JackFailure;
    }
    jack_set_error_function(&silentJackMessage);
    jack_set_info_function(&silentJackMessage);
    jack_status_t status{};
    m_client = jack_client_open(kClientName, JackNoStartServer, &status);
    if (m_client == nullptr) {
        return status != 0 ? static_cast<int>(status) : static_cast<int>(JackFailure);
    }
    m_serverLost.store(false);
    m_serverRate = static_cast<double>(jack_get_sample_rate(m_client));
    if (m_serverRate != VoiceParams::sampleRate) {
        m_resampler = std::make_unique<LiveResampler>(VoiceParams::sampleRate, m_serverRate,
                                                      &JackHost::pullVoice, this);
        if (!m_resampler->error().empty()) {
            terminate();
            return JackFailure;
        }
    }
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0 ||
        jack_set_process_callback(m_client, &JackHost::processCallback, this) != 0 ||
        jack_set_port_connect_callback(m_client, &JackHost::connectCallback, this) != 0 ||
        jack_set_latency_callback(m_client, &JackHost::latencyCallback, this) != 0) {
        terminate();
        return JackFailure;
    }
    jack_on_info_shutdown(m_client, &JackHost::shutdownCallback, this);
    return 0;
}

bool JackHost::registerPorts() {
    m_outLeft = jack_port_register(m_client, kOutLeftPortName, JACK_DEFAULT_AUDIO_TYPE,
                                   JackPortIsOutput, 0);
    m_outRight = jack_port_register(m_client, kOutRightPortName, JACK_DEFAULT_AUDIO_TYPE,
                                    JackPortIsOutput, 0);
    m_midiIn =
        jack_port_register(m_client, kMidiInPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    m_midiOut =
        jack_port_register(m_client, kMidiOutPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    return m_outLeft != nullptr && m_outRight != nullptr && m_midiIn != nullptr &&
           m_midiOut != nullptr;
}

std::string JackHost::errorText(int code) const {
    if ((code & JackServerFailed) != 0) {
        return "No JACK server runs.";
    }
    return "The JACK server refused the program (status " + std::to_string(code) + ").";
}

int JackHost::start() {
    if (m_client == nullptr) {
        return -1;
    }
    // Set before the callback can run; it reads nothing else of the main thread's.
    m_clock.setStreamDriven(true);
    if (jack_activate(m_client) != 0) {
        m_clock.setStreamDriven(false);
        return -1;
    }
    // The ports come once the client runs, so that whoever sees them can connect them at once
    // (a patchbay that connects new ports, a test).
    if (!registerPorts()) {
        return -1;
    }
    m_portsReady.store(true, std::memory_order_release);
    // Left and right to the first two speakers; a single speaker takes both. A refused
    // connection leaves the port for the person to connect.
    const char** playback = jack_get_ports(m_client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                           JackPortIsPhysical | JackPortIsInput);
    if (playback != nullptr) {
        if (playback[0] != nullptr) {
            const char* right = playback[1] != nullptr ? playback[1] : playback[0];
            static_cast<void>(jack_connect(m_client, jack_port_name(m_outLeft), playback[0]));
            static_cast<void>(jack_connect(m_client, jack_port_name(m_outRight), right));
        }
        jack_free(static_cast<void*>(playback));
    }
    return 0;
}

void JackHost::terminate() {
    if (m_client != nullptr) {
        // Leaving the server also deactivates; after the server has gone it only frees.
        static_cast<void>(jack_client_close(m_client));
        m_client = nullptr;
        m_outLeft = nullptr;
        m_outRight = nullptr;
        m_midiIn = nullptr;
        m_midiOut = nullptr;
        m_portsReady.store(false);
        m_clock.setStreamDriven(false);
    }
    m_resampler.reset();
    if (m_wakeFd >= 0) {
        static_cast<void>(::close(m_wakeFd)); // an eventfd has nothing to flush
        m_wakeFd = -1;
    }
}

std::string JackHost::status() const {
    if (m_client == nullptr) {
        return {};
    }
    std::string line = std::string("Sound and MIDI: JACK ports ") + jack_port_name(m_outLeft) +
                       ", " + jack_port_name(m_outRight) + ", " + jack_port_name(m_midiIn) +
                       " and " + jack_port_name(m_midiOut) + ", at " +
                       std::to_string(std::lround(m_serverRate)) + " Hz";
    if (m_resampler) {
        line += " (the voice's 44100 Hz converted)";
    }
    return line;
}

JackHost::Ready JackHost::takeReady(const OnMessage& message) {
    Ready ready;
    if (m_client == nullptr) {
        return ready;
    }
    uint64_t wakeCount = 0;
    // Non-blocking: EAGAIN only says that no wake-up is pending, and the rings are read anyway.
    const ssize_t readBytes = ::read(m_wakeFd, &wakeCount, sizeof(wakeCount));
    static_cast<void>(readBytes);
    ready.outputConnected = m_outputConnected.exchange(false);
    ready.serverLost = m_serverLost.load();
    TimedMidiMessage timed;
    while (m_rings.takeIncoming(timed)) {
        message(timed.message, timed.timeMs, timed.endsPeriod);
        ++ready.messages;
    }
    return ready;
}

void JackHost::sendAtFrame(std::span<const MidiMessage> messages, uint32_t frame) {
    if (m_client == nullptr || m_serverLost.load()) {
        return;
    }
    // A tick's messages leave when its frame is heard, so that a synthesizer listening starts
    // its note as the voice's reaches the speakers; the process thread adds a period. The main
    // thread may handle a tick that much late (a repaint, the X server) without the message
    // losing its place.
    const uint32_t stamp = frame + m_playbackLatencyFrames.load(std::memory_order_relaxed);
    for (const MidiMessage& midi : messages) {
        // A full queue means the process thread has stopped taking messages: nothing to do.
        static_cast<void>(m_rings.queueOutgoing({stamp, midi}));
    }
}

void JackHost::sendNow(std::span<const MidiMessage> messages) {
    if (m_client == nullptr || m_serverLost.load()) {
        return;
    }
    const jack_nframes_t now = jack_frame_time(m_client);
    for (const MidiMessage& midi : messages) {
        static_cast<void>(m_rings.queueOutgoing({now, midi}));
    }
}

int JackHost::processCallback(jack_nframes_t frames, void* self) {
    return uncancellable([&] { return static_cast<JackHost*>(self)->process(frames); });
}

void JackHost::connectCallback(jack_port_id_t portA, jack_port_id_t portB, int connect,
                               void* self) {
    static_cast<void>(uncancellable([&] {
        static_cast<JackHost*>(self)->onConnect(portA, portB, connect);
        return 0;
    }));
}

void JackHost::onConnect(jack_port_id_t portA, jack_port_id_t portB, int connect) noexcept {
    // JACK's notification thread, not the process thread: the opening messages are the main
    // thread's to send.
    if (connect == 0 || !m_portsReady.load(std::memory_order_acquire)) {
        return;
    }
    if (jack_port_by_id(m_client, portA) == m_midiOut ||
        jack_port_by_id(m_client, portB) == m_midiOut) {
        m_outputConnected.store(true);
        wake();
    }
}

void JackHost::shutdownCallback(jack_status_t /*code*/, const char* /*reason*/, void* self) {
    // Any thread of libjack's, the client already dead: the main thread closes it.
    static_cast<void>(uncancellable([&] {
        auto* host = static_cast<JackHost*>(self);
        host->m_serverLost.store(true);
        host->wake();
        return 0;
    }));
}

void JackHost::latencyCallback(jack_latency_callback_mode_t mode, void* self) {
    static_cast<void>(uncancellable([&] {
        auto* host = static_cast<JackHost*>(self);
        if (mode == JackPlaybackLatency && host->m_portsReady.load(std::memory_order_acquire)) {
            jack_latency_range_t range{};
            jack_port_get_latency_range(host->m_outLeft, JackPlaybackLatency, &range);
            host->m_playbackLatencyFrames.store(range.max);
        }
        return 0;
    }));
}

int JackHost::process(jack_nframes_t frames) noexcept {
    if (!m_portsReady.load(std::memory_order_acquire)) {
        return 0; // the main thread is registering them
    }
    MidiInputControls controls;
    if (m_midiControls.take(controls)) {
        m_midiVoice.setControls(controls);
    }
    auto* left = static_cast<float*>(jack_port_get_buffer(m_outLeft, frames));
    auto* right = static_cast<float*>(jack_port_get_buffer(m_outRight, frames));
    void* inBuffer = jack_port_get_buffer(m_midiIn, frames);
    void* outBuffer = jack_port_get_buffer(m_midiOut, frames);
    if (left == nullptr || right == nullptr || inBuffer == nullptr || outBuffer == nullptr) {
        return 0; // no buffers this period: nothing moves, the client stays
    }
    const jack_nframes_t periodStart = jack_last_frame_time(m_client);
    takeInput(inBuffer, periodStart, frames);

    m_periodHeardNs = heardAtNs(periodStart);
    m_periodHostFrame = periodStart;
    m_voiceFramesPulled = 0;
    if (m_resampler) {
        // The converter's output lags the voice frames it pulls by its delay.
        const double delayFrames = m_resampler->delayFrames();
        m_periodHostFrame += static_cast<uint32_t>(std::lround(delayFrames));
        m_periodHeardNs += framesToNs(static_cast<int64_t>(
            std::lround(delayFrames * VoiceParams::sampleRate / m_serverRate)));
        m_resampler->process(left, frames);
    } else {
        renderVoice(left, frames);
    }
    // Messages the converter did not reach in this period's frames, and a flood beyond those
    // kept for their frames, are applied before the next period's.
    while (m_nextPeriodMessage < m_periodMessageCount) {
        applyMessage(m_periodMessages[m_nextPeriodMessage++]);
    }
    applyOverflow(inBuffer, periodStart);
    std::copy(left, left + frames, right); // one voice, in the middle

    jack_midi_clear_buffer(outBuffer);
    // A full port buffer drops the message: jack_midi_event_write says so and nothing else
    // can be done with it in this period.
    static_cast<void>(m_rings.writeOutgoing(
        periodStart, frames, [outBuffer](uint32_t offsetFrames, std::span<const uint8_t> bytes) {
            return jack_midi_event_write(outBuffer, offsetFrames, bytes.data(), bytes.size()) == 0;
        }));
    return 0;
}

void JackHost::takeInput(void* inBuffer, jack_nframes_t periodStart,
                         jack_nframes_t frames) noexcept {
    m_periodMessageCount = 0;
    m_nextPeriodMessage = 0;
    m_firstOverflowEvent = UINT32_MAX;
    const double voiceFramesPerFrame = VoiceParams::sampleRate / m_serverRate;
    const uint32_t eventCount = jack_midi_get_event_count(inBuffer);
    TimedMidiMessage last{};
    bool held = false;    // `last` waits to learn whether it ends the period
    int32_t momentMs = 0; // the latest message's moment, as MidiPerformance counts it
    for (uint32_t index = 0; index < eventCount; ++index) {
        jack_midi_event_t event{};
        if (jack_midi_event_get(&event, inBuffer, index) != 0 || event.buffer == nullptr ||
            event.time >= frames) {
            continue;
        }
        const std::optional<MidiMessage> message =
            MidiRings::channelMessageOf(std::span<const uint8_t>(event.buffer, event.size));
        if (!message) {
            continue;
        }
        const TimedMidiMessage timed{periodStart + event.time, *message,
                                     toMonotonicMs(periodStart + event.time)};
        if (held) {
            // Full: the main thread has stopped taking messages; the voice still sings them.
            static_cast<void>(m_rings.queueIncoming(last));
        }
        last = timed;
        held = true;
        // A moment ends where a later millisecond begins (a time not read, or an earlier one,
        // belongs to the moment before), and at the period's end, where the main thread ends it
        // too: the voice sings each moment at the frame of its last message.
        const bool laterMoment = timed.timeMs && *timed.timeMs > momentMs;
        if (m_periodMessageCount > 0) {
            m_periodMessages[m_periodMessageCount - 1].endsMoment = laterMoment;
        }
        if (laterMoment || m_periodMessageCount == 0) {
            momentMs = timed.timeMs.value_or(momentMs);
        }
        if (m_periodMessageCount == kMaxPeriodMessages) {
            m_firstOverflowEvent = std::min(m_firstOverflowEvent, index);
        } else {
            m_periodMessages[m_periodMessageCount++] = {
                static_cast<uint32_t>(static_cast<double>(event.time) * voiceFramesPerFrame),
                timed.message, timed.timeMs, true};
        }
    }
    if (held) {
        last.endsPeriod = true;
        static_cast<void>(m_rings.queueIncoming(last));
        wake();
    }
}

void JackHost::applyOverflow(void* inBuffer, jack_nframes_t periodStart) noexcept {
    const uint32_t eventCount = jack_midi_get_event_count(inBuffer);
    if (m_firstOverflowEvent >= eventCount) {
        return;
    }
    for (uint32_t index = m_firstOverflowEvent; index < eventCount; ++index) {
        jack_midi_event_t event{};
        if (jack_midi_event_get(&event, inBuffer, index) != 0 || event.buffer == nullptr) {
            continue;
        }
        if (const std::optional<MidiMessage> message =
                MidiRings::channelMessageOf(std::span<const uint8_t>(event.buffer, event.size))) {
            m_midiVoice.feed(*message, toMonotonicMs(periodStart + event.time));
        }
    }
    m_midiVoice.flush();
}

void JackHost::pullVoice(void* self, float* out, std::size_t frames) noexcept {
    static_cast<JackHost*>(self)->renderVoice(out, frames);
}

void JackHost::renderVoice(float* out, std::size_t frames) noexcept {
    std::size_t done = 0;
    while (done < frames) {
        while (m_nextPeriodMessage < m_periodMessageCount &&
               m_periodMessages[m_nextPeriodMessage].voiceFrame <= m_voiceFramesPulled) {
            applyMessage(m_periodMessages[m_nextPeriodMessage++]);
        }
        std::size_t part = frames - done;
        if (m_nextPeriodMessage < m_periodMessageCount) {
            part = std::min<std::size_t>(part, m_periodMessages[m_nextPeriodMessage].voiceFrame -
                                                   m_voiceFramesPulled);
        }
        const double hostFramesPerVoiceFrame = m_serverRate / VoiceParams::sampleRate;
        const PlayClock::HostFrames host{
            m_periodHostFrame + static_cast<uint32_t>(static_cast<double>(m_voiceFramesPulled) *
                                                      hostFramesPerVoiceFrame),
            hostFramesPerVoiceFrame};
        m_clock.count(
            part, m_periodHeardNs + framesToNs(m_voiceFramesPulled),
            [this, out, done](std::size_t offsetFrames, std::size_t count) {
                m_renderer.process(out + done + offsetFrames, count);
            },
            host);
        done += part;
        m_voiceFramesPulled += static_cast<uint32_t>(part);
    }
}

void JackHost::applyMessage(const PeriodMessage& message) noexcept {
    m_midiVoice.feed(message.message, message.timeMs);
    if (message.endsMoment) {
        m_midiVoice.flush();
    }
}

void JackHost::wake() noexcept {
    const uint64_t one = 1;
    // Non-blocking: EAGAIN means the counter is full, so a wake-up is pending anyway.
    const ssize_t written = ::write(m_wakeFd, &one, sizeof(one));
    static_cast<void>(written);
}

std::optional<int32_t> JackHost::toMonotonicMs(uint32_t frameTime) const noexcept {
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

int64_t JackHost::heardAtNs(uint32_t frameTime) const noexcept {
    const jack_time_t jackNowUs = jack_get_time();
    const jack_time_t frameUs = jack_frames_to_time(
        m_client, frameTime + m_playbackLatencyFrames.load(std::memory_order_relaxed));
    return monotonicNs() + static_cast<int64_t>(frameUs - jackNowUs) * kNsPerUs;
}

} // namespace doodle
