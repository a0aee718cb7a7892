// MIDI in: the inverse maps, the performance that turns messages into drawn points, and the
// Standard MIDI File reader.
#include "mapping/MidiMap.h"
#include "mapping/VowelMap.h"
#include "recording/MidiFile.h"
#include "recording/MidiFileInput.h"
#include "recording/MidiPerformance.h"

#include <cmath>
#include <cstddef>
#include <gtest/gtest.h>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace doodle {
namespace {

constexpr std::array<ScaleMode, 4> kModes{ScaleMode::Unrestricted, ScaleMode::Major,
                                          ScaleMode::Minor, ScaleMode::Pentatonic};

constexpr std::array<Tuning, 2> kTunings{Tuning::Classic, Tuning::Concert};

double noteAt(int32_t x, ScaleMode mode, const Scale& scale, Tuning tuning = Tuning::Classic) {
    return midiNoteOfPitch(mapPitch(x, mode, scale, tuning).pitchHz);
}

double centsBetween(double note, double otherNote) {
    return 100.0 * std::fabs(note - otherNote);
}

int32_t stripPx(ScaleMode mode) {
    return mode == ScaleMode::Pentatonic ? kPentatonicStripPx : kHeptatonicStripPx;
}

// Every X's own pitch leads back to it (Unrestricted) or to its strip (scale modes), for
// every root under either tuning.
TEST(MidiPitchMap, EveryColumnsPitchComesBackToItsColumnOrStrip) {
    for (const Tuning tuning : kTunings) {
        for (const ScaleMode mode : kModes) {
            for (int32_t root = 0; root < kSemitonesPerOctave; ++root) {
                const Scale scale = buildScale(mode, root, {});
                for (int32_t x = 0; x <= kMaxPointX; ++x) {
                    const int32_t back =
                        xForPitch(noteAt(x, mode, scale, tuning), mode, scale, tuning);
                    if (mode == ScaleMode::Unrestricted) {
                        ASSERT_EQ(back, x);
                    } else {
                        ASSERT_EQ(back / stripPx(mode), x / stripPx(mode))
                            << x << " root " << root << " tuning " << static_cast<int>(tuning);
                    }
                }
            }
        }
    }
}

// Any pitch in reach goes to the best X there is, found here by trying every X; in
// Unrestricted within the documented bound, in the scale modes on the middle of a strip.
TEST(MidiPitchMap, APitchGoesToTheColumnNearestInCents) {
    std::mt19937 random(26);
    std::uniform_real_distribution<double> notes(19.0, 76.0);
    for (const ScaleMode mode : kModes) {
        const Scale scale = buildScale(mode, 4, {});
        for (int i = 0; i < 3000; ++i) {
            const double note = notes(random);
            const int32_t x = xForPitch(note, mode, scale, Tuning::Classic);
            double bestCents = std::numeric_limits<double>::infinity();
            for (int32_t other = 0; other <= kMaxPointX; ++other) {
                bestCents = std::min(bestCents, centsBetween(noteAt(other, mode, scale), note));
            }
            const double cents = centsBetween(noteAt(x, mode, scale), note);
            if (mode == ScaleMode::Unrestricted) {
                ASSERT_EQ(cents, bestCents) << note;
                const double below =
                    std::clamp(std::floor(std::pow(2.0, (note - 69.0) / 12.0) * 440.0 / 2.5 - 10.0),
                               0.0, 239.0);
                if (note > 19.35 && note < 75.07) {
                    EXPECT_LE(cents, 600.0 * std::log2((below + 11.0) / (below + 10.0))) << note;
                }
            } else {
                ASSERT_LE(cents, bestCents + 1.0) << note; // ties within a cent go lower
                const int32_t start = x / stripPx(mode) * stripPx(mode);
                if (x != 0 && x != kMaxPointX) {
                    EXPECT_EQ(x,
                              start +
                                  (std::min(start + stripPx(mode), kMaxPointX + 1) - 1 - start) / 2)
                        << note;
                }
            }
        }
    }
}

TEST(MidiPitchMap, NotesOutOfReachLandOnTheEdgeAndTiesGoLower) {
    for (const ScaleMode mode : kModes) {
        const Scale scale = buildScale(mode, 0, {});
        for (const double low : {0.0, 19.0, -std::numeric_limits<double>::infinity()}) {
            EXPECT_EQ(xForPitch(low, mode, scale, Tuning::Classic), 0) << low;
        }
        for (const double high : {80.0, 127.0 + 24.0, std::numeric_limits<double>::infinity()}) {
            EXPECT_EQ(xForPitch(high, mode, scale, Tuning::Classic), kMaxPointX) << high;
        }
        EXPECT_EQ(xForPitch(std::nan(""), mode, scale, Tuning::Classic), 0);
    }
    // Major on the program's C (MIDI note 32): C# (33) lies halfway between C and D; less
    // than a cent nearer D still counts as halfway.
    const Scale major = buildScale(ScaleMode::Major, 0, {});
    EXPECT_EQ(xForPitch(33.005, ScaleMode::Major, major, Tuning::Classic), 4);
    EXPECT_EQ(xForPitch(33.02, ScaleMode::Major, major, Tuning::Classic), 14);
}

TEST(MidiVowelMap, EveryControllerValueComesBackFromTheMiddleOfItsRows) {
    for (int32_t value = 0; value <= kMidiMaxDataValue; ++value) {
        const int32_t y = yForController(value);
        ASSERT_EQ(vowelControllerValue(y), value);
        int32_t first = y;
        int32_t last = y;
        while (first > 0 && vowelControllerValue(first - 1) == value) {
            --first;
        }
        while (last < kMaxPointY && vowelControllerValue(last + 1) == value) {
            ++last;
        }
        EXPECT_LE(std::abs(2 * y - (first + last)), 1) << value;
    }
    EXPECT_EQ(yForController(-3), kMaxPointY);
    EXPECT_EQ(yForController(400), 0);
}

// Feeds messages at their times and gathers every line, flushing at the end.
struct Timed {
    int32_t ms = 0;
    MidiMessage message{};
};
std::vector<GestureLine> perform(MidiPerformance& performance, std::initializer_list<Timed> in) {
    std::vector<GestureLine> lines;
    for (const Timed& t : in) {
        if (const auto line = performance.feed(t.message, t.ms)) {
            lines.push_back(*line);
        }
    }
    if (const auto line = performance.flush()) {
        lines.push_back(*line);
    }
    return lines;
}

MidiMessage on(uint8_t note, uint8_t velocity = 100) {
    return {kMidiNoteOn, note, velocity};
}
MidiMessage off(uint8_t note) {
    return {kMidiNoteOff, note, 0};
}
MidiMessage cc(uint8_t controller, uint8_t value) {
    return {kMidiControlChange, controller, value};
}
MidiMessage bend(int32_t value) {
    return {kMidiPitchBend, static_cast<uint8_t>(value & 0x7F), static_cast<uint8_t>(value >> 7)};
}

int32_t xOf(double note) {
    return xForPitch(note, ScaleMode::Unrestricted, {}, Tuning::Classic);
}

bool sameLines(const std::vector<GestureLine>& a, const std::vector<GestureLine>& b) {
    auto same = [](const GestureLine& l, const GestureLine& r) {
        return l.x == r.x && l.y == r.y && l.released == r.released && l.elapsedMs == r.elapsedMs;
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), same);
}

