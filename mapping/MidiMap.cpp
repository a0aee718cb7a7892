#include "mapping/MidiMap.h"

#include "mapping/VowelMap.h"

#include <algorithm>
#include <cmath>

namespace doodle {
namespace {

// Unrestricted: pitch = (X + kUnrestrictedOffsetPx) * kUnrestrictedHzPerPx (see mapPitch).
constexpr double kUnrestrictedOffsetPx = 10.0;
constexpr double kUnrestrictedHzPerPx = 2.5;

// Two strips whose distances from a note differ by less than this, in semitones (one cent),
// are equally near: the lower one is taken, so that a note halfway between two scale notes
// always goes the same way despite the rounding of the strips' pitches.
constexpr double kTieSemitones = 0.01;

double semitonesFromX(double midiNote, int32_t x, ScaleMode mode, const Scale& scale,
                      Tuning tuning) noexcept {
    return std::fabs(midiNoteOfPitch(mapPitch(x, mode, scale, tuning).pitchHz) - midiNote);
}

int32_t unrestrictedX(double midiNote) noexcept {
    const double exactX = std::pow(2.0, (midiNote - kMidiA4Note) / kSemitonesPerOctave) *
                              kMidiA4Hz / kUnrestrictedHzPerPx -
                          kUnrestrictedOffsetPx;
    const double below = std::clamp(std::floor(exactX), 0.0, static_cast<double>(kMaxPointX));
    const auto lowerX = static_cast<int32_t>(below);
    const int32_t upperX = std::min(lowerX + 1, kMaxPointX);
    // Unrestricted sounds the same under every tuning.
    const ScaleMode mode = ScaleMode::Unrestricted;
    const Tuning tuning = Tuning::Classic;
    return semitonesFromX(midiNote, upperX, mode, {}, tuning) <
                   semitonesFromX(midiNote, lowerX, mode, {}, tuning)
               ? upperX
               : lowerX;
}

// Strips of stripPx pixels from X = 0; the last one is cut short by the edge of the area.
int32_t stripX(double midiNote, int32_t stripPx, ScaleMode mode, const Scale& scale,
               Tuning tuning) noexcept {
    int32_t bestStart = 0;
    double bestSemitones = semitonesFromX(midiNote, 0, mode, scale, tuning);
    // Strip pitches rise from strip to strip, so the first of two equally near ones is lower.
    for (int32_t start = stripPx; start <= kMaxPointX; start += stripPx) {
        const double semitones = semitonesFromX(midiNote, start, mode, scale, tuning);
        if (semitones < bestSemitones - kTieSemitones) {
            bestStart = start;
            bestSemitones = semitones;
        }
    }
    const double stripNote = midiNoteOfPitch(mapPitch(bestStart, mode, scale, tuning).pitchHz);
    const int32_t lastStart = kMaxPointX / stripPx * stripPx;
    if (bestStart == 0 && midiNote < stripNote) {
        return 0;
    }
    if (bestStart == lastStart && midiNote > stripNote) {
        return kMaxPointX;
    }
    const int32_t end = std::min(bestStart + stripPx - 1, kMaxPointX);
    return (bestStart + end) / 2;
}

} // namespace

double midiNoteOfPitch(double pitchHz) noexcept {
    return kMidiA4Note + kSemitonesPerOctave * std::log2(pitchHz / kMidiA4Hz);
}

int32_t xForPitch(double midiNote, ScaleMode mode, const Scale& scale, Tuning tuning) noexcept {
    if (std::isnan(midiNote)) {
        return 0;
    }
    if (std::isinf(midiNote)) {
        return midiNote > 0.0 ? kMaxPointX : 0;
    }
    switch (mode) {
    case ScaleMode::Major:
    case ScaleMode::Minor:
        return stripX(midiNote, kHeptatonicStripPx, mode, scale, tuning);
    case ScaleMode::Pentatonic:
        return stripX(midiNote, kPentatonicStripPx, mode, scale, tuning);
    case ScaleMode::Unrestricted:
        break;
    }
    return unrestrictedX(midiNote);
}

int32_t vowelControllerValue(int32_t y) noexcept {
    const int32_t clampedY = std::clamp(y, 0, kMaxPointY);
    return ((kMaxPointY - clampedY) * kMidiMaxDataValue + kMaxPointY / 2) / kMaxPointY;
}

int32_t yForController(int32_t value) noexcept {
    // The middle of the rows sharing a value lies value * kMaxPointY / 127 rows above the
    // bottom; rounded, the row's own value rounds back to `value` (127 / 200 < 1 per row).
    const int32_t clampedValue = std::clamp(value, 0, kMidiMaxDataValue);
    return kMaxPointY - (clampedValue * kMaxPointY + kMidiMaxDataValue / 2) / kMidiMaxDataValue;
}

} // namespace doodle
