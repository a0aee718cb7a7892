#include "mapping/Harmony.h"

#include "mapping/PitchMap.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <limits>

namespace doodle {
namespace {

constexpr std::size_t kS = partIndex(ChoirPart::Soprano);
constexpr std::size_t kA = partIndex(ChoirPart::Alto);
constexpr std::size_t kT = partIndex(ChoirPart::Tenor);
constexpr std::size_t kB = partIndex(ChoirPart::Bass);

// Interval classes (semitones mod 12) that may not follow themselves between two moving parts.
constexpr int32_t kPerfectFifthClass = 7;
constexpr int32_t kOctaveClass = 0;

// A set of pitch classes: bit n for pitch class n (0..11).
using PitchClassMask = uint32_t;
constexpr PitchClassMask kAllPitchClasses = (PitchClassMask{1} << kSemitonesPerOctave) - 1;

// Scale degrees between the notes of a triad: every other scale note.
constexpr std::size_t kTriadStepDegrees = 2;
// Semitones from the scale's root to the roots of the primary triads I, IV and V.
constexpr std::array<int32_t, 3> kPrimaryRootOffsets{0, 5, 7};

// The costs of a voicing, in the unit of one semitone of movement of one part. A part leaving a
// tone the new chord shares costs more than its semitones, so that common tones are held when
// another voicing moves as far. A missing root or third changes the chord heard, a missing
// fifth hardly does; a doubled third stands out most, a doubled fifth less. The bass off the
// root is worth a few semitones of movement, so a chord is inverted only to save a leap.
constexpr int32_t kLeftCommonToneCost = 2;
constexpr int32_t kMissingRootCost = 8;
constexpr int32_t kMissingThirdCost = 8;
constexpr int32_t kMissingFifthCost = 3;
constexpr int32_t kDoubledThirdCost = 3;
constexpr int32_t kDoubledFifthCost = 2;
constexpr int32_t kInversionCost = 4;
// A triad without a perfect fifth over its root (the diminished triad on the leading note) is
// unstable: it is taken only where it saves this much.
constexpr int32_t kImperfectFifthCost = 4;
// For each semitone by which the soprano and alto, or the alto and tenor, lie more than an
// octave apart.
constexpr int32_t kWideSpacingCostPerSemitone = 1;
constexpr int32_t kWidestUpperSpacing = kSemitonesPerOctave;
// The first chord has no previous notes to move from: the distance of each lower part from the
// middle of its range stands in for its movement, and an open or inverted chord costs more than
// any such distance, so that the first chord is close and in root position wherever it can be.
constexpr int32_t kFirstChordInversionCost = 32;
constexpr int32_t kFirstChordOpenCost = 32;

constexpr int32_t pitchClassOf(int32_t semitone) noexcept {
    const int32_t rest = semitone % kSemitonesPerOctave;
    return rest < 0 ? rest + kSemitonesPerOctave : rest;
}

constexpr PitchClassMask maskOf(int32_t pitchClass) noexcept {
    return PitchClassMask{1} << pitchClassOf(pitchClass);
}

constexpr int32_t floorDiv(int32_t numerator, int32_t denominator) noexcept {
    const int32_t quotient = numerator / denominator;
    const bool inexact = quotient * denominator != numerator;
    return inexact && ((numerator < 0) != (denominator < 0)) ? quotient - 1 : quotient;
}

struct Triad {
    int32_t root = 0; // pitch classes
    int32_t third = 0;
    int32_t fifth = 0;
    PitchClassMask mask = 0;
};

// A part's range after the shift, in program semitones, both ends included.
struct SemitoneRange {
    int32_t low = 0;
    int32_t high = 0;
};

// What every voicing of one call is measured against.
struct Frame {
    int32_t lead = 0;
    std::array<SemitoneRange, kChoirParts> ranges{};
    const ChoirNotes* previous = nullptr; // none for a first chord
};

struct Best {
    ChoirNotes notes{};
    int32_t cost = std::numeric_limits<int32_t>::max();
    bool found = false;
};

// Whether the two parts `upper` and `lower` move in parallel (or consecutive) perfect fifths or
// octaves from `previous` to `notes`.
bool parallelPerfect(const ChoirNotes& previous, const ChoirNotes& notes, std::size_t upper,
                     std::size_t lower) noexcept {
    if (previous[upper] == notes[upper] || previous[lower] == notes[lower]) {
        return false;
    }
    const int32_t before = pitchClassOf(previous[upper] - previous[lower]);
    if (before != kPerfectFifthClass && before != kOctaveClass) {
        return false;
    }
    return pitchClassOf(notes[upper] - notes[lower]) == before;
}

// The cost every search shares: the lower parts' movement (or, for a first chord, their
// distance from the middle of their ranges, rounded down, and an open position) and wide
// spacing of the upper parts.
int32_t motionCost(const ChoirNotes& notes, const Frame& frame) noexcept {
    int32_t cost = 0;
    for (const std::size_t part : {kA, kT, kB}) {
        if (frame.previous) {
            cost += std::abs(notes[part] - (*frame.previous)[part]);
        } else {
            const SemitoneRange& range = frame.ranges[part];
            cost += std::abs(notes[part] - (range.low + range.high) / 2);
        }
    }
    if (!frame.previous && notes[kS] - notes[kT] > kWidestUpperSpacing) {
        cost += kFirstChordOpenCost;
    }
    const int32_t wideSopranoAlto = std::max(0, notes[kS] - notes[kA] - kWidestUpperSpacing);
    const int32_t wideAltoTenor = std::max(0, notes[kA] - notes[kT] - kWidestUpperSpacing);
    return cost + kWideSpacingCostPerSemitone * (wideSopranoAlto + wideAltoTenor);
}

int32_t chordCost(const ChoirNotes& notes, const Triad& triad, const Frame& frame) noexcept {
    int32_t cost = motionCost(notes, frame);
    if (frame.previous) {
        for (const std::size_t part : {kA, kT, kB}) {
            const int32_t before = (*frame.previous)[part];
            if ((triad.mask & maskOf(before)) != 0 && notes[part] != before) {
                cost += kLeftCommonToneCost;
            }
        }
    }
    if (pitchClassOf(triad.fifth - triad.root) != kPerfectFifthClass) {
        cost += kImperfectFifthCost;
    }
    int32_t roots = 0;
    int32_t thirds = 0;
    int32_t fifths = 0;
    for (const int32_t note : notes) {
        const int32_t pitchClass = pitchClassOf(note);
        roots += pitchClass == triad.root ? 1 : 0;
        thirds += pitchClass == triad.third ? 1 : 0;
        fifths += pitchClass == triad.fifth ? 1 : 0;
    }
    cost += roots == 0 ? kMissingRootCost : 0;
    cost += thirds == 0 ? kMissingThirdCost : 0;
    cost += fifths == 0 ? kMissingFifthCost : 0;
    cost += thirds > 1 ? kDoubledThirdCost : 0;
    cost += fifths > 1 ? kDoubledFifthCost : 0;
    if (pitchClassOf(notes[kB]) != triad.root) {
        cost += frame.previous ? kInversionCost : kFirstChordInversionCost;
    }
    return cost;
}

// Tries every alto, tenor and bass note in its range whose pitch class is in `allowed`, below
// the part above it, that moves in no parallel perfect interval with a part above; keeps the
// first voicing of least cost in `best`. From the top down, so that of equal voicings the
// higher ones win.
template <typename CostOf>
void searchVoicings(const Frame& frame, PitchClassMask allowed, CostOf&& costOf,
                    Best& best) noexcept {
    const auto allowedNote = [allowed](int32_t note) { return (allowed & maskOf(note)) != 0; };
    const auto moveFits = [&frame](const ChoirNotes& notes, std::size_t part) {
        if (!frame.previous) {
            return true;
        }
        for (std::size_t upper = 0; upper < part; ++upper) {
            if (parallelPerfect(*frame.previous, notes, upper, part)) {
                return false;
            }
        }
        return true;
    };
    ChoirNotes notes{};
    notes[kS] = frame.lead;
    for (notes[kA] = std::min(frame.ranges[kA].high, frame.lead - 1);
         notes[kA] >= frame.ranges[kA].low; --notes[kA]) {
        if (!allowedNote(notes[kA]) || !moveFits(notes, kA)) {
            continue;
        }
        for (notes[kT] = std::min(frame.ranges[kT].high, notes[kA] - 1);
             notes[kT] >= frame.ranges[kT].low; --notes[kT]) {
            if (!allowedNote(notes[kT]) || !moveFits(notes, kT)) {
                continue;
            }
            for (notes[kB] = std::min(frame.ranges[kB].high, notes[kT] - 1);
                 notes[kB] >= frame.ranges[kB].low; --notes[kB]) {
                if (!allowedNote(notes[kB]) || !moveFits(notes, kB)) {
                    continue;
                }
                const int32_t cost = costOf(notes);
                if (cost < best.cost) {
                    best = {notes, cost, true};
                }
            }
        }
    }
}

} // namespace

void HarmonyVoicer::reset() noexcept {
    m_hasPrevious = false;
}

ChoirNotes HarmonyVoicer::next(int32_t leadSemitone, std::span<const int32_t> scalePitchClasses,
                               int32_t rootPitchClass, int32_t baseMidiNote) noexcept {
    assert(scalePitchClasses.size() <= kMaxScaleNotes);
    const std::size_t scaleSize = std::min(scalePitchClasses.size(), kMaxScaleNotes);
    const std::span<const int32_t> scale = scalePitchClasses.first(scaleSize);
    if (m_hasPrevious && leadSemitone == m_leadSemitone && rootPitchClass == m_rootPitchClass &&
        baseMidiNote == m_baseMidiNote &&
        std::equal(scale.begin(), scale.end(), m_scale.begin(), m_scale.begin() + m_scaleSize)) {
        return m_notes;
    }

    // The shifts (whole octaves) that put the lead in the soprano's range: at least one, as
    // the range is wider than an octave.
    const int32_t leadMidiNote = baseMidiNote + leadSemitone;
    const int32_t lowestShift =
        -floorDiv(kSopranoRange.highMidiNote - leadMidiNote, kSemitonesPerOctave);
    const int32_t highestShift =
        floorDiv(leadMidiNote - kSopranoRange.lowMidiNote, kSemitonesPerOctave);
    // The choir's own register whenever the lead lies in it; beyond it, the previous shift
    // while it still fits, so that a line hovering there does not make the parts leap.
    const bool unshifted = lowestShift <= 0 && highestShift >= 0;
    const bool keepShift = !unshifted && m_hasPrevious && m_shiftOctaves >= lowestShift &&
                           m_shiftOctaves <= highestShift;
    const int32_t shiftOctaves =
        keepShift ? m_shiftOctaves : std::clamp(0, lowestShift, highestShift);

    Frame frame;
    frame.lead = leadSemitone;
    frame.previous = m_hasPrevious ? &m_notes : nullptr;
    for (std::size_t part = 0; part < kChoirParts; ++part) {
        const int32_t shift = shiftOctaves * kSemitonesPerOctave - baseMidiNote;
        frame.ranges[part] = {kChoirRanges[part].lowMidiNote + shift,
                              kChoirRanges[part].highMidiNote + shift};
    }

    // The triads that hold the lead's pitch class, primary ones first so that they win ties.
    PitchClassMask scaleMask = 0;
    for (const int32_t pitchClass : scale) {
        scaleMask |= maskOf(pitchClass);
    }
    std::array<Triad, kMaxScaleNotes> triads{};
    std::size_t triadCount = 0;
    if (scaleSize > 2 * kTriadStepDegrees) {
        for (const bool primary : {true, false}) {
            for (std::size_t degree = 0; degree < scaleSize; ++degree) {
                Triad triad;
                triad.root = pitchClassOf(scale[degree]);
                triad.third = pitchClassOf(scale[(degree + kTriadStepDegrees) % scaleSize]);
                triad.fifth = pitchClassOf(scale[(degree + 2 * kTriadStepDegrees) % scaleSize]);
                triad.mask = maskOf(triad.root) | maskOf(triad.third) | maskOf(triad.fifth);
                const bool isPrimary =
                    std::find(kPrimaryRootOffsets.begin(), kPrimaryRootOffsets.end(),
                              pitchClassOf(triad.root - rootPitchClass)) !=
                    kPrimaryRootOffsets.end();
                if (isPrimary == primary && (triad.mask & maskOf(leadSemitone)) != 0) {
                    triads[triadCount++] = triad;
                }
            }
        }
    }

    Best best;
    for (std::size_t i = 0; i < triadCount; ++i) {
        const Triad& triad = triads[i];
        searchVoicings(
            frame, triad.mask,
            [&triad, &frame](const ChoirNotes& notes) { return chordCost(notes, triad, frame); },
            best);
    }
    const auto motionOnly = [&frame](const ChoirNotes& notes) { return motionCost(notes, frame); };
    if (!best.found) {
        searchVoicings(frame, scaleMask, motionOnly, best);
    }
    // Always found: the alto's range starts 7 semitones below the soprano's, the tenor's 5 below
    // the alto's and the bass's 8 below the tenor's, and the parallels rule shuts out at most one
    // pitch class per part above. Of the alto's lowest 7 notes it leaves one of the lowest two,
    // under which the tenor has 5 or more notes less at most 2, and the bass under the lowest
    // tenor note left 8 or more less at most 3.
    if (!best.found) {
        searchVoicings(frame, kAllPitchClasses, motionOnly, best);
    }
    assert(best.found);

    m_hasPrevious = true;
    m_notes = best.notes;
    m_shiftOctaves = shiftOctaves;
    m_leadSemitone = leadSemitone;
    m_rootPitchClass = rootPitchClass;
    m_baseMidiNote = baseMidiNote;
    std::copy(scale.begin(), scale.end(), m_scale.begin());
    m_scaleSize = scaleSize;
    return m_notes;
}

} // namespace doodle
