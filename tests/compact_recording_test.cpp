// The compact form of recordings that links carry: exact round trips in every layout, nothing
// for files the program does not write, and any bytes read back safely.
#include "recording/CompactRecording.h"
#include "recording/GestureLine.h"
#include "recording/PlaySpeed.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace doodle {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();
constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

Bytes bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string fileOf(const std::vector<GestureLine>& lines) {
    std::string text;
    for (const GestureLine& line : lines) {
        text += formatGestureLine(line) + "\r\n";
    }
    return text;
}

std::vector<Bytes> examples() {
    std::vector<Bytes> files;
    for (const auto& entry : std::filesystem::directory_iterator(DC_EXAMPLES_DIR)) {
        if (entry.path().extension() == ".sav") {
            std::ifstream in(entry.path(), std::ios::binary);
            files.emplace_back(std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>());
        }
    }
    return files;
}

// value + change, held within int32.
int32_t nudged(int32_t value, int32_t change) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{value} + change, kInt32Min, kInt32Max));
}

// Recordings of every shape: strokes of small steps, jumps across int32, any release values,
// from no line to a few thousand.
std::vector<Bytes> randomFiles() {
    std::mt19937 random(20261208);
    std::vector<Bytes> files{{}};
    for (int32_t file = 0; file < 60; ++file) {
        const auto lineCount =
            std::uniform_int_distribution<int32_t>(1, file < 50 ? 40 : 3000)(random);
        std::uniform_int_distribution<int32_t> any(kInt32Min, kInt32Max);
        std::uniform_int_distribution<int32_t> step(-4, 4);
        GestureLine line{120, 100, 0, 0};
        std::vector<GestureLine> lines;
        for (int32_t i = 0; i < lineCount; ++i) {
            switch (random() % 8) {
            case 0:
                line = {any(random), any(random), any(random), any(random)};
                break;
            case 1:
                line.released = random() % 2 == 0 ? 1 : kInt32Min;
                break;
            case 2:
                line = {kInt32Max, kInt32Min, 0, kInt32Max};
                break;
            default:
                line.x = nudged(line.x, step(random));
                line.y = nudged(line.y, step(random));
                line.released = 0;
                line.elapsedMs = nudged(line.elapsedMs, 16 + step(random));
            }
            lines.push_back(line);
        }
        files.push_back(bytesOf(fileOf(lines)));
    }
    return files;
}

TEST(CompactRecording, EveryLayoutGivesBackExactlyTheExamplesAndRandomRecordings) {
    std::vector<Bytes> files = examples();
    ASSERT_GE(files.size(), 3U);
    const std::vector<Bytes> random = randomFiles();
    files.insert(files.end(), random.begin(), random.end());
    for (const Bytes& file : files) {
        for (std::size_t layout = 0; layout < kCompactLayoutCount; ++layout) {
            const std::optional<Bytes> compact = compactRecording(file, layout);
            ASSERT_TRUE(compact.has_value()) << file.size() << " bytes, layout " << layout;
            const ExpandedRecording expanded = expandCompactRecording(*compact, kUnlimited);
            ASSERT_EQ(expanded.problem, ExpandProblem::None) << layout;
            EXPECT_EQ(expanded.savBytes, file) << layout;
            // Exactly as large as the file is allowed; a byte less is too large.
            EXPECT_EQ(expandCompactRecording(*compact, file.size()).problem, ExpandProblem::None);
            if (!file.empty()) {
                const ExpandedRecording over = expandCompactRecording(*compact, file.size() - 1);
                EXPECT_EQ(over.problem, ExpandProblem::TooLarge) << layout;
                EXPECT_TRUE(over.savBytes.empty());
            }
        }
    }
    EXPECT_FALSE(compactRecording(files.front(), kCompactLayoutCount).has_value());
}

TEST(CompactRecording, FilesNotExactlyAsTheProgramWritesThemHaveNoCompactForm) {
    for (const std::string text : {"1;2;0;3\n",
                                   "1;2;0;3",
                                   "1;2;0;3\r\n4;5;0;6",
                                   "1;2;0;3\r",
                                   "\r\n",
                                   "1;2;0;3\r\n\r\n",
                                   "-0;2;0;3\r\n",
                                   "01;2;0;3\r\n",
                                   "+1;2;0;3\r\n",
                                   "1.0;2;0;3\r\n",
                                   "1;2;0\r\n",
                                   "1;2;0;3;4\r\n",
                                   "1;2;0;3;\r\n",
                                   " 1;2;0;3\r\n",
                                   "1;2;0;3 \r\n",
                                   "1;;0;3\r\n",
                                   "2147483648;2;0;3\r\n",
                                   "1;-2147483649;0;3\r\n",
                                   "1;2;0;3\r\r\n",
                                   "1;2;0;3\n\r\n",
                                   "NaN;2;0;3\r\n",
                                   "1;2;x;3\r\n"}) {
        for (std::size_t layout = 0; layout < kCompactLayoutCount; ++layout) {
            EXPECT_FALSE(compactRecording(bytesOf(text), layout).has_value()) << text;
        }
    }
    const std::string withZero("1;2;0;3\r\n4;5;0\0;6\r\n", 19);
    EXPECT_FALSE(compactRecording(bytesOf(withZero), 0).has_value());
    // The extremes of int32 are written as the program writes them, and are taken.
    EXPECT_TRUE(compactRecording(bytesOf("-2147483648;2147483647;-1;0\r\n"), 0).has_value());
}

