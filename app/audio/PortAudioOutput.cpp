#include "app/audio/PortAudioOutput.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <jack/jack.h>

namespace doodle {
namespace {

// PortAudio's ALSA and JACK back-ends report every device they probe on stderr while
// initialising; the program prints nothing, so their reporters are silenced.
void silentAlsaError(const char* /*file*/, int /*line*/, const char* /*function*/, int /*err*/,
                     const char* /*fmt*/, ...) {}
void silentJackMessage(const char* /*message*/) {}

// The most a buffer's time to the device is believed (s): a larger one is a host's bad report.
constexpr double kMaxDacDelaySeconds = 1.0;

// How long after the callback the first frame of its buffer reaches the device, as the host
// reports it (0 where it reports nothing useful), in ns.
int64_t dacDelayNs(const PaStreamCallbackTimeInfo* timeInfo) noexcept {
    if (timeInfo == nullptr) {
        return 0;
    }
    const double delaySeconds = timeInfo->outputBufferDacTime - timeInfo->currentTime;
    if (!(delaySeconds > 0.0) || delaySeconds > kMaxDacDelaySeconds) {
        return 0;
    }
    return static_cast<int64_t>(delaySeconds * static_cast<double>(kNsPerSecond));
}

void silenceBackEnds() {
    snd_lib_error_set_handler(&silentAlsaError);
    jack_set_error_function(&silentJackMessage);
    jack_set_info_function(&silentJackMessage);
}

} // namespace

int PortAudioOutput::open() {
    silenceBackEnds();
    PaError err = Pa_Initialize();
    if (err != paNoError) {
        return err;
    }
    m_initialised = true;

    m_outputParams.device = Pa_GetDefaultOutputDevice(); // not validated: open reports it
    m_outputParams.channelCount = 1;
    m_outputParams.sampleFormat = paFloat32;
    m_outputParams.suggestedLatency = kSuggestedLatencySeconds;
    m_outputParams.hostApiSpecificStreamInfo = nullptr;

    err = Pa_OpenStream(&m_stream, nullptr, &m_outputParams, chooseRate(),
                        paFramesPerBufferUnspecified, paNoFlag, &PortAudioOutput::paCallback, this);
    if (err == paNoError) {
        const PaStreamInfo* info = Pa_GetStreamInfo(m_stream);
        if (info != nullptr && info->outputLatency > 0.0 &&
            info->outputLatency <= kMaxDacDelaySeconds) {
            m_outputLatencyNs =
                static_cast<int64_t>(info->outputLatency * static_cast<double>(kNsPerSecond));
        }
    }
    return err;
}

double PortAudioOutput::chooseRate() {
    const double voiceRate = VoiceParams::sampleRate;
    if (Pa_IsFormatSupported(nullptr, &m_outputParams, voiceRate) == paFormatIsSupported) {
        return voiceRate;
    }
    // No device at all: the stream's own open reports it, at the voice's rate.
    const PaDeviceInfo* device = Pa_GetDeviceInfo(m_outputParams.device);
    if (device == nullptr || !(device->defaultSampleRate > 0.0) ||
        device->defaultSampleRate == voiceRate) {
        return voiceRate;
    }
    auto resampler = std::make_unique<LiveResampler>(voiceRate, device->defaultSampleRate,
                                                     &PortAudioOutput::renderVoice, this);
    if (!resampler->error().empty()) {
        return voiceRate; // the open then fails with the device's own reason
    }
    m_resamplerDelayNs = static_cast<int64_t>(resampler->delayFrames() / device->defaultSampleRate *
                                              static_cast<double>(kNsPerSecond));
    m_resampler = std::move(resampler);
    return device->defaultSampleRate;
}

std::string PortAudioOutput::errorText(int code) const {
    return Pa_GetErrorText(code);
}

int PortAudioOutput::start() {
    if (m_stream == nullptr) {
        return paBadStreamPtr;
    }
    // Set before the callback can run; it reads nothing else of the main thread's.
    m_clock.setStreamDriven(true);
    const PaError err = Pa_StartStream(m_stream);
    if (err != paNoError) {
        m_clock.setStreamDriven(false);
    }
    return err;
}

void PortAudioOutput::terminate() {
    if (!m_initialised) {
        return;
    }
    m_initialised = false;
    m_stream = nullptr;
    // Stops and closes the running stream; no callback runs after this returns. A failure
    // here can only leave resources that the process exit releases anyway.
    static_cast<void>(Pa_Terminate());
    m_clock.setStreamDriven(false);
}

int PortAudioOutput::paCallback(const void* /*input*/, void* output, unsigned long frameCount,
                                const PaStreamCallbackTimeInfo* timeInfo,
                                PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    return static_cast<PortAudioOutput*>(userData)->render(output, frameCount, timeInfo);
}

int PortAudioOutput::render(void* output, unsigned long frameCount,
                            const PaStreamCallbackTimeInfo* timeInfo) noexcept {
    auto* out = static_cast<float*>(output);
    // Stamped with the time the buffer reaches the device: the sound of a tick is heard then,
    // and a callback that runs late (the host's buffers fill in bursts) still counts its ticks
    // before their time.
    // At least the stream's whole latency: a host whose buffers fill in bursts reports less
    // now and then, and its callbacks come that much late.
    const int64_t firstFrameNs = monotonicNs() + std::max(dacDelayNs(timeInfo), m_outputLatencyNs);
    if (m_resampler) {
        m_callbackFirstFrameNs = firstFrameNs + m_resamplerDelayNs;
        m_callbackPulledFrames = 0;
        m_resampler->process(out, frameCount);
        return paContinue;
    }
    m_clock.count(frameCount, firstFrameNs,
                  [this, out](std::size_t offsetFrames, std::size_t frames) {
                      m_renderer.process(out + offsetFrames, frames);
                  });
    return paContinue; // the stream runs until the program terminates PortAudio
}

void PortAudioOutput::renderVoice(void* self, float* out, std::size_t frames) noexcept {
    auto* output = static_cast<PortAudioOutput*>(self);
    output->m_clock.count(
        frames, output->m_callbackFirstFrameNs + framesToNs(output->m_callbackPulledFrames),
        [output, out](std::size_t offsetFrames, std::size_t count) {
            output->m_renderer.process(out + offsetFrames, count);
        });
    output->m_callbackPulledFrames += static_cast<int64_t>(frames);
}

} // namespace doodle
