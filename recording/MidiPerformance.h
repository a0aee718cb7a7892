#pragma once

#include "mapping/MidiMap.h"
#include "mapping/PitchMap.h"
#include "recording/GestureLine.h"
#include "recording/MidiFormat.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace doodle {

// What a MIDI performance is mapped with: the scale and tuning the X of a note is found under,
// and a fixed vowel row or none.
struct MidiPerformanceSettings {
    ScaleMode scaleMode = ScaleMode::Unrestricted;
    Scale scale{}; // built by buildScale for scaleMode
    // A row 0..kMaxPointY that every point takes, the vowel controllers then being ignored.
    std::optional<int32_t> fixedY{};
    Tuning tuning = Tuning::Classic;
};

// Whether input listening to `channel` (kMidiAllChannels or 1..16) takes `message`. Under
// kMidiAllChannels, every channel but kMidiDrumChannel: a drum machine or a sequencer's drum track
// on the same cable must not sing, nor bend or mute the voice. Under one channel, only that
// channel's messages, so that another instrument's note off cannot end a note of this one. A
// message of no channel (a system message) is taken: the performance ignores it.
bool midiInputHears(const MidiMessage& message, int32_t channel) noexcept;

// The vowel controller's value before any CC 74 or CC 1: the middle of its range, the usual
// resting value of CC 74 (a mid row of the area).
inline constexpr uint8_t kMidiInitialVowelValue = 64;

// Turns a MIDI performance into the points a drag would make: the lines "x;y;released;ms"
// that recording writes, so that the ink, the note label, recording and playback work as
// they do for drawing. Monophonic with last-note priority:
// - Note on starts the voice at its note, or moves it there while others are held; releasing
//   the newest held note goes back to the one held before it; releasing the last held note
//   is a release. Velocity does nothing, and a note on with velocity 0 is a note off.
// - Pitch bend moves the sounding pitch by up to the bend range either way: 2 semitones until
//   RPN 0 (CC 101 and CC 100 at 0) sets it, CC 6 in semitones and CC 38 in cents. Other RPNs
//   and NRPNs (CC 99, CC 98) are ignored, and the null RPN (127, 127) deselects. CC 121 (reset
//   all controllers) centres the bend and deselects.
// - CC 74 and CC 1 set the vowel: 127 the top row, 0 the bottom (yForController).
// - The sustain pedal (CC 64, down from kMidiPedalDownValue): while it is down a released
//   key's note stays held, as if the key were, and counts for last-note priority as held
//   notes do; letting the pedal up lets go of every note whose key is up, which releases the
//   voice when no key is held. A key struck again while its note is sustained is held anew.
// - CC 120 (all sound off) and CC 123 (all notes off) let go of every note, sustained ones
//   too: a release, whatever the pedal. CC 121 lets the pedal up as well.
// - Other messages (program change, pressure, system messages) do nothing.
// X comes from xForPitch under the settings' scale and tuning, so a note the area cannot reach
// lands on its edge, as a drag past the edge does. The channel is not looked at: the caller picks
// the messages it listens to (midiInputHears).
//
// Messages at the same millisecond count as one moment: the point goes out once a message of
// a later millisecond arrives, or on flush(). So a note off followed by a note on at the same
// time (legato, as the export writes a change of note) moves the sounding point without a
// release, as a drag across note strips does; a repeated note with no time between its note
// off and note on keeps sounding. A moment that changes nothing audible (a bend that keeps
// the same X, a controller while nothing sounds) makes no line; a release repeats the point
// it releases.
//
// Fixed size, no allocation, no lock, no I/O: it may run in an audio callback.
class MidiPerformance {
public:
    explicit MidiPerformance(const MidiPerformanceSettings& settings = {}) noexcept
        : m_settings(settings) {}

    // A changed scale or fixed vowel: takes effect from the next point.
    void setSettings(const MidiPerformanceSettings& settings) noexcept { m_settings = settings; }

    // A channel message at timeMs. Returns the point of the moment before it when timeMs is
    // later and that moment changed what sounds. A time earlier than the one before counts as
    // the one before: line times never decrease.
    std::optional<GestureLine> feed(const MidiMessage& message, int32_t timeMs) noexcept;
    // Ends the current moment: its point, if it changed what sounds. A host calls it once it
    // has handed over every message up to now (at the end of an audio period, at the end of a
    // file).
    std::optional<GestureLine> flush() noexcept;

    // Whether the last point made sounds (a note was held when it was made).
    bool sounding() const noexcept { return m_sounding; }

private:
    void apply(const MidiMessage& message) noexcept;
    void noteOn(uint8_t note) noexcept;
    void noteOff(uint8_t note) noexcept;
    void forget(uint8_t note) noexcept; // takes a note out of the held ones
    void setPedal(bool down) noexcept;
    void letGoOfAll() noexcept;
    void controlChange(uint8_t controller, uint8_t value) noexcept;
    double soundingNote() const noexcept;

    MidiPerformanceSettings m_settings{};

    // Held notes, oldest first; each note at most once.
    std::array<uint8_t, kMidiMaxDataValue + 1> m_held{};
    std::size_t m_heldCount = 0;
    bool m_pedalDown = false;
    // By note: held only by the pedal, its key up.
    std::array<bool, kMidiMaxDataValue + 1> m_sustainedOnly{};
    int32_t m_bend = kMidiBendCentre; // 14 bits, 0..16383
    int32_t m_bendRangeSemitones = kMidiDefaultBendRangeSemitones;
    int32_t m_bendRangeCents = 0;
    uint8_t m_rpnMsb = kMidiRpnNull; // the selected registered parameter
    uint8_t m_rpnLsb = kMidiRpnNull;
    bool m_nrpnSelected = false; // an NRPN was selected after it: data entry goes there
    uint8_t m_vowelValue = kMidiInitialVowelValue;

    // The moment being gathered.
    bool m_momentOpen = false;
    int32_t m_momentMs = 0;

    // The last point made.
    bool m_sounding = false;
    int32_t m_pointX = 0;
    int32_t m_pointY = 0;
};

} // namespace doodle
