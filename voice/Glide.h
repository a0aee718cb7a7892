#pragma once

#include <cstdint>

namespace doodle {

// A linear glide in equal steps: its value moves from a start to a target in `steps` steps and
// the last step gives exactly the target; with no glide running the value is the target. Moving
// the target does not start a glide by itself: only glideFrom does.
class Glide {
public:
    explicit Glide(int32_t steps) noexcept : m_steps(steps) {}

    // Where the value settles. While no glide runs the next value is this target.
    void setTarget(double target) noexcept { m_target = target; }
    // Glides from `start` to the target. A glide already running keeps its step count, so the
    // new one begins where the old one's next step would be and ends on the old one's last step.
    void glideFrom(double start) noexcept {
        m_start = start;
        m_running = true;
    }
    // Ends a running glide: the value is the target from the next step on.
    void cancel() noexcept {
        m_running = false;
        m_stepsDone = 0;
    }
    // No glide and a target of 0.
    void reset() noexcept { *this = Glide(m_steps); }

    bool running() const noexcept { return m_running; }

    // The value for the next sample, taking one step of a running glide.
    double step() noexcept {
        if (!m_running) {
            return m_target;
        }
        const int32_t stepsDone = m_stepsDone + 1;
        m_stepsDone = stepsDone;
        const double value = m_start + (m_target - m_start) * stepsDone / m_steps;
        if (stepsDone >= m_steps) {
            cancel();
        }
        return value;
    }

private:
    int32_t m_steps = 1;     // steps of a whole glide, at least 1
    double m_start = 0.0;    // value the running glide starts from
    double m_target = 0.0;   // value the glide ends on, and the value while none runs
    int32_t m_stepsDone = 0; // 0..m_steps steps of the running glide taken
    bool m_running = false;
};

} // namespace doodle
