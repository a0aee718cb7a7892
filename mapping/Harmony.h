#pragma once

#include "mapping/ChoirPart.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace doodle {

// One note per part, indexed by partIndex(): program semitones, 0 being the program's C of the
// lowest strip octave (MIDI note baseMidiNote + semitone). Parts below a low lead may lie under 0.
using ChoirNotes = std::array<int32_t, kChoirParts>;

// The notes a part may sing, as MIDI note numbers, both ends included.
struct ChoirRange {
    int32_t lowMidiNote = 0;
    int32_t highMidiNote = 0;
};

// The comfortable ranges of an amateur four-part choir as choral writing and arranging texts give
// them: each part about an octave and a half, neighbouring parts a fourth or fifth apart, soprano
// and tenor an octave apart, so that the four can sing close chords anywhere in the soprano's
// range. Before they are shifted with the lead (see HarmonyVoicer).
inline constexpr ChoirRange kSopranoRange{60, 79}; // C4..G5
inline constexpr ChoirRange kAltoRange{53, 74};    // F3..D5
inline constexpr ChoirRange kTenorRange{48, 67};   // C3..G4
inline constexpr ChoirRange kBassRange{40, 60};    // E2..C4
inline constexpr std::array<ChoirRange, kChoirParts> kChoirRanges{kSopranoRange, kAltoRange,
                                                                  kTenorRange, kBassRange};

// Unrestricted (no scale): each part's frequency as a fraction of the lead's, indexed by
// partIndex(). The alto and the tenor make a just major triad 4:5:6 under the lead, the bass
// sings an octave below the tenor. Fixed ratios, so the parts glide with the lead.
inline constexpr std::array<double, kChoirParts> kUnrestrictedPartRatios{1.0, 5.0 / 6.0, 4.0 / 6.0,
                                                                         2.0 / 6.0};

// Four-part harmony for a lead in a scale mode, one chord per lead note.
//
// Every answer keeps these rules:
// - the soprano is the lead; the other parts sing notes of a triad built on a scale degree (the
//   degrees d, d + 2, d + 4 of the scale, modulo its size) that holds the lead's pitch class;
// - every part lies in its kChoirRanges range, all four shifted by the same whole octaves so
//   that the lead lies in the soprano's. Where two shifts fit, the previous one stays if it
//   fits, else the one nearest no shift is taken;
// - soprano > alto > tenor > bass: no crossing, no shared note;
// - no parallel or consecutive perfect fifths or octaves: two parts a fifth (interval mod 12 ==
//   7) or an octave or unison (mod 12 == 0) apart that both change note are not that interval
//   class apart again.
// Among those it takes the chord and voicing of least cost: small moves of the lower parts,
// common tones held, root, third and fifth all sung (the root doubled), the root in the bass,
// neighbouring upper parts within an octave, triads with a perfect fifth (not the diminished
// one); primary triads (I, IV, V) win ties. The first chord after reset() is a close
// root-position chord near the middle of the ranges.
//
// When no triad fits (rare: the parallels rule would have to shut out every voicing of all three
// chords; also a lead outside the scale, or a scale of fewer than 5 notes), the lower parts take
// the notes of the scale that move least and keep the range, crossing and parallels rules, and
// failing that (no scale) any semitones that keep them, which always exist. Only the chord and
// scale rules give way.
//
// Fixed size: no allocation, no lock, no I/O; deterministic. A call tries at most three chords
// of a few notes per part, so its cost is bounded (a few microseconds, see bench/).
class HarmonyVoicer {
public:
    HarmonyVoicer() = default;

    // Forgets the previous chord: the next one is chosen as a first chord.
    void reset() noexcept;

    // The four parts' notes for the lead's note `leadSemitone` (program semitones, >= 0).
    // Called when the lead's note changes; called again with the same arguments, it returns the
    // same notes. `scalePitchClasses`: the scale's pitch classes 0..11 relative to the program's
    // C, ascending, 7 (Major, Minor) or 5 (Pentatonic) of them; `rootPitchClass` (0..11) is its
    // root, which names the primary triads. `baseMidiNote` is the MIDI note of semitone 0.
    ChoirNotes next(int32_t leadSemitone, std::span<const int32_t> scalePitchClasses,
                    int32_t rootPitchClass, int32_t baseMidiNote) noexcept;

private:
    static constexpr std::size_t kMaxScaleNotes = 12;

    bool m_hasPrevious = false;
    ChoirNotes m_notes{};       // the last answer, program semitones
    int32_t m_shiftOctaves = 0; // the ranges' shift of the last answer
    int32_t m_leadSemitone = 0; // the arguments of the last answer
    int32_t m_rootPitchClass = 0;
    int32_t m_baseMidiNote = 0;
    std::array<int32_t, kMaxScaleNotes> m_scale{};
    std::size_t m_scaleSize = 0;
};

} // namespace doodle
