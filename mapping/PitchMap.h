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

// What the scale modes' semitones sound at. Classic: semitone 0 ("C") is noteBase, which lies
// near a concert A-flat, so every scale sounds a major third below its name. Concert: equal
// temperament on A4 = 440 Hz, so every note sounds as it is named. Unrestricted has no notes
// and sounds the same under both.
enum class Tuning { Classic, Concert };

// Hz of semitone 0 ("C") in the lowest strip octave under Classic. Exact as given; not a
// concert-pitch C.
inline constexpr double noteBase = 51.914;

// Hz of semitone 0 under Concert: C2 = 440 * 2^(-33/12) = 55 * 2^(1/4) Hz
// (65.40639132514966...), correctly rounded; the nearest C above noteBase, 4 semitones up.
// Written out so that every machine and the page's libm get the same double.
inline constexpr double kConcertNoteBase = 0x1.05a0250c2b956p+6;

// The equal-tempered ratios 2^(n / 12.0) for n = 0..11, correctly rounded. pow() gives these
// where it rounds correctly (glibc on a CPU with FMA); glibc without FMA and the page's libm
// (musl) give 2^(11/12) one step higher, which makes a held B drift apart in phase. Written
// out, they are the same on every machine and in the page.
inline constexpr std::array<double, kSemitonesPerOctave> kSemitoneRatios{
    0x1p+0,
    0x1.0f38f92d97963p+0,
    0x1.1f59ac3c7d6c0p+0,
    0x1.306fe0a31b715p+0,
    0x1.428a2f98d728bp+0,
    0x1.55b8108f0ec5ep+0,
    0x1.6a09e667f3bcdp+0,
    0x1.7f910d768cfb0p+0,
    0x1.965fea53d6e3cp+0,
    0x1.ae89f995ad3adp+0,
    0x1.c823e074ec129p+0,
    0x1.e3437e7101343p+0,
};

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
// Scale modes: the note of x's strip, in the strip octave of x, from the tuning's semitone 0
// upwards (51.914 Hz under Classic, 65.406 Hz under Concert).
PitchResult mapPitch(int32_t x, ScaleMode mode, const Scale& scale, Tuning tuning) noexcept;

} // namespace doodle