std::string shown(const std::vector<GestureLine>& lines) {
    std::string text;
    for (const GestureLine& line : lines) {
        text += formatGestureLine(line) + "\n";
    }
    return text;
}

TEST(MidiPerformance, LastNotePriorityVelocityZeroAndSilencing) {
    MidiPerformance performance;
    const int32_t y = yForController(kMidiInitialVowelValue);
    const std::vector<GestureLine> lines =
        perform(performance, {{10, on(60, 1)},
                              {20, on(64, 127)},
                              {30, on(67)},
                              {40, off(67)},       // back to 64
                              {50, off(60)},       // not the newest: nothing changes
                              {60, on(64, 0)},     // velocity 0: a note off, the last one held
                              {70, on(62)},        // sounds again
                              {80, on(65)},        // two held
                              {90, cc(123, 0)},    // all notes off
                              {95, off(65)},       // already let go
                              {100, on(69)},       // sounds again
                              {110, cc(120, 0)}}); // all sound off
    const std::vector<GestureLine> expected{
        {xOf(60), y, 0, 10},  {xOf(64), y, 0, 20}, {xOf(67), y, 0, 30}, {xOf(64), y, 0, 40},
        {xOf(64), y, 1, 60},  {xOf(62), y, 0, 70}, {xOf(65), y, 0, 80}, {xOf(65), y, 1, 90},
        {xOf(69), y, 0, 100}, {xOf(69), y, 1, 110}};
    EXPECT_TRUE(sameLines(lines, expected)) << shown(lines);
    EXPECT_FALSE(performance.sounding());
}

