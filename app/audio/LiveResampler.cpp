#include "app/audio/LiveResampler.h"

#include <algorithm>
#include <soxr.h>

namespace doodle {
namespace {

// libsoxr's "very high quality" (28-bit) recipe, minimum phase: for live output the least delay
// (about 2 ms with 64-frame pulls, bench/resampler_bench) at about 0.1 % of a core; the phase
// shift it brings stays near the top of the band, where the voice has little energy.
constexpr unsigned long kQualityRecipe = SOXR_VHQ | SOXR_MINIMUM_PHASE;
// One thread: the callback's own.
constexpr unsigned kThreads = 1;
// Warm-up: output frames converted from silence at creation, in steps of every size up to
// kMaxStepFrames, so that every buffer of the converter has reached its working size.
constexpr std::size_t kWarmUpSteps = 64;

} // namespace

LiveResampler::LiveResampler(double inputRate, double outputRate, Source source, void* state)
    : m_source(source), m_state(state) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(kQualityRecipe, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(kThreads);
    soxr_error_t error = nullptr;
    m_soxr = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, &runtime);
    attachSource(error);
}

LiveResampler::~LiveResampler() {
    soxr_delete(m_soxr); // takes a null converter too
}

void LiveResampler::warmUp() noexcept {
    m_warming = true;
    float out[kMaxStepFrames];
    for (std::size_t step = 0; step < kWarmUpSteps; ++step) {
        const std::size_t frames = step % 2 == 0 ? kMaxStepFrames : kMaxStepFrames >> (step % 8);
        static_cast<void>(soxr_output(m_soxr, out, frames));
    }
    m_warming = false;
}

void LiveResampler::reset() {
    if (m_soxr == nullptr) {
        return;
    }
    // Clearing frees the converter's buffers and forgets the source: both are set up again
    // before the next callback.
    attachSource(soxr_clear(m_soxr));
}

void LiveResampler::attachSource(const char* error) {
    if (error == nullptr) {
        error = soxr_set_input_fn(m_soxr, &LiveResampler::pull, this, kMaxPullFrames);
    }
    if (error != nullptr) {
        m_error = error;
        soxr_delete(m_soxr); // takes a null converter too
        m_soxr = nullptr;
        return;
    }
    warmUp();
}

void LiveResampler::process(float* out, std::size_t frames) noexcept {
    if (m_soxr == nullptr) {
        std::fill(out, out + frames, 0.0f);
        return;
    }
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t step = std::min(frames - done, kMaxStepFrames);
        const std::size_t made = soxr_output(m_soxr, out + done, step);
        if (made == 0) {
            // The source never ends, so only a converter error stops it: silence, not noise.
            std::fill(out + done, out + frames, 0.0f);
            return;
        }
        done += made;
    }
}

double LiveResampler::delayFrames() const noexcept {
    return m_soxr == nullptr ? 0.0 : soxr_delay(m_soxr);
}

std::size_t LiveResampler::pull(void* self, const void** data,
                                std::size_t requestedFrames) noexcept {
    auto* resampler = static_cast<LiveResampler*>(self);
    const std::size_t frames = std::min(requestedFrames, kMaxPullFrames);
    if (resampler->m_warming) {
        std::fill(resampler->m_pullBuffer, resampler->m_pullBuffer + frames, 0.0f);
    } else {
        resampler->m_source(resampler->m_state, resampler->m_pullBuffer, frames);
    }
    *data = resampler->m_pullBuffer;
    return frames;
}

} // namespace doodle
