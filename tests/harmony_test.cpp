#include "mapping/Harmony.h"
#include "mapping/PitchMap.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace doodle {
namespace {

constexpr std::size_t kS = partIndex(ChoirPart::Soprano);
constexpr std::size_t kA = partIndex(ChoirPart::Alto);
constexpr std::size_t kT = partIndex(ChoirPart::Tenor);
constexpr std::size_t kB = partIndex(ChoirPart::Bass);

// The MIDI note of program semitone 0 today (51.914 Hz, G#1) and with C = C2.
constexpr int32_t kProgramBaseMidiNote = 32;
constexpr int32_t kConcertBaseMidiNote = 36;
// The highest lead a drawing reaches: X = 240 is in the fourth strip octave.
constexpr int32_t kHighestLeadSemitone = 47;
// A lead moving this far or less moves by a step (a major third: the pentatonic's widest step).
constexpr int32_t kLargestStepSemitones = 4;

int32_t pitchClassOf(int32_t semitone) {
    return ((semitone % kSemitonesPerOctave) + kSemitonesPerOctave) % kSemitonesPerOctave;
}

std::vector<int32_t> scaleOf(ScaleMode mode, int32_t root) {
    const Scale scale = buildScale(mode, root, Scale{});
    if (mode == ScaleMode::Pentatonic) {
        return {scale.scaleNotes5.begin(), scale.scaleNotes5.end()};
    }
    return {scale.scaleNotes7.begin(), scale.scaleNotes7.end()};
}

bool inScale(std::span<const int32_t> scale, int32_t semitone) {
    return std::find(scale.begin(), scale.end(), pitchClassOf(semitone)) != scale.end();
}

// Whether the alto, tenor and bass sing only notes of a triad stacked on a scale degree that
// holds the lead's pitch class: if not, the voicer fell back.
bool onTriadOfLead(std::span<const int32_t> scale, const ChoirNotes& notes) {
    const std::size_t size = scale.size();
    for (std::size_t degree = 0; degree < size; ++degree) {
        const std::array<int32_t, 3> triad{scale[degree], scale[(degree + 2) % size],
                                           scale[(degree + 4) % size]};
        const auto inTriad = [&triad](int32_t note) {
            return std::find(triad.begin(), triad.end(), pitchClassOf(note)) != triad.end();
        };
        if (std::all_of(notes.begin(), notes.end(), inTriad)) {
            return true;
        }
    }
    return false;
}

// The shift, in octaves, of all four ranges for a lead: none when the lead lies in the soprano's
// own range; else the previous one while it keeps the lead there, else the one nearest no shift
// that does.
class ShiftModel {
public:
    int32_t shiftFor(int32_t leadMidiNote) {
        std::vector<int32_t> fits;
        for (int32_t shift = -4; shift <= 4; ++shift) {
            const int32_t offset = shift * kSemitonesPerOctave;
            if (leadMidiNote >= kSopranoRange.lowMidiNote + offset &&
                leadMidiNote <= kSopranoRange.highMidiNote + offset) {
                fits.push_back(shift);
            }
        }
        const bool unshifted = std::find(fits.begin(), fits.end(), 0) != fits.end();
        if (unshifted) {
            m_shift = 0;
        } else if (!m_hasShift || std::find(fits.begin(), fits.end(), m_shift) == fits.end()) {
            m_shift = *std::min_element(fits.begin(), fits.end(), [](int32_t a, int32_t b) {
                return std::abs(a) < std::abs(b);
            });
        }
        m_hasShift = true;
        return m_shift;
    }

private:
    bool m_hasShift = false;
    int32_t m_shift = 0;
};

struct Tally {
    int64_t changes = 0;
    int64_t crossings = 0; // a part not strictly below the one above it
    int64_t parallels = 0;
    int64_t outOfScale = 0; // alto, tenor and bass notes
    int64_t outOfRange = 0;
    int64_t sopranoNotLead = 0;
    int64_t repeatsChanged = 0; // the same lead again gave other notes
    int64_t fallbacks = 0;
    int64_t movementSemitones = 0; // alto, tenor and bass, over all changes after the first
    int64_t movedChanges = 0;
    int64_t stepMovementSemitones = 0; // the same, where the lead moved a step (1..4 semitones)
    int64_t stepChanges = 0;
};

bool parallelPerfect(const ChoirNotes& before, const ChoirNotes& after, std::size_t upper,
                     std::size_t lower) {
    if (before[upper] == after[upper] || before[lower] == after[lower]) {
        return false;
    }
    const int32_t interval = pitchClassOf(before[upper] - before[lower]);
    return (interval == 0 || interval == 7) &&
           pitchClassOf(after[upper] - after[lower]) == interval;
}

// A seeded walk over the notes in 0..kHighestLeadSemitone whose pitch classes are in
// `leadPitchClasses`: mostly steps of one or two such notes, sometimes a repeated note or a leap
// of up to ten. The choir is voiced in `scale`.
void singWalk(std::mt19937& random, std::span<const int32_t> leadPitchClasses,
              std::span<const int32_t> scale, int32_t root, int32_t baseMidiNote, Tally& tally) {
    std::vector<int32_t> leads;
    for (int32_t semitone = 0; semitone <= kHighestLeadSemitone; ++semitone) {
        if (inScale(leadPitchClasses, semitone)) {
            leads.push_back(semitone);
        }
    }
    const auto lastIndex = static_cast<int32_t>(leads.size()) - 1;
    std::uniform_int_distribution<int32_t> startAt(0, lastIndex);
    std::uniform_int_distribution<int32_t> length(8, 48);
    std::uniform_int_distribution<int32_t> percent(0, 99);
    std::uniform_int_distribution<int32_t> step(1, 2);
    std::uniform_int_distribution<int32_t> leap(3, 10);
    std::bernoulli_distribution down(0.5);

    HarmonyVoicer voicer;
    ShiftModel shifts;
    int32_t index = startAt(random);
    const int32_t notes = length(random);
    ChoirNotes previous{};
    bool hasPrevious = false;
    for (int32_t n = 0; n < notes; ++n) {
        if (n > 0) {
            const int32_t kind = percent(random);
            int32_t degrees = kind < 10 ? 0 : kind < 80 ? step(random) : leap(random);
            degrees = down(random) ? -degrees : degrees;
            index += degrees;
            if (index < 0 || index > lastIndex) {
                index -= 2 * degrees;
            }
            index = std::clamp(index, 0, lastIndex);
        }
        const int32_t lead = leads[static_cast<std::size_t>(index)];
        const ChoirNotes notesNow = voicer.next(lead, scale, root, baseMidiNote);
        if (hasPrevious && lead == previous[kS]) {
            tally.repeatsChanged += notesNow != previous ? 1 : 0;
            continue;
        }
        ++tally.changes;
        tally.sopranoNotLead += notesNow[kS] != lead ? 1 : 0;
        tally.crossings += notesNow[kS] > notesNow[kA] && notesNow[kA] > notesNow[kT] &&
                                   notesNow[kT] > notesNow[kB]
                               ? 0
                               : 1;
        for (const std::size_t part : {kA, kT, kB}) {
            tally.outOfScale += inScale(scale, notesNow[part]) ? 0 : 1;
        }
        const int32_t shift = shifts.shiftFor(baseMidiNote + lead) * kSemitonesPerOctave;
        for (std::size_t part = 0; part < kChoirParts; ++part) {
            const int32_t midiNote = baseMidiNote + notesNow[part];
            const bool inRange = midiNote >= kChoirRanges[part].lowMidiNote + shift &&
                                 midiNote <= kChoirRanges[part].highMidiNote + shift;
            tally.outOfRange += inRange ? 0 : 1;
        }
        if (!onTriadOfLead(scale, notesNow)) {
            ++tally.fallbacks;
        }
        if (hasPrevious) {
            for (std::size_t upper = 0; upper < kChoirParts; ++upper) {
                for (std::size_t lower = upper + 1; lower < kChoirParts; ++lower) {
                    tally.parallels += parallelPerfect(previous, notesNow, upper, lower) ? 1 : 0;
                }
            }
            int32_t movement = 0;
            for (const std::size_t part : {kA, kT, kB}) {
                movement += std::abs(notesNow[part] - previous[part]);
            }
            tally.movementSemitones += movement;
            ++tally.movedChanges;
            if (std::abs(lead - previous[kS]) <= kLargestStepSemitones) {
                tally.stepMovementSemitones += movement;
                ++tally.stepChanges;
            }
        }
        previous = notesNow;
        hasPrevious = true;
    }
}

// 1,000 walks in each scale mode, spread over six roots and both base notes.
TEST(Harmony, RandomLinesKeepEveryRuleInEveryScale) {
    constexpr int32_t kWalksPerMode = 1000;
    constexpr std::array<int32_t, 6> kRoots{0, 2, 5, 7, 9, 11};
    constexpr std::array<int32_t, 2> kBases{kProgramBaseMidiNote, kConcertBaseMidiNote};
    const std::array<std::pair<ScaleMode, const char*>, 3> modes{
        {{ScaleMode::Major, "Major"},
         {ScaleMode::Minor, "Minor"},
         {ScaleMode::Pentatonic, "Pentatonic"}}};
    std::mt19937 random(20261208);
    for (const auto& [mode, name] : modes) {
        SCOPED_TRACE(name);
        Tally tally;
        for (int32_t walk = 0; walk < kWalksPerMode; ++walk) {
            const int32_t root = kRoots[static_cast<std::size_t>(walk) % kRoots.size()];
            const int32_t base =
                kBases[static_cast<std::size_t>(walk) / kRoots.size() % kBases.size()];
            const std::vector<int32_t> scale = scaleOf(mode, root);
            singWalk(random, scale, scale, root, base, tally);
        }
        ASSERT_GT(tally.movedChanges, 0);
        EXPECT_EQ(tally.crossings, 0);
        EXPECT_EQ(tally.parallels, 0);
        EXPECT_EQ(tally.outOfScale, 0);
        EXPECT_EQ(tally.outOfRange, 0);
        EXPECT_EQ(tally.sopranoNotLead, 0);
        EXPECT_EQ(tally.repeatsChanged, 0);
        const double meanMovement =
            static_cast<double>(tally.movementSemitones) / static_cast<double>(tally.movedChanges);
        const double meanStepMovement = static_cast<double>(tally.stepMovementSemitones) /
                                        static_cast<double>(tally.stepChanges);
        std::cout << name << ": " << tally.changes << " chords, " << tally.crossings
                  << " crossings, " << tally.parallels << " parallels, " << tally.fallbacks
                  << " fallbacks, mean movement " << meanMovement
                  << " semitones per change (alto + tenor + bass), " << meanStepMovement
                  << " where the lead moved a step\n";
        RecordProperty(std::string(name) + "_fallbacks", std::to_string(tally.fallbacks));
        RecordProperty(std::string(name) + "_mean_movement", std::to_string(meanMovement));
    }
}

constexpr std::array<int32_t, 7> kCMajor{0, 2, 4, 5, 7, 9, 11};
constexpr int32_t kRootC = 0;
// Program semitones with C = C2 (kConcertBaseMidiNote): s = MIDI note - 36.
constexpr int32_t kC3 = 12, kE3 = 16, kG3 = 19, kB2 = 11, kD3 = 14;
constexpr int32_t kC4 = 24, kD4 = 26, kE4 = 28, kG4 = 31, kC5 = 36;

// Worked out by hand from the costs: a first chord on C4 is the close root-position tonic
// C3 E3 G3 under it (the root-position A minor A2 E3 A3 lies one semitone further from the
// middles of the ranges). The arpeggio E4 G4 C5 stays on that chord with the lower parts held:
// every other chord would move them. Over D4 the dominant comes in first inversion, the alto
// holding G3, the tenor stepping to D3 and the bass to B2 (the root-position dominant would
// leave out its third or leap in the bass; the diminished triad costs more; D minor in root
// position moves soprano and bass in octaves); back on C4 the tonic returns by steps.
TEST(Harmony, CMajorLineGetsTonicAndDominantByStepsAndHeldTones) {
    HarmonyVoicer voicer;
    const auto sing = [&voicer](int32_t lead) {
        return voicer.next(lead, kCMajor, kRootC, kConcertBaseMidiNote);
    };
    EXPECT_EQ(sing(kC4), (ChoirNotes{kC4, kG3, kE3, kC3}));
    EXPECT_EQ(sing(kE4), (ChoirNotes{kE4, kG3, kE3, kC3}));
    EXPECT_EQ(sing(kG4), (ChoirNotes{kG4, kG3, kE3, kC3}));
    EXPECT_EQ(sing(kC5), (ChoirNotes{kC5, kG3, kE3, kC3}));

    voicer.reset();
    EXPECT_EQ(sing(kC4), (ChoirNotes{kC4, kG3, kE3, kC3}));
    EXPECT_EQ(sing(kD4), (ChoirNotes{kD4, kG3, kD3, kB2}));
    EXPECT_EQ(sing(kC4), (ChoirNotes{kC4, kG3, kE3, kC3}));
}

TEST(Harmony, SameLeadAgainGivesTheSameNotesAndResetStartsAfresh) {
    const std::vector<int32_t> dMinor = scaleOf(ScaleMode::Minor, 2);
    constexpr int32_t kRootD = 2;
    HarmonyVoicer voicer;
    ChoirNotes last{};
    for (const int32_t lead : {26, 29, 33, 31, 21, 38, 40}) {
        last = voicer.next(lead, dMinor, kRootD, kProgramBaseMidiNote);
        for (int32_t again = 0; again < 3; ++again) {
            EXPECT_EQ(voicer.next(lead, dMinor, kRootD, kProgramBaseMidiNote), last) << lead;
        }
    }
    // After reset() the next chord is a first chord, as from a new voicer, though the lead is
    // the one sung last.
    voicer.reset();
    HarmonyVoicer fresh;
    EXPECT_EQ(voicer.next(40, dMinor, kRootD, kProgramBaseMidiNote),
              fresh.next(40, dMinor, kRootD, kProgramBaseMidiNote));
}

// All four ranges move by the same octaves with the lead, and keep their shift while it still
// fits; a low lead takes the lower parts below semitone 0.
TEST(Harmony, RangesShiftByWholeOctavesWithTheLead) {
    const auto within = [](const ChoirNotes& notes, int32_t shiftOctaves, int32_t base) {
        for (std::size_t part = 0; part < kChoirParts; ++part) {
            const int32_t midiNote = notes[part] + base - shiftOctaves * kSemitonesPerOctave;
            if (midiNote < kChoirRanges[part].lowMidiNote ||
                midiNote > kChoirRanges[part].highMidiNote) {
                return false;
            }
        }
        return true;
    };
    HarmonyVoicer voicer;
    const auto sing = [&voicer](int32_t lead) {
        return voicer.next(lead, kCMajor, kRootC, kConcertBaseMidiNote);
    };
    // C5 fits unshifted and an octave up: a first chord takes no shift.
    EXPECT_TRUE(within(sing(kC5), 0, kConcertBaseMidiNote));
    // A5 fits only an octave up; back on C5 the choir sings in its own register again.
    constexpr int32_t kA5 = 45;
    EXPECT_TRUE(within(sing(kA5), 1, kConcertBaseMidiNote));
    EXPECT_TRUE(within(sing(kC5), 0, kConcertBaseMidiNote));
    // Below its register the shift holds while it fits: C4 after G3 stays an octave down.
    constexpr int32_t kB3 = 23;
    EXPECT_TRUE(within(sing(kG3), -1, kConcertBaseMidiNote));
    EXPECT_TRUE(within(sing(kB3), -1, kConcertBaseMidiNote));

    // The lowest strip note today is MIDI 32 (G#1): three octaves down.
    voicer.reset();
    const ChoirNotes low = voicer.next(0, scaleOf(ScaleMode::Major, 8), 8, kProgramBaseMidiNote);
    EXPECT_TRUE(within(low, -3, kProgramBaseMidiNote));
    EXPECT_LT(low[kB], 0);
}

// A lead off the scale has no triad: the lower parts take scale notes. With no scale at all
// they take any semitones. Both keep the range, crossing and parallels rules.
TEST(Harmony, FallbacksKeepRangesOrderAndParallelsRules) {
    constexpr int32_t kWalks = 200;
    constexpr std::array<int32_t, 12> kChromatic{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    std::mt19937 random(8122026);
    Tally offScale;
    Tally noScale;
    for (int32_t walk = 0; walk < kWalks; ++walk) {
        singWalk(random, kChromatic, kCMajor, kRootC, kConcertBaseMidiNote, offScale);
        singWalk(random, kChromatic, {}, kRootC, kProgramBaseMidiNote, noScale);
    }
    for (const Tally* tally : {&offScale, &noScale}) {
        ASSERT_GT(tally->movedChanges, 0);
        EXPECT_EQ(tally->crossings, 0);
        EXPECT_EQ(tally->parallels, 0);
        EXPECT_EQ(tally->outOfRange, 0);
        EXPECT_EQ(tally->sopranoNotLead, 0);
        EXPECT_EQ(tally->repeatsChanged, 0);
    }
    EXPECT_GT(offScale.fallbacks, 0);
    EXPECT_EQ(offScale.outOfScale, 0);
}

} // namespace
} // namespace doodle
