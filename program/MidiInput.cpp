#include "program/MidiInput.h"

namespace doodle {

bool midiPointActs(const GestureLine& point, const MidiInputControls& controls) noexcept {
    return !controls.playing && (!controls.modal || point.released != 0);
}

void MidiInput::setMap(const MapControls& map) noexcept {
    m_performance.setSettings({map.scaleMode, map.scale, {}, map.tuning});
}

MidiInput::Step MidiInput::feed(const MidiMessage& message,
                                std::optional<int32_t> timeMs) noexcept {
    if (!midiInputHears(message, m_channel)) {
        return {};
    }
    if ((message.status & kMidiKindMask) == kMidiControlChange && message.data1 == kMidiCcVolume) {
        return {std::nullopt, static_cast<uint8_t>(message.data2 & kMidiDataMask)};
    }
    if (timeMs) {
        m_timeMs = *timeMs;
    }
    return {m_performance.feed(message, m_timeMs), std::nullopt};
}

std::optional<GestureLine> MidiInput::flush() noexcept {
    return m_performance.flush();
}

void MidiVoice::setControls(const MidiInputControls& controls) noexcept {
    const bool newChannel = controls.channel != m_controls.channel;
    m_controls = controls;
    m_input.setMap(controls.map);
    if (newChannel) {
        m_input.listenTo(controls.channel,
                         [this](const std::optional<GestureLine>& point) { sing(point); });
    }
}

void MidiVoice::feed(const MidiMessage& message, std::optional<int32_t> timeMs) noexcept {
    const MidiInput::Step step = m_input.feed(message, timeMs);
    if (step.volumeValue) {
        setVolume(m_voice, static_cast<double>(*step.volumeValue) / kMidiMaxDataValue);
    }
    sing(step.point);
}

void MidiVoice::flush() noexcept {
    sing(m_input.flush());
}

void MidiVoice::letGo() noexcept {
    m_input.listenTo(m_controls.channel,
                     [this](const std::optional<GestureLine>& point) { sing(point); });
}

void MidiVoice::sing(const std::optional<GestureLine>& point) noexcept {
    if (!point || !midiPointActs(*point, m_controls)) {
        return;
    }
    if (point->released != 0) {
        m_player.release();
    } else {
        static_cast<void>(m_player.soundPoint(point->x, point->y, m_controls.map));
    }
}

} // namespace doodle
