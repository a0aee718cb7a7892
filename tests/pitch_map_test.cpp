#include "mapping/MidiMap.h"
#include "mapping/PitchMap.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string_view>
#include <utility>
#include <vector>

namespace doodle {
namespace {

constexpr double kMilliHz = 5e-4;          // the reference pitches are given to three decimals
constexpr double kSemitoneRatio = 1.059;   // 2^(1/12), rounded down
constexpr double kMinorThirdRatio = 1.190; // 2^(3/12), rounded up: the widest scale step
constexpr int32_t kC = 0, kD = 2, kA = 9;

struct NoteAt {
    int32_t x = 0;
    std::string_view name;
    double pitchHz = 0.0;
};

void expectNotes(ScaleMode mode, int32_t rootIndex, const std::vector<NoteAt>& notes) {
    const Scale scale = buildScale(mode, rootIndex, Scale{});
    for (const NoteAt& n : notes) {
        const PitchResult r = mapPitch(n.x, mode, scale, Tuning::Classic);
        ASSERT_TRUE(r.noteIndex.has_value()) << "X = " << n.x;
        EXPECT_EQ(noteNames.at(static_cast<std::size_t>(*r.noteIndex)), n.name) << "X = " << n.x;
        EXPECT_NEAR(r.pitchHz, n.pitchHz, kMilliHz) << "X = " << n.x;
    }
}

TEST(PitchScale, TablesAreSortedFromCNotFromTheRoot) {
    using Notes7 = std::array<int32_t, 7>;
    EXPECT_EQ(buildScale(ScaleMode::Major, kC, {}).scaleNotes7, (Notes7{0, 2, 4, 5, 7, 9, 11}));
    EXPECT_EQ(buildScale(ScaleMode::Major, kD, {}).scaleNotes7, (Notes7{1, 2, 4, 6, 7, 9, 11}));
    EXPECT_EQ(buildScale(ScaleMode::Minor, kA, {}).scaleNotes7, (Notes7{0, 2, 4, 5, 7, 9, 11}));
    EXPECT_EQ(buildScale(ScaleMode::Pentatonic, kD, {}).scaleNotes5,
              (std::array<int32_t, 5>{2, 4, 6, 9, 11}));
}

TEST(PitchScale, RebuildsOnlyTheTableOfTheSelectedMode) {
    const Scale major = buildScale(ScaleMode::Major, kD, {});
    const Scale both = buildScale(ScaleMode::Pentatonic, kC, major);
    EXPECT_EQ(both.scaleNotes7, major.scaleNotes7);
    EXPECT_EQ(both.scaleNotes5, (std::array<int32_t, 5>{0, 2, 4, 7, 9}));

    // Major to Minor on the same root: the minor steps replace the major ones.
    EXPECT_EQ(buildScale(ScaleMode::Minor, kD, both).scaleNotes7,
              (std::array<int32_t, 7>{0, 2, 4, 5, 7, 9, 10}));
    // Unrestricted: the root replaces the first entry of the seven-note table, sorted again.
    EXPECT_EQ(buildScale(ScaleMode::Unrestricted, kA, both).scaleNotes7,
              (std::array<int32_t, 7>{2, 4, 6, 7, 9, 9, 11}));
    EXPECT_EQ(buildScale(ScaleMode::Unrestricted, kA, both).scaleNotes5, both.scaleNotes5);
}

// Each ratio is 2^(n / 12.0) rounded to the nearest double: within half a step of it, reckoned
// in long double (64 bits of mantissa against 53).
TEST(PitchMap, SemitoneRatiosAreCorrectlyRounded) {
    for (int32_t n = 0; n < kSemitonesPerOctave; ++n) {
        const double ratio = kSemitoneRatios.at(static_cast<std::size_t>(n));
        const long double exact = std::pow(2.0L, static_cast<long double>(n / 12.0));
        const long double halfStep = (std::nextafter(ratio, 2.0) - ratio) / 2.0L;
        EXPECT_LE(std::fabs(static_cast<long double>(ratio) - exact), halfStep) << "n = " << n;
    }
}

constexpr std::array<ScaleMode, 4> kAllModes{ScaleMode::Unrestricted, ScaleMode::Major,
                                             ScaleMode::Minor, ScaleMode::Pentatonic};

// FNV-1a over the bytes of every pitch the maps give under `tuning`: every mode, root and X.
uint64_t pitchesHash(Tuning tuning) {
    constexpr uint64_t kFnvOffset = 14695981039346656037ULL;
    constexpr uint64_t kFnvPrime = 1099511628211ULL;
    constexpr int kBitsPerByte = 8;
    constexpr uint64_t kByteMask = 0xFF;
    uint64_t hash = kFnvOffset;
    for (const ScaleMode mode : kAllModes) {
        for (int32_t root = 0; root < kSemitonesPerOctave; ++root) {
            const Scale scale = buildScale(mode, root, {});
            for (int32_t x = 0; x <= kMaxPointX; ++x) {
                const double pitchHz = mapPitch(x, mode, scale, tuning).pitchHz;
                uint64_t bits = 0;
                std::memcpy(&bits, &pitchHz, sizeof bits);
                for (std::size_t i = 0; i < sizeof bits; ++i) {
                    hash ^= (bits >> (kBitsPerByte * i)) & kByteMask;
                    hash *= kFnvPrime;
                }
            }
        }
    }
    return hash;
}

// Classic is the program's tuning from before there was a choice: every pitch, to the last
// bit, is what the maps gave then (the hash was taken from them before Concert was added).
TEST(PitchTuning, ClassicGivesEveryPitchItGaveBefore) {
    EXPECT_EQ(pitchesHash(Tuning::Classic), 0xfb41fe393eb66288ULL);
    EXPECT_NE(pitchesHash(Tuning::Concert), pitchesHash(Tuning::Classic));
}

// Concert's C is C2 = 55 * 2^(1/4) Hz, correctly rounded; its scale notes are the equal-tempered
// concert pitches of the notes their strips are named after, for every mode and root, and
// Classic's lie a major third (4 semitones) below them. Unrestricted does not change.
TEST(PitchTuning, ConcertScaleNotesAreTheConcertPitchesOfTheirNames) {
    const long double exactC2 = 55.0L * std::sqrt(std::sqrt(2.0L));
    const long double halfStep =
        (std::nextafter(kConcertNoteBase, 100.0) - kConcertNoteBase) / 2.0L;
    EXPECT_LE(std::fabs(static_cast<long double>(kConcertNoteBase) - exactC2), halfStep);
    EXPECT_NEAR(midiNoteOfPitch(kConcertNoteBase), 36.0, 1e-12);

    constexpr double kCentTolerance = 1e-4; // semitones: 0.01 cent
    constexpr double kMajorThird = 4.0;
    // Classic's C (noteBase) lies 0.03 cents above the G#1 a major third below C2.
    constexpr double kClassicTolerance = 1e-3; // semitones: 0.1 cent
    for (const ScaleMode mode : kAllModes) {
        for (int32_t root = 0; root < kSemitonesPerOctave; ++root) {
            const Scale scale = buildScale(mode, root, {});
            for (int32_t x = 0; x <= kMaxPointX; ++x) {
                const PitchResult concert = mapPitch(x, mode, scale, Tuning::Concert);
                const PitchResult classic = mapPitch(x, mode, scale, Tuning::Classic);
                ASSERT_EQ(concert.noteIndex, classic.noteIndex) << x;
                if (mode == ScaleMode::Unrestricted) {
                    ASSERT_EQ(concert.pitchHz, classic.pitchHz) << x;
                    continue;
                }
                const double note = midiNoteOfPitch(concert.pitchHz);
                const double wholeNote = std::round(note);
                ASSERT_NEAR(note, wholeNote, kCentTolerance) << x << " root " << root;
                const auto pitchClass = static_cast<int32_t>(wholeNote) % kSemitonesPerOctave;
                ASSERT_EQ(pitchClass, concert.noteIndex.value()) << x << " root " << root;
                ASSERT_NEAR(note - midiNoteOfPitch(classic.pitchHz), kMajorThird, kClassicTolerance)
                    << x << " root " << root;
            }
        }
    }
    // Major on C under Concert: the strips hold C, D, E, F, G, A, B from C2 (MIDI note 36) up.
    const Scale majorC = buildScale(ScaleMode::Major, kC, {});
    const std::array<double, 8> kCMajorFromC2{36, 38, 40, 41, 43, 45, 47, 48};
    for (std::size_t strip = 0; strip < kCMajorFromC2.size(); ++strip) {
        const auto x = static_cast<int32_t>(strip) * kHeptatonicStripPx;
        EXPECT_NEAR(midiNoteOfPitch(mapPitch(x, ScaleMode::Major, majorC, Tuning::Concert).pitchHz),
                    kCMajorFromC2.at(strip), kCentTolerance)
            << "strip " << strip;
    }
}

TEST(PitchMap, MajorOnCCoversThreeOctavesAndTheStartOfAFourth) {
    expectNotes(ScaleMode::Major, kC,
                {{0, "C", 51.914},
                 {9, "C", 51.914},
                 {10, "D", 58.271},
                 {69, "B", 98.001},
                 {70, "C", 103.828},
                 {79, "C", 103.828},
                 {140, "C", 207.656},
                 {210, "C", 415.312},
                 {239, "E", 523.260},
                 {240, "F", 554.375}});
}

TEST(PitchMap, PentatonicOnCUsesFourteenPixelStrips) {
    expectNotes(ScaleMode::Pentatonic, kC,
                {{0, "C", 51.914},
                 {13, "C", 51.914},
                 {14, "D", 58.271},
                 {69, "A", 87.309},
                 {70, "C", 103.828},
                 {83, "C", 103.828},
                 {84, "D", 116.543},
                 {238, "E", 523.260},
                 {240, "E", 523.260}});
}

TEST(PitchMap, LowestStripHoldsTheLowestSemitoneOfTheScale) {
    expectNotes(ScaleMode::Major, kA, {{0, "C#", 55.001}, {69, "B", 98.001}});
}

TEST(PitchMap, UnrestrictedFollowsXAndNamesNoNote) {
    const Scale scale = buildScale(ScaleMode::Major, kC, {});
    for (const auto& [x, pitchHz] : {std::pair{0, 25.0}, {1, 27.5}, {240, 625.0}}) {
        const PitchResult r = mapPitch(x, ScaleMode::Unrestricted, scale, Tuning::Classic);
        EXPECT_DOUBLE_EQ(r.pitchHz, pitchHz) << "X = " << x;
        EXPECT_FALSE(r.noteIndex.has_value()) << "X = " << x;
    }
}

// Over the whole area the pitch is flat inside a strip and jumps up at every strip edge, for
// every root: the octave must follow the strips even where X / 72 and X / 70 disagree.
TEST(PitchMap, PitchRisesStripByStripForEveryRoot) {
    for (const auto& [mode, stripPx] : {std::pair{ScaleMode::Major, kHeptatonicStripPx},
                                        {ScaleMode::Minor, kHeptatonicStripPx},
                                        {ScaleMode::Pentatonic, kPentatonicStripPx}}) {
        for (int32_t root = 0; root < kSemitonesPerOctave; ++root) {
            const Scale scale = buildScale(mode, root, {});
            double previousHz = mapPitch(0, mode, scale, Tuning::Classic).pitchHz;
            for (int32_t x = 1; x <= kMaxPointX; ++x) {
                const double pitchHz = mapPitch(x, mode, scale, Tuning::Classic).pitchHz;
                if (x % stripPx == 0) {
                    ASSERT_GT(pitchHz, previousHz * kSemitoneRatio)
                        << "root " << root << ", X = " << x;
                    ASSERT_LT(pitchHz, previousHz * kMinorThirdRatio)
                        << "root " << root << ", X = " << x;
                } else {
                    ASSERT_EQ(pitchHz, previousHz) << "root " << root << ", X = " << x;
                }
                previousHz = pitchHz;
            }
        }
    }
}

} // namespace
} // namespace doodle
