#include "recording/Player.h"

#include "mapping/DrawingSurface.h"

#include <algorithm>
#include <limits>

namespace doodle {
namespace {

constexpr int64_t kLastTick = std::numeric_limits<int32_t>::max(); // the count wraps after it
// The play position cannot step past int32's end, so a longer recording ends there.
constexpr std::size_t kMaxPlayIndex = std::numeric_limits<int32_t>::max();

} // namespace

int32_t dueTick(double timeMs, double playSpeed) noexcept {
    return roundToWhole(timeMs / playSpeed);
}

bool playedToEnd(const Recording& recording, std::size_t playIndex) noexcept {
    return playIndex >= recording.size() || playIndex >= kMaxPlayIndex;
}

std::optional<int32_t> nextActingTick(const Recording& recording, std::size_t playIndex,
                                      int32_t afterTick, double playSpeed) noexcept {
    int64_t tick = int64_t{afterTick} + 1;
    if (!playedToEnd(recording, playIndex)) {
        const int32_t due = dueTick(recording.event(playIndex).timeMs, playSpeed);
        tick = std::max(tick, int64_t{due} + 1);
    }
    if (tick > kLastTick) {
        return std::nullopt;
    }
    return static_cast<int32_t>(tick);
}

void Player::start() noexcept {
    stopVoice(m_voice);
    m_playIndex = 0;
    if (m_choir != nullptr) {
        m_choir->voicing.reset();
    }
}

void Player::stop() noexcept {
    stopVoice(m_voice);
}

std::optional<int32_t> Player::soundPoint(int32_t x, int32_t y,
                                          const MapControls& controls) noexcept {
    startVoice(m_voice);
    const std::optional<int32_t> noteIndex = mapPoint(m_voice, x, y, controls, m_vowel);
    if (m_choir != nullptr) {
        m_choir->last = m_choir->voicing.point(x, y, m_voice.pitchHz(), controls);
        m_choir->shared.publish(m_choir->last);
    }
    return noteIndex;
}

void Player::release() noexcept {
    stopVoice(m_voice);
}

bool Player::acts(int32_t tickCount, double playSpeed) const noexcept {
    return playedToEnd(m_recording, m_playIndex) ||
           tickCount > dueTick(m_recording.event(m_playIndex).timeMs, playSpeed);
}

PlayedStep Player::step(int32_t tickCount, double playSpeed, const MapControls& controls) noexcept {
    if (!acts(tickCount, playSpeed)) {
        return {};
    }
    if (playedToEnd(m_recording, m_playIndex)) {
        return {PlaybackAction::Stop};
    }
    const GestureEvent event = m_recording.event(m_playIndex);
    ++m_playIndex;
    if (event.released) {
        release();
        return {PlaybackAction::Release};
    }
    PlayedStep played{PlaybackAction::Sound, clampX(event.x), clampY(event.y)};
    played.noteIndex = soundPoint(played.x, played.y, controls);
    return played;
}

std::optional<int32_t> Player::nextActingTick(int32_t afterTick, double playSpeed) const noexcept {
    return doodle::nextActingTick(m_recording, m_playIndex, afterTick, playSpeed);
}

} // namespace doodle
