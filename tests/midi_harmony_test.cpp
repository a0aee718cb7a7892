// The MIDI export of a chorus: Unison as the voice alone, Harmony as four part tracks read back
// by mido (midi_harmony_check.py) over the examples and a few thousand random drawings.

#include "TempFolderTest.h"
#include "files/RecordingFiles.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "recording/MidiExport.h"
#include "recording/OfflineRender.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace doodle {
namespace {

const std::string kExamplesFolder = DC_EXAMPLES_DIR;
constexpr std::array<std::string_view, 3> kExampleNames{"scale-run", "tune", "vowel-sweep"};
constexpr int32_t kDrawingsPerScale = 1000;
constexpr uint32_t kDrawingSeed = 20261208;

std::vector<Recording> examples() {
    std::vector<Recording> recordings;
    for (const std::string_view name : kExampleNames) {
        std::optional<Recording> recording =
            openRecordingFile(kExamplesFolder + "/" + std::string(name) + ".sav");
        EXPECT_TRUE(recording) << name;
        if (recording) {
            recordings.push_back(std::move(*recording));
        }
    }
    return recordings;
}

std::vector<uint8_t> midiOf(const Recording& recording, const RenderSettings& settings) {
    const std::optional<RenderPlan> plan = planRender(recording, settings.playSpeed);
    EXPECT_TRUE(plan);
    const std::optional<std::vector<uint8_t>> file =
        plan ? midiFileOf(recording, settings, *plan) : std::nullopt;
    EXPECT_TRUE(file);
    return file.value_or(std::vector<uint8_t>{});
}

// A recording's line: "x;y;released;ms".
std::string lineOf(int32_t x, int32_t y, bool released, int64_t timeMs) {
    return std::to_string(x) + ";" + std::to_string(y) + ";" + (released ? "1" : "0") + ";" +
           std::to_string(timeMs);
}

// Strokes of random walks across the whole area, each ended by a release, with pauses between
// them; steps of up to 12 px either way every 2 to 20 ms, so that notes change often.
Recording randomDrawing(std::mt19937& random) {
    std::uniform_int_distribution<int32_t> strokeCount(1, 3);
    std::uniform_int_distribution<int32_t> strokePoints(4, 32);
    std::uniform_int_distribution<int32_t> stepPx(-12, 12);
    std::uniform_int_distribution<int32_t> stepMs(2, 20);
    std::uniform_int_distribution<int32_t> pauseMs(0, 300);
    std::uniform_int_distribution<int32_t> anyX(0, kMaxPointX);
    std::uniform_int_distribution<int32_t> anyY(0, kMaxPointY);
    Recording recording;
    int64_t timeMs = 0;
    for (int32_t stroke = strokeCount(random); stroke > 0; --stroke) {
        int32_t x = anyX(random);
        int32_t y = anyY(random);
        for (int32_t point = strokePoints(random); point > 0; --point) {
            recording.append(lineOf(x, y, false, timeMs));
            x = std::clamp(x + stepPx(random), 0, kMaxPointX);
            y = std::clamp(y + stepPx(random), 0, kMaxPointY);
            timeMs += stepMs(random);
        }
        recording.append(lineOf(x, y, true, timeMs));
        timeMs += pauseMs(random);
    }
    return recording;
}

std::string_view modeName(ScaleMode mode) {
    switch (mode) {
    case ScaleMode::Unrestricted:
        return "unrestricted";
    case ScaleMode::Major:
        return "major";
    case ScaleMode::Minor:
        return "minor";
    case ScaleMode::Pentatonic:
        return "pentatonic";
    }
    return "?";
}

class MidiHarmonyTest : public test::TempFolderTest {
protected:
    // Writes the Harmony and Solo files of a render and lists them for the check.
    void addRender(const Recording& recording, RenderSettings settings) {
        settings.chorus = ChorusMode::Harmony;
        const std::vector<uint8_t> harmony = midiOf(recording, settings);
        settings.chorus = ChorusMode::Solo;
        const std::vector<uint8_t> solo = midiOf(recording, settings);
        const std::string stem = (m_folder / std::to_string(m_renders++)).string();
        writeFile(stem + "h.mid", harmony);
        writeFile(stem + "s.mid", solo);
        m_list << stem << "h.mid " << stem << "s.mid " << modeName(settings.scaleMode) << " "
               << (settings.tuning == Tuning::Classic ? "classic" : "concert") << " "
               << settings.rootIndex << "\n";
    }