// The pedal holds a note whose key is up until it is let up; held notes, a re-struck note and
// the silencing controllers go through it as a keyboard's would.
TEST(MidiPerformance, TheSustainPedalHoldsLetGoNotesUntilItIsLetUp) {
    MidiPerformance performance;
    const int32_t y = yForController(kMidiInitialVowelValue);
    const std::vector<GestureLine> lines =
        perform(performance, {{10, on(60)},
                              {20, cc(kMidiCcSustain, 127)},
                              {30, off(60)},                // held by the pedal
                              {40, cc(kMidiCcSustain, 0)},  // let up: a release
                              {50, cc(kMidiCcSustain, 64)}, // down from 64
                              {60, on(62)},
                              {70, off(62)}, // sustained
                              {80, on(62)},  // struck again: held anew
                              {90, on(64)},
                              {100, off(64)},                // the newest, sustained
                              {110, cc(kMidiCcSustain, 63)}, // up below 64: back to 62
                              {120, off(62)},                // no pedal: a release
                              {130, cc(kMidiCcSustain, 100)},
                              {140, on(65)},
                              {150, off(65)},
                              {160, cc(123, 0)}, // all notes off, pedal or not
                              {170, on(67)},
                              {180, off(67)},    // the pedal is still down
                              {190, cc(121, 0)}, // a reset lets it up
                              {200, on(69)},
                              {210, off(69)}}); // nothing holds it
    const std::vector<GestureLine> expected{
        {xOf(60), y, 0, 10},  {xOf(60), y, 1, 40},  {xOf(62), y, 0, 60},  {xOf(64), y, 0, 90},
        {xOf(62), y, 0, 110}, {xOf(62), y, 1, 120}, {xOf(65), y, 0, 140}, {xOf(65), y, 1, 160},
        {xOf(67), y, 0, 170}, {xOf(67), y, 1, 190}, {xOf(69), y, 0, 200}, {xOf(69), y, 1, 210}};
    EXPECT_TRUE(sameLines(lines, expected)) << shown(lines);
    EXPECT_FALSE(performance.sounding());
}

// All channels but the drums', or one channel alone; system messages pass.
TEST(MidiPerformance, InputHearsItsChannelOrAllButTheDrums) {
    for (int32_t shown = 1; shown <= kMidiChannels; ++shown) {
        const auto status = static_cast<uint8_t>(kMidiNoteOn | (shown - 1));
        const MidiMessage note{status, 60, 100};
        EXPECT_EQ(midiInputHears(note, kMidiAllChannels), shown != kMidiDrumChannel) << shown;
        for (int32_t chosen = 1; chosen <= kMidiChannels; ++chosen) {
            EXPECT_EQ(midiInputHears(note, chosen), shown == chosen) << shown << " " << chosen;
        }
    }
    const MidiMessage drumBend{kMidiPitchBend | 9, 0, 0x40};
    EXPECT_FALSE(midiInputHears(drumBend, kMidiAllChannels));
    EXPECT_TRUE(midiInputHears(drumBend, kMidiDrumChannel));
    EXPECT_TRUE(midiInputHears({0xF8, 0, 0}, 3)) << "a clock byte has no channel";
}

