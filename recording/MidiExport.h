#pragma once

#include "recording/OfflineRender.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace doodle {

// One tick of a MIDI file is one millisecond of played time: 500 ticks per quarter note at
// 500000 µs per quarter note (120 beats per minute).
inline constexpr int32_t kMidiTicksPerQuarter = 500;
inline constexpr int32_t kMidiMicrosecondsPerQuarter = 500'000;
// Pitch bend range, semitones either way, set in the file through RPN 0.
inline constexpr int32_t kMidiBendRangeSemitones = 24;
inline constexpr int32_t kMidiNoteVelocity = 100; // 1..127, every note alike
// The vowel goes out as this controller (CC 74, "brightness" on most synthesizers).
inline constexpr int32_t kMidiVowelController = 74;
// The last tick a file may hold: its delta times have 28 bits (about 74.5 hours).
inline constexpr int32_t kMidiMaxTick = 0x0FFF'FFFF;

// What playback does on one tick, as a MIDI file records it.
enum class PlayedKind {
    Sound,   // a sounding line: the voice sings pitchHz on the vowel of y
    Release, // a release line: the voice falls silent
    End,     // the tick that ends playback; nothing follows
};

struct PlayedPoint {
    int32_t tick = 0; // ticks (ms of played time) since the start of playback, 1 or more
    PlayedKind kind = PlayedKind::Sound;
    double pitchHz = 0.0; // Sound: the pitch the mapping chain gives the voice, Hz
    int32_t y = 0;        // Sound: 0..kMaxPointY, 0 = top row
};

// The CC 74 value for a point's Y: the top row (0) sends 127, the bottom row (kMaxPointY) 0,
// linear and rounded in between.
int32_t vowelControllerValue(int32_t y) noexcept;

// Turns played points into a Standard MIDI File: format 0, one track, channel 1. The track
// starts with the tempo and the bend range (RPN 0); notes carry the sounding pitch, the
// program's "C" (51.914 Hz) being MIDI note 32 (G#1).
// - Whole notes (the scale modes): each point sounds the nearest MIDI note, without pitch bend;
//   a change of note within a stroke ends one note and starts the next on the same tick.
// - Otherwise (Unrestricted): a stroke starts on the note nearest its pitch and follows the
//   pitch with bend; a new note starts only where the bend would leave ±kMidiBendRangeSemitones.
// A release ends the sounding note; the end of playback ends any note still on and centres the
// bend. The vowel controller and the bend are sent only when they change.
class MidiFileWriter {
public:
    explicit MidiFileWriter(bool wholeNotes);

    // Points come in order of tick, none after kMidiMaxTick; an End point completes the file
    // and nothing may follow.
    void add(const PlayedPoint& point);
    // The complete file once an End point was added.
    const std::vector<uint8_t>& bytes() const noexcept { return m_file; }

private:
    void event(int32_t tick, std::initializer_list<uint8_t> eventBytes);
    void noteOff(int32_t tick);
    void sendBend(int32_t tick, int32_t bend);
    void sound(const PlayedPoint& point);
    void finish(int32_t tick);

    bool m_wholeNotes = false;
    std::vector<uint8_t> m_file{};   // header and track; the track's length is set by finish()
    int32_t m_lastTick = 0;          // of the last event written
    std::optional<int32_t> m_note{}; // the note sounding, 0..127
    int32_t m_bend = 0;              // the bend in force, -8192..8191 (0 = centred)
    std::optional<int32_t> m_vowelValue{}; // the last CC 74 value sent
};

// Receives the points of a playback in order of tick.
using PlayedPointSink = std::function<void(const PlayedPoint& point)>;

// Plays a recording as renderRecording does, without the voice's samples: the program's Player
// on the ticks where it acts, each sounding line through its mapping chain (mapPoint), whose
// pitch goes to the sink, until the tick that ends playback. Returns Finished, Endless or
// InvalidSettings as renderRecording would.
RenderOutcome playRecording(const Recording& recording, const RenderSettings& settings,
                            const PlayedPointSink& sink);

// The MIDI file of a recording played with `settings`: whole notes in the scale modes, bend in
// Unrestricted. Nothing when the settings are invalid, or playback would not end or would end
// after kMidiMaxTick. The same recording and settings always give the same bytes.
std::optional<std::vector<uint8_t>> midiFileOf(const Recording& recording,
                                               const RenderSettings& settings);

} // namespace doodle
