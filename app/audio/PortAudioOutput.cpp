#include "app/audio/PortAudioOutput.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

namespace doodle {
namespace {

// PortAudio's ALSA and JACK back-ends report every device they probe on stderr while
// initialising; the program prints nothing, so their reporters are silenced.
void silentAlsaError(const char* /*file*/, int /*line*/, const char* /*function*/, int /*err*/,
                     const char* /*fmt*/, ...) {}
void silentJackMessage(const char* /*message*/) {}

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

    err = Pa_OpenStream(&m_stream, nullptr, &m_outputParams, VoiceParams::sampleRate,
                        paFramesPerBufferUnspecified, paNoFlag, &PortAudioOutput::paCallback, this);
    return err;
}

std::string PortAudioOutput::errorText(int code) const {
    return Pa_GetErrorText(code);
}

int PortAudioOutput::start() {
    if (m_stream == nullptr) {
        return paBadStreamPtr;
    }
    return Pa_StartStream(m_stream);
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
}

int PortAudioOutput::paCallback(const void* /*input*/, void* output, unsigned long frameCount,
                                const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    return static_cast<PortAudioOutput*>(userData)->render(output, frameCount);
}

int PortAudioOutput::render(void* output, unsigned long frameCount) noexcept {
    m_renderer.process(static_cast<float*>(output), frameCount);
    return paContinue; // the stream runs until the program terminates PortAudio
}

} // namespace doodle
