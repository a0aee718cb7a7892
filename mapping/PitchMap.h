#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace doodle {

// The four scale option buttons; exactly one is selected, Unrestricted at start-up.
enum class ScaleMode { Unrestricted, Major, Minor, Pentatonic };

inline constexpr int32_t kSemitonesPerOctave = 12;

// Index = semitone counted from C. The root-note list shows the same names in the same order.
inline constexpr std::array<std::string_view, kSemitonesPerOctave> noteNames{
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

// Semitones from one scale note to the next, starting at the root.
inline constexpr std::array<int32_t, 6> majorSteps{2, 2, 1, 2, 2, 2};
inline constexpr std::array<int32_t, 6> minorSteps{2, 1, 2, 2, 1, 2};
inline constexpr std::array<int32_t, 4> pentatonicSteps{2, 2, 3, 2};

// Hz of semitone 0 ("C") in the lowest strip octave. Exact as given; not a concert-pitch C.
inline constexpr double noteBase = 51.914;

// Points reach the maps clamped to X in 0..kMaxPointX (inclusive: 241 columns).
inline constexpr int32_t kMaxPointX = 240;

// Note strips along X, also drawn by the grid: one strip per scale note, so a strip octave
// spans 70 px in every scale mode.
inline constexpr int32_t kHeptatonicStripPx = 10; // Major, Minor: 7 strips per octave
inline constexpr int32_t kPentatonicStripPx = 14; // Pentatonic: 5 strips per octave

// The note tables of the scale modes, as semitone indices 0..11 in ascending order (so the
// strip at X = 0 holds the scale's lowest semitone from C, not its root). All 0 until built.
struct Scale {
    std::array<int32_t, 7> scaleNotes7{}; // Major or Minor, whichever was built last
    std::array<int32_t, 5> scaleNotes5{}; // Pentatonic
};

// Rebuilds the table of `mode` on the root `rootIndex` (0..11, index into noteNames) and keeps
// the other table from `previous`. Unrestricted has no table and returns `previous` unchanged.
Scale buildScale(ScaleMode mode, int32_t rootIndex, const Scale& previous) noexcept;

struct PitchResult {
    double pitchHz = 0.0;
    // Semitone index (into noteNames) for the note label in the scale modes; empty in
    // Unrestricted, where the label is left as it is.
    std::optional<int32_t> noteIndex;
};

// Pitch for the X of a point. x must lie in 0..kMaxPointX: callers clamp (a negative X would
// index before the start of a scale table). Unrestricted: (x + 10) * 2.5 Hz, 25..625 Hz.
// Scale modes: the note of x's strip, in the strip octave of x, from 51.914 Hz upwards.
PitchResult mapPitch(int32_t x, ScaleMode mode, const Scale& scale) noexcept;

} // namespace doodle