// Bends at the default range, at ranges that RPN 0 sets, and through parameters that must not
// change the range.
TEST(MidiPerformance, BendFollowsTheRangeThatRpnZeroSets) {
    const double top = 8191.0 / 8192.0; // the highest bend, in ranges
    struct Case {
        std::vector<MidiMessage> setup;
        double semitones = 0.0; // the range expected afterwards
    };
    const std::vector<Case> cases{
        {{}, 2.0},
        {{cc(101, 0), cc(100, 0), cc(6, 12), cc(38, 50)}, 12.5},
        {{cc(101, 0), cc(100, 0), cc(6, 12), cc(101, 127), cc(100, 127), cc(6, 24)}, 12.0},
        {{cc(101, 0), cc(100, 1), cc(6, 12)}, 2.0},                       // fine tuning
        {{cc(101, 0), cc(100, 0), cc(99, 0), cc(98, 0), cc(6, 12)}, 2.0}, // an NRPN
        {{cc(101, 0), cc(100, 0), cc(6, 7), cc(121, 0), cc(6, 12)}, 7.0}, // reset deselects
        {{cc(6, 12)}, 2.0},                                               // nothing selected
    };
    for (const Case& c : cases) {
        MidiPerformance performance;
        for (const MidiMessage& message : c.setup) {
            performance.feed(message, 0);
        }
        const std::vector<GestureLine> lines =
            perform(performance, {{1, on(50)}, {2, bend(16383)}, {3, bend(0)}, {4, bend(8192)}});
        ASSERT_EQ(lines.size(), 4U) << c.semitones << "\n" << shown(lines);
        EXPECT_EQ(lines[1].x, xOf(50.0 + c.semitones * top)) << c.semitones;
        EXPECT_EQ(lines[2].x, xOf(50.0 - c.semitones)) << c.semitones;
        EXPECT_EQ(lines[3].x, xOf(50.0)) << c.semitones;
    }
}

TEST(MidiPerformance, VowelControllersMoveTheRowUnlessItIsFixed) {
    MidiPerformance performance;
    const std::vector<GestureLine> lines = perform(performance, {{0, cc(74, 127)},
                                                                 {1, on(60)},
                                                                 {2, cc(1, 0)},
                                                                 {3, cc(74, 64)},
                                                                 {4, off(60)},
                                                                 {5, cc(74, 10)},
                                                                 {6, on(60)}});
    const int32_t x = xOf(60);
    const std::vector<GestureLine> expected{{x, 0, 0, 1},
                                            {x, kMaxPointY, 0, 2},
                                            {x, yForController(64), 0, 3},
                                            {x, yForController(64), 1, 4},
                                            {x, yForController(10), 0, 6}};
    EXPECT_TRUE(sameLines(lines, expected)) << shown(lines);

    MidiPerformance fixed({ScaleMode::Unrestricted, {}, 33});
    const std::vector<GestureLine> fixedLines =
        perform(fixed, {{0, cc(74, 127)}, {1, on(60)}, {2, cc(1, 0)}});
    EXPECT_TRUE(sameLines(fixedLines, {{x, 33, 0, 1}})) << shown(fixedLines);
}

// What happens at one millisecond is one moment: a change of note is legato, as the export
// writes it; times never go back.
TEST(MidiPerformance, OneLinePerMomentAndTimesNeverDecrease) {
    MidiPerformance performance;
    const int32_t y = yForController(kMidiInitialVowelValue);
    const std::vector<GestureLine> lines =
        perform(performance, {{5, on(60)},
                              {9, off(60)}, // legato: off and on at one time
                              {9, bend(10000)},
                              {9, on(62)},
                              {12, off(62)}, // a repeated note with no time between: sounds on
                              {12, on(62)},
                              {15, off(62)}, // a release, then a new note a millisecond later
                              {16, on(62)},
                              {14, on(67)},        // earlier than the moment before: counts as 16
                              {20, bend(10000)}}); // no change
    const double bent = (10000.0 - 8192.0) / 8192.0 * 2.0;
    const std::vector<GestureLine> expected{{xOf(60), y, 0, 5},
                                            {xOf(62 + bent), y, 0, 9},
                                            {xOf(62 + bent), y, 1, 15},
                                            {xOf(67 + bent), y, 0, 16}};
    EXPECT_TRUE(sameLines(lines, expected)) << shown(lines);
}

// Standard MIDI Files built byte by byte.
using Bytes = std::vector<uint8_t>;

