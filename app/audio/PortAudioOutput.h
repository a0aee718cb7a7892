#pragma once

#include "app/audio/AudioOutput.h"
#include "app/clock/PlayClock.h"
#include "voice/Synth.h"

#include <portaudio.h>

namespace doodle {

// One output-only mono float32 stream at 44100 Hz on the default device, rendering the voice
// in PortAudio's callback thread through its own renderer, guarded as live output is. Once
// started, its callback drives the play clock: the ticks fall on the frames it renders.
class PortAudioOutput final : public AudioOutput {
public:
    static constexpr double kSuggestedLatencySeconds = 0.075;

    PortAudioOutput(const VoiceParams& voice, PlayClock& clock) noexcept
        : m_renderer(voice, VoiceOutput::Live), m_clock(clock) {}
    PortAudioOutput(const PortAudioOutput&) = delete;
    PortAudioOutput& operator=(const PortAudioOutput&) = delete;

    int open() override;
    std::string errorText(int code) const override;
    int start() override;
    void terminate() override;

private:
    // PortAudio's C callback: hands the buffer to render() of the PortAudioOutput in userData.
    static int paCallback(const void* input, void* output, unsigned long frameCount,
                          const PaStreamCallbackTimeInfo* timeInfo,
                          PaStreamCallbackFlags statusFlags, void* userData);
    int render(void* output, unsigned long frameCount,
               const PaStreamCallbackTimeInfo* timeInfo) noexcept;

    VoiceRenderer m_renderer; // touched only by the callback once the stream runs
    PlayClock& m_clock;       // driven by the callback once the stream runs
    PaStream* m_stream = nullptr;
    PaStreamParameters m_outputParams{};
    bool m_initialised = false;
};

} // namespace doodle
