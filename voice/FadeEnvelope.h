#pragma once

#include <cstdint>

namespace doodle {

inline constexpr int32_t kFadeInSamples = 1000;  // ~22.68 ms at 44100 Hz, linear in amplitude
inline constexpr int32_t kFadeOutSamples = 4000; // ~90.70 ms, linear in amplitude

// The fade-in after a start and the fade-out after a stop, one sample at a time. A start fades
// in from 1/kFadeInSamples of full level only after a stop (a repeated start lets a fade-in run
// on); a stop fades out from where the level stands to exact silence on the kFadeOutSamples-th
// sample.
class FadeEnvelope {
public:
    // A stop: the next start fades in from the beginning.
    void restartFadeIn() noexcept { m_fadeInCount = 0; }
    // A start: a running fade-out ends at once.
    void endFadeOut() noexcept { m_fadeOutCount = 0; }
    // true = released (fading out or silent), false = sounding.
    void setReleased(bool released) noexcept { m_released = released; }
    bool released() const noexcept { return m_released; }

    // The enveloped value of one sample v, advancing the count of the running fade.
    double apply(double v) noexcept {
        if (m_released) {
            if (m_fadeOutCount >= kFadeOutSamples) {
                return 0.0;
            }
            const int32_t count = m_fadeOutCount + 1;
            m_fadeOutCount = count;
            return v * (static_cast<double>(kFadeOutSamples - count) / kFadeOutSamples);
        }
        if (m_fadeInCount < kFadeInSamples) {
            const int32_t count = m_fadeInCount + 1;
            m_fadeInCount = count;
            return v * (static_cast<double>(count) / kFadeInSamples);
        }
        return v;
    }

private:
    bool m_released = false;    // false = sounding (fade-in), true = released (fade-out)
    int32_t m_fadeInCount = 0;  // 0..kFadeInSamples samples of fade-in since the start
    int32_t m_fadeOutCount = 0; // 0..kFadeOutSamples samples of fade-out since the stop
};

} // namespace doodle
