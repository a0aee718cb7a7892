#pragma once

#include "voice/ResonatorTuning.h"
#include "voice/Synth.h"

#include <cstddef>

namespace doodle {

// The voice's benchmark workload: a sounding vowel whose pitch target moves at every buffer,
// so that a glide always runs, as a drag does. bench/voice_bench times it natively, the web
// edition's benchmark as WebAssembly in a browser.
class VoiceWorkload {
public:
    VoiceWorkload() {
        m_voice.res[0].setFormant(kF1Hz, kB1Hz);
        m_voice.res[1].setFormant(kF2Hz, kB2Hz);
        m_voice.res[2].setFormant(kF3Hz, kB3Hz);
        tuneResonators(m_voice);
        m_voice.pitch.store(kLowHz);
        startVoice(m_voice);
        setPitch(m_voice);
    }
    VoiceWorkload(const VoiceWorkload&) = delete;
    VoiceWorkload& operator=(const VoiceWorkload&) = delete;

    // One buffer towards the next pitch target.
    void renderBuffer(float* out, std::size_t frameCount) noexcept {
        m_targetHz = m_targetHz > kHighHz ? kLowHz : m_targetHz + kStepHz;
        m_voice.pitch.store(m_targetHz);
        setPitch(m_voice);
        renderVoice(m_renderer, out, frameCount);
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