    static void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
    }

    int32_t m_renders = 0;
    std::ostringstream m_list{};
};

TEST_F(MidiHarmonyTest, UnisonExportsTheVoiceAloneAndSoloIsFormatZero) {
    for (const Recording& recording : examples()) {
        for (const ScaleMode mode :
             {ScaleMode::Unrestricted, ScaleMode::Major, ScaleMode::Minor, ScaleMode::Pentatonic}) {
            for (const int32_t singers : {1, 2, 4}) {
                RenderSettings settings;
                settings.scaleMode = mode;
                settings.voiceType = singers == 2 ? VoiceType::Type2 : VoiceType::Type1;
                const std::vector<uint8_t> solo = midiOf(recording, settings);
                settings.chorus = ChorusMode::Unison;
                settings.singersPerPart = singers;
                EXPECT_EQ(midiOf(recording, settings), solo) << modeName(mode) << singers;
                // Header: format 0, one track.
                ASSERT_GE(solo.size(), 12U);
                EXPECT_EQ(solo[9], 0);
                EXPECT_EQ(solo[11], 1);
            }
        }
    }
}

TEST_F(MidiHarmonyTest, PartTracksKeepTheRulesOfFourPartWritingAndTheSopranoIsTheVoice) {
    for (const Recording& recording : examples()) {
        for (const ScaleMode mode :
             {ScaleMode::Unrestricted, ScaleMode::Major, ScaleMode::Minor, ScaleMode::Pentatonic}) {
            for (const Tuning tuning : {Tuning::Classic, Tuning::Concert}) {
                for (const int32_t root : {0, 3, 7, 10}) {
                    RenderSettings settings;
                    settings.scaleMode = mode;
                    settings.tuning = tuning;
                    settings.rootIndex = root;
                    addRender(recording, settings);
                }
            }
        }
    }
    std::mt19937 random(kDrawingSeed);
    for (const ScaleMode mode :
         {ScaleMode::Major, ScaleMode::Minor, ScaleMode::Pentatonic, ScaleMode::Unrestricted}) {
        // Fewer in Unrestricted, where only the ratios and the tracks are checked.
        const int32_t drawings =
            mode == ScaleMode::Unrestricted ? kDrawingsPerScale / 10 : kDrawingsPerScale;
        for (int32_t drawing = 0; drawing < drawings; ++drawing) {
            RenderSettings settings;
            settings.scaleMode = mode;
            settings.rootIndex = drawing * 5 % kSemitonesPerOctave; // every root
            settings.tuning = drawing % 2 == 0 ? Tuning::Classic : Tuning::Concert;
            settings.voiceType = drawing % 3 == 0 ? VoiceType::Type2 : VoiceType::Type1;
            addRender(randomDrawing(random), settings);
        }
    }
    const std::filesystem::path list = m_folder / "renders.txt";
    const std::filesystem::path report = m_folder / "report.txt";
    writeBytes(list, m_list.str());
    const std::string command = std::string(DC_PYTHON3) + " " + DC_MIDI_HARMONY_CHECK + " " +
                                list.string() + " > " + report.string() + " 2>&1";
    const int status = std::system(command.c_str());
    const std::string output = readBytes(report);
    std::cout << output.substr(0, output.find('\n')) << "\n";
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("files " + std::to_string(m_renders) + " "), std::string::npos) << output;
    EXPECT_NE(output.find("crossings 0 parallels 0 off-scale 0 out-of-range 0"), std::string::npos)
        << output;
    EXPECT_NE(output.find("\nok\n"), std::string::npos) << output;
}

} // namespace
} // namespace doodle
