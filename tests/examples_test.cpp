// The example songs in examples/: each must open through the program's own reader, be a
// well-formed recording as the program writes one, play to its end, and still be the song its
// name promises.
#include "files/RecordingFiles.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "recording/GestureLine.h"
#include "recording/Player.h"
#include "recording/RecordingFile.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace doodle {
namespace {

const std::string kExamplesFolder = DC_EXAMPLES_DIR;
constexpr int32_t kLongestMs = 10'000; // every example is short
constexpr int32_t kRootC = 0;

using Stroke = std::vector<GestureLine>; // the sounding points of one press-to-release

std::string examplePath(const std::string& name) {
    return kExamplesFolder + "/" + name + ".sav";
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using RecordingList = std::vector<std::string>;

// The lines of an example as the program opens them; a failure when it cannot.
RecordingList openExample(const std::string& name) {
    const std::optional<Recording> recording = openRecordingFile(examplePath(name));
    if (!recording) {
        ADD_FAILURE() << examplePath(name) << " does not open";
        return {};
    }
    return recording->lineTexts();
}

// A line read field by field as playback reads it.
GestureLine readLine(const std::string& text) {
    auto field = [&](int32_t n) { return roundToWhole(parseDecimal(lineField(text, n))); };
    return {field(kFieldX), field(kFieldY), field(kFieldReleased), field(kFieldTime)};
}

// The strokes of a well-formed recording: sounding points, each run ended by a release line.
std::vector<Stroke> strokesOf(const RecordingList& lines) {
    std::vector<Stroke> strokes(1);
    for (const std::string& text : lines) {
        const GestureLine line = readLine(text);
        if (line.released == 1) {
            strokes.emplace_back();
        } else {
            strokes.back().push_back(line);
        }
    }
    strokes.pop_back(); // after the last release
    return strokes;
}

Scale majorOnC() {
    return buildScale(ScaleMode::Major, kRootC, Scale{});
}

class ExampleFile : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleFile, IsARecordingAsTheProgramSavesIt) {
    const std::string bytes = readBytes(examplePath(GetParam()));
    ASSERT_FALSE(bytes.empty()) << examplePath(GetParam());
    // Every line ends in CR LF, the last one included; no other line end, no zero byte.
    ASSERT_TRUE(bytes.ends_with("\r\n"));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        ASSERT_NE(bytes[i], '\0') << "byte " << i;
        if (bytes[i] == '\r') {
            ASSERT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "bare CR at byte " << i;
        } else if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at byte " << i;
        }
    }

    const RecordingList lines = openExample(GetParam());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), std::ssize(lines));
    int32_t previousMs = 0;
    for (const std::string& text : lines) {
        const GestureLine line = readLine(text);
        // Exactly the four fields, in the program's own plain decimal.
        EXPECT_EQ(formatGestureLine(line), text);
        EXPECT_TRUE(line.x >= 0 && line.x <= kMaxPointX) << text;
        EXPECT_TRUE(line.y >= 0 && line.y <= kMaxPointY) << text;
        EXPECT_TRUE(line.released == 0 || line.released == 1) << text;
        EXPECT_GE(line.elapsedMs, previousMs) << text;
        previousMs = line.elapsedMs;
    }
    EXPECT_LE(previousMs, kLongestMs);
    EXPECT_EQ(readLine(lines.front()).released, 0) << "it must start with a sounding point";
    EXPECT_EQ(readLine(lines.back()).released, 1) << "the last stroke must be released";
}

