#pragma once

#include <cmath>

namespace doodle {

// The limits of the live output, apart from the guard's state as a filter's coefficients are.
struct GuardLimits {
    // Samples within ±kneeStart pass unchanged.
    double kneeStart = 0.9;
    // Beyond the knee start, samples bend towards ±ceiling and never pass it.
    double ceiling = 1.0;
    // A resonator output beyond ±runawayLevel means the voice is running away: vowels switched
    // faster than the resonators settle (a new vowel every millisecond or so) can pump them to
    // infinity within a second. Played normally, whatever the vowel, pitch and stroke (strokes
    // between far vowels at up to 500 points a second included), no output passes about 5.2;
    // from there a runaway takes some 40 ms to reach 32.
    double runawayLevel = 32.0;
};

inline constexpr GuardLimits kLiveGuardLimits{};

// The knee: v itself within ±t (t = kneeStart); beyond it, with w = ceiling - t and
// u = (|v| - t) / w, sign(v) * (t + w * (1 - 1 / (1 + u))). Continuous with slope 1 at ±t,
// rising ever more slowly towards ±ceiling without passing it (an infinity gives ±ceiling).
inline double softKnee(double v, const GuardLimits& limits) noexcept {
    const double magnitude = std::fabs(v);
    if (magnitude <= limits.kneeStart) {
        return v;
    }
    const double width = limits.ceiling - limits.kneeStart;
    const double over = (magnitude - limits.kneeStart) / width;
    return std::copysign(limits.kneeStart + width * (1.0 - 1.0 / (1.0 + over)), v);
}

// Keeps the live voice within full scale and stops it screaming, sample by sample: the soft
// knee on every sample, and a mute of the voice that runs away. The voice's own numbers are left
// as they are, so an exact render (the tools', the exports') never goes through it.
class VoiceGuard {
public:
    struct Output {
        float sample = 0.0f;          // what the device plays
        bool resetResonators = false; // the voice ran away: its resonators must start from rest
    };

    // One sample: v is the voice's enveloped sample, resonatorLevel the largest magnitude of its
    // resonators' outputs for it, released whether the voice is released (fading out or
    // silent). A sample that is not finite or a level beyond limits.runawayLevel mutes the
    // voice; it stays silent until it sounds again after a release (the next press, or the
    // next sounding line of a playback after a release). Real-time safe.
    Output process(const GuardLimits& limits, double v, double resonatorLevel,
                   bool released) noexcept {
        // Written so that a NaN level counts as beyond the limit.
        if (!(resonatorLevel <= limits.runawayLevel) || !std::isfinite(v)) {
            m_muted = true;
            m_releasedSinceMute = released;
            return {0.0f, true};
        }
        if (m_muted) {
            if (released) {
                m_releasedSinceMute = true;
                return {};
            }
            if (!m_releasedSinceMute) {
                return {};
            }
            m_muted = false; // the next start: sound again, fading in as every start does
        }
        return {static_cast<float>(softKnee(v, limits)), false};
    }

    void reset() noexcept { *this = VoiceGuard{}; }

private:
    bool m_muted = false;
    bool m_releasedSinceMute = false; // while muted: the voice has been released since
};

} // namespace doodle