Bytes chunk(const char* id, const Bytes& data) {
    Bytes bytes(id, id + 4);
    const auto size = static_cast<uint32_t>(data.size());
    for (const int shift : {24, 16, 8, 0}) {
        bytes.push_back(static_cast<uint8_t>(size >> shift));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

Bytes smf(uint16_t format, uint16_t division, const std::vector<Bytes>& tracks) {
    const auto count = static_cast<uint16_t>(tracks.size());
    Bytes bytes = chunk("MThd", {0, static_cast<uint8_t>(format), static_cast<uint8_t>(count >> 8),
                                 static_cast<uint8_t>(count), static_cast<uint8_t>(division >> 8),
                                 static_cast<uint8_t>(division)});
    for (const Bytes& track : tracks) {
        const Bytes more = chunk("MTrk", track);
        bytes.insert(bytes.end(), more.begin(), more.end());
    }
    return bytes;
}

std::span<const std::byte> asBytes(const Bytes& bytes) {
    return std::as_bytes(std::span(bytes));
}

struct ReadEvent {
    uint64_t tick = 0;
    MidiTrackEvent::Kind kind = MidiTrackEvent::Kind::Channel;
    MidiMessage message{};
};

std::vector<ReadEvent> eventsOf(const MidiFile& file, std::size_t track) {
    std::vector<ReadEvent> events;
    MidiTrackReader reader = file.track(track);
    while (const auto event = reader.next()) {
        events.push_back({event->tick, event->kind, event->message});
    }
    EXPECT_EQ(reader.error(), nullptr);
    return events;
}

TEST(MidiFileReader, RunningStatusSysExMetaAndAlienChunks) {
    const Bytes track{0x00, 0x90, 60,   100,             // note on
                      0x0A, 62,   100,                   // running status
                      0x00, 0xFF, 0x01, 2,    'h', 'i',  // text: runs on
                      0x05, 60,   0,                     // a note on at velocity 0
                      0x00, 0xF0, 3,    1,    2,   0xF7, // SysEx
                      0x81, 0x00, 0xB1, 74,   5,         // delta 128
                      0x00, 0xF7, 1,    0xF8,            // an escape
                      0x00, 0xFF, 0x7E, 0,               // an unknown meta type
                      0x00, 0xFF, 0x2F, 0,               // end of track
                      0x00, 0x90};                       // after the end: not read
    Bytes bytes = smf(0, 96, {track});
    // A longer header and an alien chunk before the track.
    bytes[7] = 8;
    bytes.insert(bytes.begin() + 14, {0, 0});
    const Bytes alien = chunk("XFIH", {1, 2, 3});
    bytes.insert(bytes.begin() + 16, alien.begin(), alien.end());
    std::string error;
    const std::optional<MidiFile> file = MidiFile::read(asBytes(bytes), error);
    ASSERT_TRUE(file) << error;
    using Kind = MidiTrackEvent::Kind;
    const std::vector<ReadEvent> events = eventsOf(*file, 0);
    const std::vector<std::pair<uint64_t, Kind>> expected{
        {0, Kind::Channel},  {10, Kind::Channel}, {10, Kind::Meta},
        {15, Kind::Channel}, {15, Kind::SysEx},   {143, Kind::Channel},
        {143, Kind::SysEx},  {143, Kind::Meta},   {143, Kind::Meta}};
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].tick, expected[i].first) << i;
        EXPECT_EQ(events[i].kind, expected[i].second) << i;
    }
    EXPECT_EQ(events[1].message, (MidiMessage{0x90, 62, 100}));
    EXPECT_EQ(events[3].message, (MidiMessage{0x90, 60, 0}));
    EXPECT_EQ(events[5].message, (MidiMessage{0xB1, 74, 5}));
}