TEST_P(ExampleFile, PlaysToItsEndInItsOwnTime) {
    const RecordingList lines = openExample(GetParam());
    ASSERT_FALSE(lines.empty());
    const int32_t lengthMs = readLine(lines.back()).elapsedMs;
    const auto presses = std::count_if(
        lines.begin(), lines.end(), [](const std::string& l) { return readLine(l).released == 0; });
    const Recording recording(lines);
    VoiceParams voice;
    VowelWorking vowel;
    Player player(recording, voice, vowel);
    std::ptrdiff_t sounded = 0;
    std::ptrdiff_t released = 0;
    int32_t stoppedAt = -1;
    // One tick a millisecond, at speed 1, as the ticker drives playback.
    for (int32_t tick = 1; tick <= kLongestMs + std::ssize(lines) + 2 && stoppedAt < 0; ++tick) {
        switch (player.step(tick, 1.0, MapControls{}).action) {
        case PlaybackAction::Sound:
            ++sounded;
            break;
        case PlaybackAction::Release:
            ++released;
            break;
        case PlaybackAction::Stop:
            stoppedAt = tick;
            break;
        case PlaybackAction::None:
            break;
        }
    }
    EXPECT_EQ(sounded, presses);
    EXPECT_EQ(released, std::ssize(lines) - presses);
    ASSERT_GT(stoppedAt, 0) << "playback never ended";
    EXPECT_GT(stoppedAt, lengthMs);
    EXPECT_LE(stoppedAt, lengthMs + std::ssize(lines) + 1); // one line a tick at most
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleFile,
                         ::testing::Values("scale-run", "vowel-sweep", "tune"),
                         [](const ::testing::TestParamInfo<const char*>& example) {
                             std::string name = example.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// Major on C: one stroke from left to right that sings two octaves of the scale, C to C,
// every note of it in order, on one vowel.
TEST(Examples, ScaleRunClimbsTwoOctavesOfCMajor) {
    const std::vector<Stroke> strokes = strokesOf(openExample("scale-run"));
    ASSERT_EQ(strokes.size(), 1u);
    const Stroke& stroke = strokes.front();
    ASSERT_FALSE(stroke.empty());
    const Scale scale = majorOnC();
    std::vector<double> pitches; // each new note as the stroke reaches it
    for (const GestureLine& point : stroke) {
        EXPECT_EQ(point.y, stroke.front().y) << "the vowel changes";
        const double hz = mapPitch(point.x, ScaleMode::Major, scale, Tuning::Classic).pitchHz;
        if (pitches.empty() || hz != pitches.back()) {
            pitches.push_back(hz);
        }
    }
    ASSERT_EQ(pitches.size(), 15u) << "not two octaves of seven notes and the top C";
    EXPECT_TRUE(std::is_sorted(pitches.begin(), pitches.end())) << "not from left to right";
    EXPECT_EQ(mapPitch(stroke.front().x, ScaleMode::Major, scale, Tuning::Classic).noteIndex,
              kRootC);
    EXPECT_EQ(mapPitch(stroke.back().x, ScaleMode::Major, scale, Tuning::Classic).noteIndex,
              kRootC);
    EXPECT_DOUBLE_EQ(pitches.back() / pitches.front(), 4.0);
}

// Unrestricted: one stroke at a fixed X from the top row to the bottom one, through all four
// vowel bands, with points all along it.
TEST(Examples, VowelSweepRunsTopToBottomAtOnePitch) {
    const std::vector<Stroke> strokes = strokesOf(openExample("vowel-sweep"));
    ASSERT_EQ(strokes.size(), 1u);
    const Stroke& stroke = strokes.front();
    ASSERT_FALSE(stroke.empty());
    std::vector<int32_t> ys;
    for (const GestureLine& point : stroke) {
        EXPECT_EQ(point.x, stroke.front().x) << "the pitch changes";
        ys.push_back(point.y);
    }
    EXPECT_TRUE(std::is_sorted(ys.begin(), ys.end())) << "not from top to bottom";
    EXPECT_EQ(ys.front(), 0);
    EXPECT_EQ(ys.back(), kMaxPointY);
    constexpr int32_t kBandRows = 50;
    constexpr std::ptrdiff_t kLeastPointsPerBand = 10;
    for (int32_t top = 0; top < kMaxPointY; top += kBandRows) {
        EXPECT_GE(std::count_if(ys.begin(), ys.end(),
                                [&](int32_t y) { return y > top && y <= top + kBandRows; }),
                  kLeastPointsPerBand)
            << "few points below row " << top;
    }
}

// Major on C: several short strokes, each one note, making a melody of more than one note.
TEST(Examples, TuneIsSeparateNotesOfCMajor) {
    const std::vector<Stroke> strokes = strokesOf(openExample("tune"));
    ASSERT_GE(strokes.size(), 3u);
    const Scale scale = majorOnC();
    std::set<int32_t> notes;
    for (const Stroke& stroke : strokes) {
        ASSERT_FALSE(stroke.empty()) << "a release with no point before it";
        const std::optional<int32_t> note =
            mapPitch(stroke.front().x, ScaleMode::Major, scale, Tuning::Classic).noteIndex;
        ASSERT_TRUE(note.has_value());
        for (const GestureLine& point : stroke) {
            EXPECT_EQ(mapPitch(point.x, ScaleMode::Major, scale, Tuning::Classic).pitchHz,
                      mapPitch(stroke.front().x, ScaleMode::Major, scale, Tuning::Classic).pitchHz)
                << "a stroke that sings more than one note";
        }
        notes.insert(*note);
    }
    EXPECT_GE(notes.size(), 3u);
    // It ends where it began, on the root.
    EXPECT_EQ(
        mapPitch(strokes.front().front().x, ScaleMode::Major, scale, Tuning::Classic).noteIndex,
        kRootC);
    EXPECT_EQ(
        mapPitch(strokes.back().front().x, ScaleMode::Major, scale, Tuning::Classic).noteIndex,
        kRootC);
}

} // namespace
} // namespace doodle
