#include "mapping/PitchMap.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstddef>

namespace doodle {
namespace {

constexpr double kUnrestrictedOffsetPx = 10.0; // X = 0 sounds at 25 Hz, not at 0 Hz
constexpr double kUnrestrictedHzPerPx = 2.5;

// The octave of a point is taken from X / 72, not from the 70 px strip octave: rounding for
// the first degree of a scale and truncating for the others makes the two agree over
// X = 0..240, and the pitches must be exactly these.
constexpr double kOctaveRulePx = 72.0;

template <std::size_t kNotes, std::size_t kSteps>
void fillScale(std::array<int32_t, kNotes>& notes, int32_t rootIndex,
               const std::array<int32_t, kSteps>& steps) noexcept {
    static_assert(kSteps + 1 == kNotes, "one step between each pair of neighbouring notes");
    int32_t semitone = rootIndex;
    notes[0] = semitone;
    for (std::size_t i = 0; i < kSteps; ++i) {
        semitone += steps[i];
        if (semitone >= kSemitonesPerOctave) {
            semitone -= kSemitonesPerOctave;
        }
        notes[i + 1] = semitone;
    }
    std::sort(notes.begin(), notes.end());
}

template <std::size_t kNotes>
PitchResult mapToStrip(int32_t x, int32_t stripPx, const std::array<int32_t, kNotes>& notes,
                       Tuning tuning) noexcept {
    const int32_t scaleStep = x / stripPx;
    const auto scaleDegree =
        static_cast<int32_t>(std::fmod(scaleStep, static_cast<double>(kNotes)));
    const int32_t noteIndex = notes[static_cast<std::size_t>(scaleDegree)];

    const double baseHz = tuning == Tuning::Concert ? kConcertNoteBase : noteBase;
    const double pitchHz = baseHz * kSemitoneRatios[static_cast<std::size_t>(noteIndex)];
    const double octave =
        scaleDegree == 0 ? std::round(x / kOctaveRulePx) : std::trunc(x / kOctaveRulePx);
    return {std::ldexp(pitchHz, static_cast<int>(octave)), noteIndex}; // exact: × 2^octave
}

} // namespace

Scale buildScale(ScaleMode mode, int32_t rootIndex, const Scale& previous) noexcept {
    assert(rootIndex >= 0 && rootIndex < kSemitonesPerOctave);
    Scale scale = previous;
    switch (mode) {
    case ScaleMode::Major:
        fillScale(scale.scaleNotes7, rootIndex, majorSteps);
        break;
    case ScaleMode::Minor:
        fillScale(scale.scaleNotes7, rootIndex, minorSteps);
        break;
    case ScaleMode::Pentatonic:
        fillScale(scale.scaleNotes5, rootIndex, pentatonicSteps);
        break;
    case ScaleMode::Unrestricted:
        // Only reachable when the root list changes while Help drops the option's event: the
        // root goes in as the seven-note table's first entry and the table is sorted again.
        scale.scaleNotes7[0] = rootIndex;
        std::sort(scale.scaleNotes7.begin(), scale.scaleNotes7.end());
        break;
    }
    return scale;
}

PitchResult mapPitch(int32_t x, ScaleMode mode, const Scale& scale, Tuning tuning) noexcept {
    assert(x >= 0 && x <= kMaxPointX);
    switch (mode) {
    case ScaleMode::Major:
    case ScaleMode::Minor:
        return mapToStrip(x, kHeptatonicStripPx, scale.scaleNotes7, tuning);
    case ScaleMode::Pentatonic:
        return mapToStrip(x, kPentatonicStripPx, scale.scaleNotes5, tuning);
    case ScaleMode::Unrestricted:
        break;
    }
    return {(x + kUnrestrictedOffsetPx) * kUnrestrictedHzPerPx, std::nullopt};
}

} // namespace doodle
