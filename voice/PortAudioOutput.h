#pragma once

#include "voice/AudioOutput.h"
#include "voice/VoiceParams.h"

#include <portaudio.h>

namespace doodle {

// One output-only mono float32 stream at 44100 Hz on the default device, rendering the voice
// in PortAudio's callback thread.
class PortAudioOutput final : public AudioOutput {
public:
    static constexpr double kSuggestedLatencySeconds = 0.075;

    explicit PortAudioOutput(VoiceParams& voice) noexcept : m_voice(voice) {}
    PortAudioOutput(const PortAudioOutput&) = delete;
    PortAudioOutput& operator=(const PortAudioOutput&) = delete;

    int open() override;
    std::string errorText(int code) const override;
    int start() override;
    void terminate() override;

private:
    static int paCallback(const void* input, void* output, unsigned long frameCount,
                          const PaStreamCallbackTimeInfo* timeInfo,
                          PaStreamCallbackFlags statusFlags, void* userData);
    int render(void* output, unsigned long frameCount) noexcept;

    VoiceParams& m_voice;
    PaStream* m_stream = nullptr;
    PaStreamParameters m_outputParams{};
    bool m_initialised = false;
};

} // namespace doodle
