#include "recording/ChoirVoicing.h"

#include "mapping/MidiMap.h"
#include "mapping/PartVowels.h"

#include <cmath>
#include <span>

namespace doodle {
namespace {

double baseHzOf(Tuning tuning) noexcept {
    return tuning == Tuning::Concert ? kConcertNoteBase : noteBase;
}

std::span<const int32_t> scalePitchClasses(const MapControls& controls) noexcept {
    if (controls.scaleMode == ScaleMode::Pentatonic) {
        return controls.scale.scaleNotes5;
    }
    return controls.scale.scaleNotes7;
}

// A part below the lowest a choir sings is silent.
double audible(double pitchHz) noexcept {
    return pitchHz >= kLowestChoirPartHz ? pitchHz : 0.0;
}

} // namespace

void ChoirVoicing::reset() noexcept {
    m_voicer.reset();
    m_leadSemitone.reset();
}

ChoirSettings ChoirVoicing::point(int32_t x, int32_t y, double leadPitchHz,
                                  const MapControls& controls) noexcept {
    static_cast<void>(x);
    ChoirSettings settings;
    if (m_mode != ChorusMode::Harmony) {
        return settings;
    }
    for (std::size_t part = 0; part < kChoirParts; ++part) {
        settings.parts[part].formants =
            mapPartVowel(static_cast<ChoirPart>(part), y, controls.voiceType);
    }
    settings.parts[0].pitchHz = leadPitchHz;
    if (controls.scaleMode == ScaleMode::Unrestricted) {
        m_leadSemitone.reset();
        for (std::size_t part = 1; part < kChoirParts; ++part) {
            settings.parts[part].pitchHz = audible(leadPitchHz * kUnrestrictedPartRatios[part]);
        }
        return settings;
    }
    // The voice's note as whole semitones above the tuning's C: its pitch is exactly that C
    // times a semitone ratio and a power of two.
    const double baseHz = baseHzOf(controls.tuning);
    const auto leadSemitone =
        static_cast<int32_t>(std::lround(kSemitonesPerOctave * std::log2(leadPitchHz / baseHz)));
    if (leadSemitone != m_leadSemitone) {
        m_leadSemitone = leadSemitone;
        const auto baseMidiNote = static_cast<int32_t>(std::lround(midiNoteOfPitch(baseHz)));
        m_notes = m_voicer.next(leadSemitone, scalePitchClasses(controls), controls.rootIndex,
                                baseMidiNote);
    }
    for (std::size_t part = 1; part < kChoirParts; ++part) {
        // Equal temperament from the same C as the voice's notes.
        const int32_t semitone = m_notes[part];
        const auto octave =
            static_cast<int32_t>(std::floor(static_cast<double>(semitone) / kSemitonesPerOctave));
        const int32_t pitchClass = semitone - octave * kSemitonesPerOctave;
        settings.parts[part].pitchHz = audible(
            std::ldexp(baseHz * kSemitoneRatios[static_cast<std::size_t>(pitchClass)], octave));
    }
    return settings;
}

} // namespace doodle
