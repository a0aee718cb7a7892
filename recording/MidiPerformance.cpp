#include "recording/MidiPerformance.h"

#include "mapping/VowelMap.h"

#include <algorithm>

namespace doodle {
namespace {

constexpr double kCentsPerSemitone = 100.0;

} // namespace

bool midiInputHears(const MidiMessage& message, int32_t channel) noexcept {
    if ((message.status & kMidiKindMask) == kMidiSystem) {
        return true;
    }
    const int32_t messageChannel = (message.status & kMidiChannelMask) + 1;
    return channel == kMidiAllChannels ? messageChannel != kMidiDrumChannel
                                       : messageChannel == channel;
}

std::optional<GestureLine> MidiPerformance::feed(const MidiMessage& message,
                                                 int32_t timeMs) noexcept {
    std::optional<GestureLine> point;
    if (m_momentOpen && timeMs > m_momentMs) {
        point = flush();
    }
    if (!m_momentOpen) {
        // After a flush the next moment may not start before the last point's time either.
        m_momentMs = std::max(timeMs, m_momentMs);
        m_momentOpen = true;
    }
    apply(message);
    return point;
}

std::optional<GestureLine> MidiPerformance::flush() noexcept {
    if (!m_momentOpen) {
        return std::nullopt;
    }
    m_momentOpen = false;
    if (m_heldCount == 0) {
        if (!m_sounding) {
            return std::nullopt;
        }
        m_sounding = false;
        return GestureLine{m_pointX, m_pointY, 1, m_momentMs};
    }
    const int32_t x =
        xForPitch(soundingNote(), m_settings.scaleMode, m_settings.scale, m_settings.tuning);
    const int32_t y = m_settings.fixedY ? std::clamp(*m_settings.fixedY, 0, kMaxPointY)
                                        : yForController(m_vowelValue);
    if (m_sounding && x == m_pointX && y == m_pointY) {
        return std::nullopt;
    }
    m_sounding = true;
    m_pointX = x;
    m_pointY = y;
    return GestureLine{x, y, 0, m_momentMs};
}

void MidiPerformance::apply(const MidiMessage& message) noexcept {
    const auto kind = static_cast<uint8_t>(message.status & kMidiKindMask);
    const auto data1 = static_cast<uint8_t>(message.data1 & kMidiDataMask);
    const auto data2 = static_cast<uint8_t>(message.data2 & kMidiDataMask);
    switch (kind) {
    case kMidiNoteOn:
        if (data2 > 0) {
            noteOn(data1);
        } else {
            noteOff(data1);
        }
        break;
    case kMidiNoteOff:
        noteOff(data1);
        break;
    case kMidiPitchBend:
        m_bend = data1 | (data2 << kMidiDataBits);
        break;
    case kMidiControlChange:
        controlChange(data1, data2);
        break;
    default:
        break; // pressure, program change, system messages, data bytes without a status
    }
}

void MidiPerformance::noteOn(uint8_t note) noexcept {
    forget(note); // a note pressed again becomes the newest
    m_held[m_heldCount++] = note;
}

void MidiPerformance::noteOff(uint8_t note) noexcept {
    if (m_pedalDown) {
        // Only a note still held can be sustained: a key up for a note not held holds nothing.
        const auto end = m_held.begin() + static_cast<std::ptrdiff_t>(m_heldCount);
        m_sustainedOnly[note] = std::find(m_held.begin(), end, note) != end;
        return;
    }
    forget(note);
}

void MidiPerformance::forget(uint8_t note) noexcept {
    m_sustainedOnly[note] = false;
    const auto begin = m_held.begin();
    const auto end = begin + static_cast<std::ptrdiff_t>(m_heldCount);
    const auto found = std::find(begin, end, note);
    if (found != end) {
        std::copy(found + 1, end, found);
        --m_heldCount;
    }
}

void MidiPerformance::setPedal(bool down) noexcept {
    const bool lifted = m_pedalDown && !down;
    m_pedalDown = down;
    if (!lifted) {
        return;
    }
    for (std::size_t note = 0; note < m_sustainedOnly.size(); ++note) {
        if (m_sustainedOnly[note]) {
            forget(static_cast<uint8_t>(note));
        }
    }
}

void MidiPerformance::letGoOfAll() noexcept {
    m_heldCount = 0;
    m_sustainedOnly.fill(false);
}

void MidiPerformance::controlChange(uint8_t controller, uint8_t value) noexcept {
    const bool bendRangeSelected =
        !m_nrpnSelected && m_rpnMsb == kMidiRpnPitchBendRange && m_rpnLsb == kMidiRpnPitchBendRange;
    switch (controller) {
    case kMidiVowelController:
    case kMidiCcModulation:
        m_vowelValue = value;
        break;
    case kMidiCcRpnMsb:
        m_rpnMsb = value;
        m_nrpnSelected = false;
        break;
    case kMidiCcRpnLsb:
        m_rpnLsb = value;
        m_nrpnSelected = false;
        break;
    case kMidiCcNrpnMsb:
    case kMidiCcNrpnLsb:
        m_nrpnSelected = true;
        break;
    case kMidiCcDataEntryMsb:
        if (bendRangeSelected) {
            m_bendRangeSemitones = value;
        }
        break;
    case kMidiCcDataEntryLsb:
        if (bendRangeSelected) {
            m_bendRangeCents = value;
        }
        break;
    case kMidiCcSustain:
        setPedal(value >= kMidiPedalDownValue);
        break;
    case kMidiCcAllSoundOff:
    case kMidiCcAllNotesOff:
        letGoOfAll();
        break;
    case kMidiCcResetAllControllers:
        setPedal(false);
        m_bend = kMidiBendCentre;
        m_rpnMsb = kMidiRpnNull;
        m_rpnLsb = kMidiRpnNull;
        m_nrpnSelected = false;
        break;
    default:
        break;
    }
}

double MidiPerformance::soundingNote() const noexcept {
    const double rangeSemitones = m_bendRangeSemitones + m_bendRangeCents / kCentsPerSemitone;
    const double bendSemitones =
        static_cast<double>(m_bend - kMidiBendCentre) / kMidiBendSteps * rangeSemitones;
    return m_held[m_heldCount - 1] + bendSemitones;
}

} // namespace doodle
