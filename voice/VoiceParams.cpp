#include "voice/VoiceParams.h"

#include <algorithm>
#include <cmath>

namespace doodle {

namespace {

constexpr std::memory_order kPublish = std::memory_order_release;
constexpr std::memory_order kTake = std::memory_order_acquire;

} // namespace

// A sequence lock without the lock: the number is odd while the fields are written, and the
// orders of the field accesses keep them between the two numbers, so that a reader that sees
// the same even number before and after its copy has copied one whole publication.
void VoiceShared::publish(const VoiceSettings& settings) noexcept {
    const uint64_t sequence = m_sequence.load(std::memory_order_relaxed);
    m_sequence.store(sequence + 1, std::memory_order_relaxed);
    m_starts.store(settings.starts, kPublish);
    m_stops.store(settings.stops, kPublish);
    m_glides.store(settings.glides, kPublish);
    m_released.store(settings.released, kPublish);
    m_glideAfterStop.store(settings.glideAfterStop, kPublish);
    m_pitchHz.store(settings.pitchHz, kPublish);
    m_glideFromHz.store(settings.glideFromHz, kPublish);
    m_volume.store(settings.volume, kPublish);
    for (std::size_t k = 0; k < kFormantCount; ++k) {
        m_freqHz[k].store(settings.formants.freqHz[k], kPublish);
        m_bwHz[k].store(settings.formants.bwHz[k], kPublish);
    }
    m_sequence.store(sequence + 2, kPublish);
}

bool VoiceShared::read(uint64_t sequence, VoiceSettings& settings) const noexcept {
    VoiceSettings copy;
    copy.starts = m_starts.load(kTake);
    copy.stops = m_stops.load(kTake);
    copy.glides = m_glides.load(kTake);
    copy.released = m_released.load(kTake);
    copy.glideAfterStop = m_glideAfterStop.load(kTake);
    copy.pitchHz = m_pitchHz.load(kTake);
    copy.glideFromHz = m_glideFromHz.load(kTake);
    copy.volume = m_volume.load(kTake);
    for (std::size_t k = 0; k < kFormantCount; ++k) {
        copy.formants.freqHz[k] = m_freqHz[k].load(kTake);
        copy.formants.bwHz[k] = m_bwHz[k].load(kTake);
    }
    if (m_sequence.load(std::memory_order_relaxed) != sequence) {
        return false;
    }
    settings = copy;
    return true;
}

void startVoice(VoiceParams& voice) noexcept {
    ++voice.m_settings.starts;
    voice.m_settings.released = false;
    voice.m_shared.publish(voice.m_settings);
}

void stopVoice(VoiceParams& voice) noexcept {
    ++voice.m_settings.stops;
    voice.m_settings.released = true;
    voice.m_settings.glideAfterStop = false;
    voice.m_shared.publish(voice.m_settings);
    voice.m_lastPitchHz = 0.0;
}

void setPitch(VoiceParams& voice, double pitchHz) noexcept {
    VoiceSettings& settings = voice.m_settings;
    settings.pitchHz = pitchHz;
    if (voice.m_lastPitchHz != 0.0 && pitchHz != voice.m_lastPitchHz) {
        settings.glideFromHz = voice.m_lastPitchHz;
        ++settings.glides;
        settings.glideAfterStop = true;
    }
    voice.m_shared.publish(settings);
    voice.m_lastPitchHz = pitchHz;
}

void setFormants(VoiceParams& voice, const FormantSet& formants) noexcept {
    voice.m_settings.formants = formants;
    voice.m_shared.publish(voice.m_settings);
}

void setVolume(VoiceParams& voice, double volume) noexcept {
    voice.m_settings.volume = std::isnan(volume) ? 1.0 : std::clamp(volume, 0.0, 1.0);
    voice.m_shared.publish(voice.m_settings);
}

} // namespace doodle
