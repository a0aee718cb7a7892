#pragma once

#include "mapping/Harmony.h"
#include "mapping/MapPoint.h"
#include "voice/Choir.h"

#include <cstdint>
#include <optional>

namespace doodle {

// The lowest note a choir part sings (E1, about 41 Hz): the ranges follow a low line down by
// octaves, and a part that would sing below this stays silent rather than rumble.
inline constexpr double kLowestChoirPartHz = 41.2;

// What the other parts of a choir sing for each point the voice sings, as the maps place them.
// - Harmony in a scale mode: the voice leading's notes (HarmonyVoicer), chosen again only when
//   the voice's note changes, under the controls' scale, root and tuning.
// - Harmony in Unrestricted: the parts follow the voice at kUnrestrictedPartRatios.
// - Every part sings the drawn Y's vowel from its own table (mapPartVowel).
// Unison and Solo ask nothing of the parts. Fixed size, no allocation: live drawing, playback, an
// audio callback and an offline render all run the same steps.
class ChoirVoicing {
public:
    explicit ChoirVoicing(ChorusMode mode = ChorusMode::Solo) noexcept : m_mode(mode) {}

    ChorusMode mode() const noexcept { return m_mode; }
    // A playback or a render begins: the voice leading starts afresh.
    void reset() noexcept;
    // The parts for a point (x, y in the area) whose mapped pitch is leadPitchHz. The soprano's
    // pitch is the voice's own.
    ChoirSettings point(int32_t x, int32_t y, double leadPitchHz,
                        const MapControls& controls) noexcept;

private:
    ChorusMode m_mode = ChorusMode::Solo;
    HarmonyVoicer m_voicer{};
    std::optional<int32_t> m_leadSemitone{}; // the voice's note at the last point, scale modes
    ChoirNotes m_notes{};                    // the parts' notes for it
};

// A choir's parts beside the voice a Player sings: the voicing, the record the renderer reads,
// and what the last point asked of the parts.
struct ChoirParts {
    explicit ChoirParts(ChorusMode mode) noexcept : voicing(mode) {}

    ChoirVoicing voicing;
    ChoirShared shared{};
    ChoirSettings last{};
};

} // namespace doodle
