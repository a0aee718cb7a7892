#pragma once

#include "app/audio/AudioOutput.h"
#include "app/audio/LiveResampler.h"
#include "app/clock/PlayClock.h"
#include "voice/Synth.h"

#include <memory>
#include <portaudio.h>

namespace doodle {

// One output-only mono float32 stream on the default device, rendering the voice in PortAudio's
// callback thread through its own renderer, guarded as live output is. The stream runs at the
// voice's 44100 Hz where the device takes it, else at the device's default rate with the voice
// converted to it (a JACK server at 48 kHz). Once started, its callback drives the play clock:
// the ticks fall on the voice's frames as it renders them.
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
    // The converter's source: the voice's next frames, its ticks counted on the way.
    static void renderVoice(void* self, float* out, std::size_t frames) noexcept;
    // The stream's rate: the voice's, or the device's with a converter made for it.
    double chooseRate();

    VoiceRenderer m_renderer; // touched only by the callback once the stream runs
    PlayClock& m_clock;       // driven by the callback once the stream runs
    std::unique_ptr<LiveResampler> m_resampler{}; // only where the device refuses 44100 Hz
    int64_t m_resamplerDelayNs = 0;               // its delay after the warm-up
    int64_t m_outputLatencyNs = 0;                // the open stream's latency as PortAudio gives it
    // In a converting callback: when the first voice frame pulled in it is heard, and the
    // voice frames pulled so far.
    int64_t m_callbackFirstFrameNs = 0;
    int64_t m_callbackPulledFrames = 0;
    PaStream* m_stream = nullptr;
    PaStreamParameters m_outputParams{};
    bool m_initialised = false;
};

} // namespace doodle