// Tempo changes in any track of a format 1 file time every track; SMPTE divisions ignore them.
TEST(MidiFileReader, TimesFollowTheTempoMapOfAllTracksOrTheSmpteRate) {
    const Bytes notes{0x00, 0x90, 60, 1, 0x83, 0x60, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0};
    const Bytes tempo{0x00, 0xFF, 0x51, 3, 0x0F, 0x42, 0x40, // 1 s per quarter from 0
                      0x60, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20, // 0.5 s at 96
                      0x00, 0xFF, 0x51, 3, 0x03, 0xD0, 0x90, // 0.25 s at 96: the last counts
                      0x00, 0xFF, 0x2F, 0};
    const Bytes bytes = smf(1, 96, {notes, tempo});
    std::string error;
    const std::optional<MidiFile> file = MidiFile::read(asBytes(bytes), error);
    ASSERT_TRUE(file) << error;
    EXPECT_DOUBLE_EQ(file->msAtTick(48), 500.0);
    EXPECT_DOUBLE_EQ(file->msAtTick(96), 1000.0);
    EXPECT_DOUBLE_EQ(file->msAtTick(480), 2000.0); // 384 ticks at 0.25 s per 96

    for (const auto& [rate, framesPerSecond] :
         std::vector<std::pair<uint8_t, double>>{{0xE8, 24.0}, {0xE3, 30000.0 / 1001.0}}) {
        const Bytes smpteBytes = smf(1, static_cast<uint16_t>(rate << 8 | 40), {notes, tempo});
        const std::optional<MidiFile> smpte = MidiFile::read(asBytes(smpteBytes), error);
        ASSERT_TRUE(smpte) << error;
        EXPECT_DOUBLE_EQ(smpte->msAtTick(480), 480.0 / 40.0 / framesPerSecond * 1000.0);
    }
}

