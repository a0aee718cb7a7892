#pragma once

#include "mapping/PitchMap.h"

#include <cstdint>

namespace doodle {

// The maps between the drawing area and MIDI, both ways: X and a pitch given as a fractional
// MIDI note, Y and the vowel controller's value. The MIDI export writes through them, and
// MIDI input (files, live keyboards) reads through their inverses, so that a point sent out
// and read back lands where it came from. No state, no allocation: safe in an audio callback.

// Equal temperament on A4 = 440 Hz, MIDI note 69. The Classic tuning's "C" (noteBase,
// 51.914 Hz) is MIDI note 32 (G#1), 0.03 cents sharp; the Concert tuning's is MIDI note 36 (C2).
inline constexpr double kMidiA4Hz = 440.0;
inline constexpr double kMidiA4Note = 69.0;
// The largest value of a 7-bit MIDI data byte: a note, a controller value.
inline constexpr int32_t kMidiMaxDataValue = 127;

// The fractional MIDI note of a frequency in Hz, unbounded (-inf for 0 Hz).
double midiNoteOfPitch(double pitchHz) noexcept;

// The X (0..kMaxPointX) whose mapped pitch (mapPitch with the same mode, scale and tuning) is the
// fractional MIDI note `midiNote`, a note number plus its bend in semitones.
// - Scale modes: the middle of the strip of the scale note nearest `midiNote` in semitones;
//   when two are nearest within a cent, the lower one. A note beyond the lowest or highest
//   strip's pitch gives X = 0 or kMaxPointX, as a drag past the edge does.
// - Unrestricted: the X whose pitch is nearest in cents, 0 below 25 Hz and kMaxPointX above
//   625 Hz. X moves the pitch in 2.5 Hz steps, so within 25..625 Hz the error is at most half
//   the step between the two columns around the pitch: 600 * log2((X0 + 11) / (X0 + 10))
//   cents for the column X0 just below it, that is 82.5 cents at 25 Hz, 21.4 at 100 Hz, 7.8
//   at 275 Hz and 3.5 at the top. Pitches that some X maps to come back to that X exactly.
// A NaN note gives 0, an infinite one the edge on its side.
int32_t xForPitch(double midiNote, ScaleMode mode, const Scale& scale, Tuning tuning) noexcept;

// The vowel controller's value (CC 74, 0..127) for a point's Y: the top row (0) gives 127,
// the bottom row (kMaxPointY) 0, linear and rounded in between. Y is clamped to the area.
int32_t vowelControllerValue(int32_t y) noexcept;

// The Y (0..kMaxPointY) whose vowelControllerValue is `value`: where several rows share the
// value, the one nearest their middle. Values outside 0..127 are clamped first.
int32_t yForController(int32_t value) noexcept;

} // namespace doodle
