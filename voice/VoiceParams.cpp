#include "voice/VoiceParams.h"

namespace doodle {
namespace {

// Bit positions in the request word.
constexpr int kStartsShift = 0;
constexpr int kStopsShift = 16;
constexpr int kGlidesShift = 32;
constexpr int kReleasedShift = 48;
constexpr int kGlideAfterStopShift = 49;
constexpr uint64_t kCounterMask = 0xffff;

// Only the main thread writes the word, so its own relaxed load always sees its last store.
VoiceRequests currentRequests(const VoiceParams& voice) noexcept {
    return VoiceRequests::unpack(voice.requestWord.load(std::memory_order_relaxed));
}

void publish(VoiceParams& voice, const VoiceRequests& requests) noexcept {
    voice.requestWord.store(requests.pack(), std::memory_order_release);
}

} // namespace

uint64_t VoiceRequests::pack() const noexcept {
    return static_cast<uint64_t>(starts) << kStartsShift |
           static_cast<uint64_t>(stops) << kStopsShift |
           static_cast<uint64_t>(glides) << kGlidesShift |
           static_cast<uint64_t>(released) << kReleasedShift |
           static_cast<uint64_t>(glideAfterStop) << kGlideAfterStopShift;
}

VoiceRequests VoiceRequests::unpack(uint64_t word) noexcept {
    VoiceRequests requests;
    requests.starts = static_cast<uint16_t>(word >> kStartsShift & kCounterMask);
    requests.stops = static_cast<uint16_t>(word >> kStopsShift & kCounterMask);
    requests.glides = static_cast<uint16_t>(word >> kGlidesShift & kCounterMask);
    requests.released = (word >> kReleasedShift & 1U) != 0;
    requests.glideAfterStop = (word >> kGlideAfterStopShift & 1U) != 0;
    return requests;
}

bool VoiceParams::released() const noexcept {
    return currentRequests(*this).released;
}

void startVoice(VoiceParams& voice) noexcept {
    // Ends a running fade-out at once; a running fade-in is left alone.
    VoiceRequests requests = currentRequests(voice);
    ++requests.starts;
    requests.released = false;
    publish(voice, requests);
}

void stopVoice(VoiceParams& voice) noexcept {
    // Ends a running glide; the next start fades in from 1/1000.
    VoiceRequests requests = currentRequests(voice);
    ++requests.stops;
    requests.released = true;
    requests.glideAfterStop = false;
    publish(voice, requests);
    voice.lastPitch = 0.0; // the first pitch after a stop never glides
}

void setPitch(VoiceParams& voice) noexcept {
    const double pitchHz = voice.pitch.load();
    voice.glideTarget.store(pitchHz);
    if (voice.lastPitch != 0.0 && pitchHz != voice.lastPitch) {
        // A glide that starts during another continues its step count.
        voice.glideFrom.store(voice.lastPitch);
        VoiceRequests requests = currentRequests(voice);
        ++requests.glides;
        requests.glideAfterStop = true;
        publish(voice, requests);
    }
    voice.lastPitch = pitchHz;
}

} // namespace doodle