TEST(MidiFileReader, MalformedFilesAreRefusedWithTheirReason) {
    const Bytes end{0x00, 0xFF, 0x2F, 0};
    auto withTrack = [&](const Bytes& track) { return smf(0, 96, {track}); };
    Bytes shortChunk = withTrack(end);
    shortChunk[21] = 9; // the track claims more than the file holds
    Bytes hugeTracks = withTrack(end);
    hugeTracks[10] = 0xFF; // 65535 tracks in format 1
    hugeTracks[11] = 0xFF;
    hugeTracks[9] = 1;
    Bytes shortHeader = withTrack(end);
    shortHeader[7] = 5;
    Bytes pastHeader = withTrack(end);
    pastHeader[6] = 0x7F;
    const std::vector<std::pair<Bytes, std::string>> cases{
        {{'R', 'I', 'F', 'F', 0, 0, 0, 0}, "MThd"},
        {{'M', 'T', 'h', 'd', 0, 0}, "ends inside its header"},
        {shortHeader, "fewer than the 6"},
        {pastHeader, "header chunk runs past the end"},
        {smf(2, 96, {end}), "format 2"},
        {smf(3, 96, {end}), "format 3"},
        {smf(0, 96, {end, end}), "counts 2"},
        {smf(1, 96, {}), "counts no tracks"},
        {smf(0, 0, {end}), "0 ticks per quarter note"},
        {smf(0, 0xE6 << 8 | 10, {end}), "SMPTE"},
        {smf(0, 0xE8 << 8, {end}), "SMPTE"},
        {shortChunk, "claims 9 bytes, but only 4 are left"},
        {hugeTracks, "ends after 1 of the 65535 tracks"},
        {withTrack({0x80, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1}), "longer than 4 bytes"},
        {withTrack({0x80, 0x80}), "inside a variable-length number"},
        {withTrack({0x00, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0x7F}), "runs past the end of its track"},
        {withTrack({0x00, 0xF0, 0x10, 1, 2}), "runs past the end of its track"},
        {withTrack({0x00, 60, 100}), "no status"},
        {withTrack({0x00, 0xF0, 0, 0x00, 60, 100}), "no status"}, // SysEx ends running status
        {withTrack({0x00, 0x90, 60, 0x90}), "status byte inside"},
        {withTrack({0x00, 0xF3, 1}), "no place in a file"},
        {withTrack({0x00, 0xFF, 0x51, 2, 1, 2}), "tempo"},
        {withTrack({0x00, 0x90, 60}), "inside a channel message"},
        {withTrack({0x00}), "without its event"},
        {withTrack({0x00, 0xFF}), "inside a meta event"},
    };
    for (const auto& [bytes, reason] : cases) {
        std::string error;
        EXPECT_FALSE(MidiFile::read(asBytes(bytes), error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << reason << ": " << error;
    }
}

// A well-formed file cut anywhere is read or refused, never read past its end (the sanitizer
// builds watch the reads).
TEST(MidiFileReader, AFileCutAnywhereIsReadOrRefused) {
    const Bytes whole =
        smf(1, 96, {{0x00, 0xFF, 0x51, 3,  7,   0xA1, 0x20, 0x00, 0xF0, 2,    1,    0xF7,
                     0x81, 0x00, 0x90, 60, 100, 0x10, 60,   0,    0x00, 0xFF, 0x2F, 0}});
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        std::string error;
        const std::optional<MidiFile> file = MidiFile::read(asBytes(cut), error);
        EXPECT_NE(file.has_value(), !error.empty()) << size;
    }
}

std::vector<std::string> linesOf(const MidiFileRecording& sung) {
    return sung.recording ? sung.recording->lineTexts() : std::vector<std::string>{sung.error};
}

// The first track with a note off the drums' channel and that note's channel, or one channel
// from every track;
// a note held at the end is released at the end of its track.
TEST(MidiFileInput, SingsTheChosenChannelAndReleasesAtTheEnd) {
    const Bytes conductor{0x00, 0xFF, 0x51, 3, 0x0F, 0x42, 0x40, 0x00, 0xFF, 0x2F, 0};
    const Bytes drums{0x00, 0x99, 36, 100, 0x60, 0x89, 36, 0, 0x00, 0xFF, 0x2F, 0};
    const Bytes melody{0x30, 0x92, 57,   90, 0x00, 0x91, 40, 90, // two channels
                       0x30, 0x82, 57,   0,  0x00, 0x92, 69, 90, // ch 3 is sung
                       0x60, 0xFF, 0x2F, 0};
    const Bytes bytes = smf(1, 96, {conductor, melody, drums});
    const int32_t y = yForController(kMidiInitialVowelValue);
    auto line = [&](double note, int32_t released, int32_t ms) {
        return formatGestureLine({xOf(note), y, released, ms});
    };
    const MidiFileRecording first = recordingOfMidiFile(asBytes(bytes), {});
    EXPECT_EQ(first.channel, 3);
    EXPECT_EQ(linesOf(first),
              (std::vector<std::string>{line(57, 0, 500), line(69, 0, 1000), line(69, 1, 2000)}));
    // The drums' track first: its notes are passed over for the melody's.
    const MidiFileRecording pastDrums =
        recordingOfMidiFile(asBytes(smf(1, 96, {conductor, drums, melody})), {});
    EXPECT_EQ(pastDrums.channel, 3);
    EXPECT_EQ(linesOf(pastDrums), linesOf(first));
    const MidiFileRecording onlyDrums =
        recordingOfMidiFile(asBytes(smf(1, 96, {conductor, drums})), {});
    EXPECT_TRUE(onlyDrums.onlyDrums);
    EXPECT_EQ(linesOf(onlyDrums),
              (std::vector<std::string>{"its notes are all on channel 10, the drums'"}));
    EXPECT_FALSE(first.onlyDrums);

    MidiInputChoice tenth;
    tenth.channel = 10;
    EXPECT_EQ(linesOf(recordingOfMidiFile(asBytes(bytes), tenth)),
              (std::vector<std::string>{line(36, 0, 0), line(36, 1, 1000)}));
    MidiInputChoice fifth;
    fifth.channel = 5;
    EXPECT_EQ(linesOf(recordingOfMidiFile(asBytes(bytes), fifth)),
              (std::vector<std::string>{"it holds no notes on channel 5"}));
    EXPECT_EQ(linesOf(recordingOfMidiFile(asBytes(smf(1, 96, {conductor})), {})),
              (std::vector<std::string>{"it holds no notes"}));
    // Notes that end on the tick they begin would sing silence.
    const Bytes blips{0x30, 0x90, 60,   90,   0x00, 0x80, 60,   0,    0x30, 0x90,
                      62,   90,   0x00, 0x80, 62,   0,    0x00, 0xFF, 0x2F, 0};
    EXPECT_EQ(linesOf(recordingOfMidiFile(asBytes(smf(0, 96, {blips})), {})),
              (std::vector<std::string>{"none of its notes on channel 1 lasts a millisecond"}));
}

} // namespace
} // namespace doodle