TEST(CompactRecording, DamagedCutAndHostileBytesAreRefusedWithoutLargeAllocations) {
    const Bytes file = examples().front();
    for (std::size_t layout = 0; layout < kCompactLayoutCount; ++layout) {
        const Bytes compact = *compactRecording(file, layout);
        // Every cut, and every single bit changed: refused, never another recording.
        for (std::size_t size = 0; size < compact.size(); ++size) {
            const Bytes cut(compact.begin(), compact.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_EQ(expandCompactRecording(cut, kUnlimited).problem, ExpandProblem::Damaged);
        }
        for (std::size_t bit = 0; bit < 8 * compact.size(); ++bit) {
            Bytes changed = compact;
            changed[bit / 8] = static_cast<uint8_t>(changed[bit / 8] ^ (1U << (bit % 8)));
            const ExpandedRecording expanded = expandCompactRecording(changed, kUnlimited);
            EXPECT_NE(expanded.problem, ExpandProblem::None) << layout << " bit " << bit;
        }
        Bytes longer = compact;
        longer.push_back(0);
        EXPECT_EQ(expandCompactRecording(longer, kUnlimited).problem, ExpandProblem::Damaged);
    }

    // Headers that ask for more than the bytes could hold, numbers past 64 bits or past int32,
    // unknown layouts, joined bytes beyond their half-widths.
    const std::vector<Bytes> hostile{
        {},
        {0x10, 0, 0, 0, 0},                               // an unknown layout bit
        {0x0A, 1, 0, 0, 0, 0, 0, 0, 0},                   // rows with release runs
        {0, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0, 0, 0, 0, 0}, // 2^32 lines in 11 bytes
        {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0}, // past 64 bits
        {0, 1, 0, 0x80, 0x80, 0x80, 0x80, 0x02, 0, 0, 0, 0, 0},       // x of 2^32 / 2: past int32
        {0, 1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x02, 0, 0, 0, 0, 0, 0}, // a base beyond ±2^34
        {4, 1, 0, 7, 7, 7, 0, 0, 0, 0},                               // half-widths of 3375 symbols
        {4, 1, 0, 8, 0, 0, 0, 0, 0, 0},                               // a half-width past 7
        {4, 1, 0, 1, 1, 1, 27, 0, 0, 0},                              // symbol 27 of 27
        {2, 2, 0, 0, 0, 0, 0, 0, 3, 0, 0},                            // a run longer than the lines
        {2, 1, 0, 0, 0, 0, 0, 0, 0, 0},                               // a run of no line
    };
    for (const Bytes& bytes : hostile) {
        EXPECT_EQ(expandCompactRecording(bytes, kUnlimited).problem, ExpandProblem::Damaged)
            << bytes.size();
    }
    // A million zero lines in a few MiB of zeros: too large for 1 MiB, refused before writing.
    Bytes million{0, 0xC0, 0x84, 0x3D, 0};
    million.resize(million.size() + 4'000'002, 0);
    EXPECT_EQ(expandCompactRecording(million, 1 << 20).problem, ExpandProblem::TooLarge);

    // Random bytes: whatever is taken is a recording the program could have written.
    std::mt19937 random(7);
    for (int32_t round = 0; round < 20'000; ++round) {
        Bytes bytes(random() % 40);
        for (uint8_t& byte : bytes) {
            byte = static_cast<uint8_t>(random() % (round % 2 == 0 ? 4 : 256));
        }
        const ExpandedRecording expanded = expandCompactRecording(bytes, 4096);
        if (expanded.problem == ExpandProblem::None) {
            EXPECT_LE(expanded.savBytes.size(), 4096U);
            EXPECT_TRUE(compactRecording(expanded.savBytes, 0).has_value());
        }
    }
}

// Every setting the controls can take has its own number, and each number in range gives its
// settings back; settings out of range and numbers beyond have none.
TEST(LinkSettings, EverySettingHasItsOwnNumberAndNothingElseHasOne) {
    std::set<int32_t> numbers;
    for (int32_t tuning = 0; tuning < 2; ++tuning) {
        for (int32_t scaleMode = 0; scaleMode < 4; ++scaleMode) {
            for (int32_t rootIndex = 0; rootIndex < 12; ++rootIndex) {
                for (int32_t voiceType = 1; voiceType <= 2; ++voiceType) {
                    for (int32_t speedTenths = 10; speedTenths <= 50; ++speedTenths) {
                        for (const bool grid : {false, true}) {
                            const ControlSettings settings{scaleMode,   rootIndex, voiceType,
                                                           speedTenths, grid,      tuning};
                            const int32_t number = linkSettingsNumber(settings);
                            ASSERT_GE(number, 0);
                            numbers.insert(number);
                            const std::optional<ControlSettings> back = linkSettingsOf(number);
                            ASSERT_TRUE(back.has_value()) << number;
                            EXPECT_EQ(std::tuple(back->scaleMode, back->rootIndex, back->voiceType,
                                                 back->speedTenths, back->grid, back->tuning),
                                      std::tuple(scaleMode, rootIndex, voiceType, speedTenths, grid,
                                                 tuning));
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(numbers.size(), std::size_t{2 * 4 * 12 * 2 * 41 * 2});
    EXPECT_EQ(*numbers.rbegin(), static_cast<int32_t>(numbers.size()) - 1) << "no gaps";
    for (const ControlSettings& outOfRange :
         {ControlSettings{4, 0, 1, 10, false}, ControlSettings{0, 12, 1, 10, false},
          ControlSettings{0, 0, 3, 10, false}, ControlSettings{0, 0, 1, 9, false},
          ControlSettings{0, 0, 1, 51, false}, ControlSettings{-1, 0, 1, 10, false},
          ControlSettings{0, 0, 1, 10, false, 2}, ControlSettings{0, 0, 1, 10, false, -1}}) {
        EXPECT_EQ(linkSettingsNumber(outOfRange), -1);
    }
    EXPECT_FALSE(linkSettingsOf(-1).has_value());
    EXPECT_FALSE(linkSettingsOf(static_cast<int64_t>(numbers.size())).has_value());
}

// Links made before there was a choice of tuning keep their meaning: each number the links'
// mixed radix of scale mode, root, voice type, grid and speed gave (written out here as it
// was) reads as the same settings under Classic, and Classic settings get the same number.
// A Concert number lies beyond all of them and comes back as Concert.
TEST(LinkSettings, NumbersMadeBeforeTheTuningReadAsClassic) {
    constexpr int32_t kOldCount = 4 * 12 * 2 * 2 * 41;
    const auto oldNumber = [](const ControlSettings& s) {
        return (((s.scaleMode * 12 + s.rootIndex) * 2 + (s.voiceType - 1)) * 2 + (s.grid ? 1 : 0)) *
                   41 +
               (s.speedTenths - 10);
    };
    for (int32_t number = 0; number < kOldCount; ++number) {
        const std::optional<ControlSettings> read = linkSettingsOf(number);
        ASSERT_TRUE(read.has_value()) << number;
        ASSERT_EQ(read->tuning, 0) << number;
        ASSERT_EQ(oldNumber(*read), number);
        ASSERT_EQ(linkSettingsNumber(*read), number);
    }
    const ControlSettings concert{2, 9, 2, 35, true, 1};
    const int32_t number = linkSettingsNumber(concert);
    EXPECT_EQ(number, kOldCount + oldNumber(concert));
    const std::optional<ControlSettings> back = linkSettingsOf(number);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(std::tuple(back->scaleMode, back->rootIndex, back->voiceType, back->speedTenths,
                         back->grid, back->tuning),
              std::tuple(2, 9, 2, 35, true, 1));
}

// The settings as the controls hold them and as a playback reads them are one: each way and
// back gives the same, on every speed the slider sets.
TEST(ControlSettings, PlaybackSettingsAndControlsGoBothWays) {
    for (int32_t speedTenths = kMinPlaySpeedTenths; speedTenths <= kMaxPlaySpeedTenths;
         ++speedTenths) {
        const ControlSettings chosen{3, 7, 2, speedTenths, true, 1};
        const RenderSettings played = renderSettingsOf(chosen);
        EXPECT_EQ(played.scaleMode, ScaleMode::Pentatonic);
        EXPECT_EQ(played.rootIndex, 7);
        EXPECT_EQ(played.voiceType, VoiceType::Type2);
        EXPECT_EQ(played.tuning, Tuning::Concert);
        EXPECT_DOUBLE_EQ(played.playSpeed, speedTenths / kTenthsPerPlaySpeed);
        EXPECT_EQ(mapControlsFor(played).tuning, Tuning::Concert);
        const ControlSettings back = controlSettingsOf(played, true);
        EXPECT_EQ(std::tuple(back.scaleMode, back.rootIndex, back.voiceType, back.speedTenths,
                             back.grid, back.tuning),
                  std::tuple(3, 7, 2, speedTenths, true, 1));
        EXPECT_FALSE(controlSettingsOf(played, false).grid);
    }
}

} // namespace
} // namespace doodle
