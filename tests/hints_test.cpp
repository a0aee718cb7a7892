#include "program/Hints.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace doodle {
namespace {

// The names the page gave before the table moved into the program: its script's answers for
// the same formants, read once from it.
TEST(HintsTest, VowelsAreNamedAsThePageNamedThemAndTheAxisFollowsTheVowelMap) {
    EXPECT_EQ(spokenVowelName(270, 2290), "ee") << "a table entry names itself";
    EXPECT_EQ(spokenVowelName(300, 870), "oo");
    EXPECT_EQ(spokenVowelName(440, 1020), "u");
    EXPECT_EQ(spokenVowelName(640, 1190), "uh");
    EXPECT_EQ(spokenVowelName(500, 1400), "er");
    EXPECT_EQ(spokenVowelName(1000, 3000), "a") << "beyond the table: the nearest on a log scale";
    EXPECT_EQ(spokenVowelName(200, 600), "oo");

    const auto axis = [](VoiceType type) {
        std::vector<int32_t> rows;
        std::vector<std::string> names;
        for (const VowelLabel& label : vowelLabels(type)) {
            rows.push_back(label.y);
            names.emplace_back(label.name);
            EXPECT_EQ(label.name, spokenVowelName(label.f1Hz, label.f2Hz));
        }
        return std::make_pair(rows, names);
    };
    const std::vector<int32_t> bandEnds = {0, 50, 100, 150, 200};
    EXPECT_EQ(axis(VoiceType::Type1),
              std::make_pair(bandEnds, std::vector<std::string>{"ee", "a", "aw", "oo", "ah"}));
    EXPECT_EQ(axis(VoiceType::Type2),
              std::make_pair(bandEnds, std::vector<std::string>{"ih", "ee", "a", "oo", "uh"}));
    const std::vector<VowelLabel> type1 = vowelLabels(VoiceType::Type1);
    EXPECT_DOUBLE_EQ(type1[1].f1Hz, 620.0) << "the formants of the first band's end row";
    EXPECT_DOUBLE_EQ(type1[1].f2Hz, 1660.0);
}

} // namespace
} // namespace doodle
