#pragma once

#include <cstddef>
#include <string>

struct soxr;

namespace doodle {

// Live output at a device rate other than the voice's: converts the voice's frames, pulled
// from a source as the conversion needs them, to the device's rate with libsoxr. Made and
// reset on the main thread; process() runs in the audio callback and allocates nothing: the
// converter is made with fixed-size pulls and warmed up at creation, so its buffers have
// reached their size before the first callback.
class LiveResampler {
public:
    // The most input frames one pull asks the source for (small: the converter pulls whole ones
    // ahead, which adds to its delay), and the most output frames one conversion step
    // produces: fixed, so that the converter's buffers stop growing.
    static constexpr std::size_t kMaxPullFrames = 64;
    static constexpr std::size_t kMaxStepFrames = 1024;

    // Renders `frames` frames of the voice into out; called from process() only.
    using Source = void (*)(void* state, float* out, std::size_t frames) noexcept;

    // A converter from inputRate to outputRate (Hz), pulling from source(state, ...). Check
    // error(): empty when it is ready.
    LiveResampler(double inputRate, double outputRate, Source source, void* state);
    ~LiveResampler();
    LiveResampler(const LiveResampler&) = delete;
    LiveResampler& operator=(const LiveResampler&) = delete;

    // Empty, or why the converter could not be made (libsoxr's own text).
    const std::string& error() const noexcept { return m_error; }

    // Audio thread: fills out with `frames` frames at the output rate.
    void process(float* out, std::size_t frames) noexcept;
    // Main thread, no callback running: forgets the signal so far, as a fresh converter.
    void reset();
    // The converter's delay now, in output frames: how much later than the source's frame
    // the same moment leaves process().
    double delayFrames() const noexcept;

private:
    static std::size_t pull(void* self, const void** data, std::size_t requestedFrames) noexcept;
    // Registers the source with a converter just made or cleared (error: what that step said),
    // then warms it up; on an error the converter goes, and the output is silence.
    void attachSource(const char* error); // libsoxr's soxr_error_t: null, or what went wrong
    void warmUp() noexcept;

    soxr* m_soxr = nullptr;
    Source m_source = nullptr;
    void* m_state = nullptr;
    bool m_warming = false; // the source is not asked while warming up: silence goes in
    float m_pullBuffer[kMaxPullFrames]{};
    std::string m_error{};
};

} // namespace doodle
