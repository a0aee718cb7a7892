#pragma once

#include <algorithm>

namespace doodle {

// A linear slew: the value moves toward the target by at most `rate` a step, so that a level
// set at once (a volume controller's jump) reaches the samples without a click.
class Lag {
public:
    constexpr Lag(double value, double ratePerStep) noexcept
        : m_target(value), m_value(value), m_rate(ratePerStep) {}

    void setTarget(double target) noexcept { m_target = target; }
    double step() noexcept {
        m_value += std::clamp(m_target - m_value, -m_rate, m_rate);
        return m_value;
    }
    double value() const noexcept { return m_value; }

private:
    double m_target = 0.0;
    double m_value = 0.0;
    double m_rate = 0.0; // units a step, > 0
};

} // namespace doodle
