#pragma once

#include "voice/Synth.h"
#include "voice/VoiceParams.h"

#include <cstddef>

namespace doodle {

// The voice's benchmark workload: a sounding vowel whose pitch target moves at every buffer,
// so that a glide always runs, as a drag does. bench/voice_bench times it natively, the web
// edition's benchmark as WebAssembly in a browser.
class VoiceWorkload {
public:
    VoiceWorkload() {
        setFormants(m_voice, {{kF1Hz, kF2Hz, kF3Hz}, {kB1Hz, kB2Hz, kB3Hz}});
        startVoice(m_voice);
        setPitch(m_voice, kLowHz);
    }
    VoiceWorkload(const VoiceWorkload&) = delete;
    VoiceWorkload& operator=(const VoiceWorkload&) = delete;

    // One buffer towards the next pitch target.
    void renderBuffer(float* out, std::size_t frameCount) noexcept {
        m_targetHz = m_targetHz > kHighHz ? kLowHz : m_targetHz + kStepHz;
        setPitch(m_voice, m_targetHz);
        m_renderer.process(out, frameCount);
    }

private:
    // An open vowel, Hz: formant frequencies and bandwidths.
    static constexpr double kF1Hz = 620;
    static constexpr double kB1Hz = 70;
    static constexpr double kF2Hz = 1660;
    static constexpr double kB2Hz = 150;
    static constexpr double kF3Hz = 2430;
    static constexpr double kB3Hz = 320;
    // The pitch target climbs by kStepHz a buffer from kLowHz past kHighHz, then starts again.
    static constexpr double kLowHz = 110.0;
    static constexpr double kHighHz = 600.0;
    static constexpr double kStepHz = 7.0;

    VoiceParams m_voice{};
    VoiceRenderer m_renderer{m_voice};
    double m_targetHz = kLowHz;
};

} // namespace doodle
