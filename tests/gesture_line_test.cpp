#include "recording/GestureLine.h"
#include "recording/Recorder.h"

#include <chrono>
#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace doodle {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

TEST(GestureLineFormat, WritesPlainDecimalsJoinedBySemicolons) {
    EXPECT_EQ(formatGestureLine({120, 45, 0, 1532}), "120;45;0;1532");
    EXPECT_EQ(formatGestureLine({-7, 0, 1, kNoWholeNumber}), "-7;0;1;-2147483648");
}

TEST(GestureLineField, TakesFieldsByPositionKeepingBlanks) {
    EXPECT_EQ(lineField("120;45;0;1532", 1), "120");
    EXPECT_EQ(lineField("120;45;0;1532", 4), "1532");
    EXPECT_EQ(lineField("1;2;3;4;5", 4), "4");
    EXPECT_EQ(lineField(" 7 ;x", 1), " 7 ");
    EXPECT_EQ(lineField("no separator", 1), "no separator");
    for (const auto& [line, n] :
         {std::pair{"1;2", 3}, {"", 1}, {";;", 2}, {"1;2;3;", 4}, {"1", 0}}) {
        EXPECT_EQ(lineField(line, n), "") << line << " field " << n;
    }
}

TEST(GestureLineParse, ReadsTheLeadingDecimalNumber) {
    const std::vector<std::pair<std::string_view, double>> cases{
        {"12.5", 12.5},      {" -3e2x", -300.0}, {"+7", 7.0},
        {".5", 0.5},         {"5.", 5.0},        {"\t\n 42", 42.0},
        {"1E+", 1.0},        {"1,5", 1.0},       {"0x1A", 0.0},
        {"abc", 0.0},        {"   ", 0.0},       {"+-5", 0.0},
        {".", 0.0},          {"-.25e1", -2.5},   {"1e400", kInf},
        {"-1e400", -kInf},   {"1e-400", 0.0},    {"0.001e312", kInf},
        {"12345e-330", 0.0}, {"4e-320", 4e-320}, {"1e99999999999999999999", kInf}};
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(parseDecimal(text), value) << '"' << text << '"';
    }
    EXPECT_TRUE(std::signbit(parseDecimal("-1e-400")));
}

TEST(GestureLineParse, ReadsTheWordsForInfinityAndNaNWholeAndInAnyCase) {
    EXPECT_TRUE(std::isnan(parseDecimal("NaN")));
    EXPECT_TRUE(std::isnan(parseDecimal("nAN")));
    EXPECT_EQ(parseDecimal("+Infinity"), kInf);
    EXPECT_EQ(parseDecimal("+iNFINITY"), kInf);
    EXPECT_EQ(parseDecimal("-INFINITY"), -kInf);
    for (const std::string_view text : {"Infinity", "inf", "-inf", " NaN", "NaN1", "+Infinityx"}) {
        EXPECT_EQ(parseDecimal(text), 0.0) << text;
    }
}

TEST(GestureLineParse, IgnoresADecimalCommaLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    const char* installed = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (installed == nullptr && std::setlocale(LC_ALL, name) != nullptr) {
            installed = name;
        }
    }
    if (installed == nullptr) {
        GTEST_SKIP() << "no German or French locale installed";
    }
    const std::string decimalPoint = std::localeconv()->decimal_point;
    const double point = parseDecimal("12.5");
    const double comma = parseDecimal("12,5");
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(decimalPoint, ",") << installed;
    EXPECT_EQ(point, 12.5);
    EXPECT_EQ(comma, 12.0);
}

TEST(GestureLineRound, RoundsHalvesToEvenIntoInt32) {
    const std::vector<std::pair<double, int32_t>> cases{{2.5, 2},
                                                        {3.5, 4},
                                                        {-2.5, -2},
                                                        {-3.5, -4},
                                                        {-0.5, 0},
                                                        {2.4999999, 2},
                                                        {-7.6, -8},
                                                        {2147483647.4, kInt32Max},
                                                        {kInf, kNoWholeNumber},
                                                        {2147483647.5, kNoWholeNumber},
                                                        {1e10, kNoWholeNumber},
                                                        {std::nan(""), kNoWholeNumber}};
    for (const auto& [value, whole] : cases) {
        EXPECT_EQ(roundToWhole(value), whole) << value;
    }
}

TEST(GestureLineClock, ElapsedTimeSpansTheWrapOfTheClock) {
    EXPECT_EQ(elapsedMs(1610, 1532), 78);
    EXPECT_EQ(elapsedMs(kNoWholeNumber + 5, kInt32Max - 4), 10);
}

TEST(GestureLineRecorder, AppendsOnlyWhileRecordingWithTimeSinceTheStart) {
    Recorder recorder;
    Recording list{"left over from before"};
    recorder.startRecording(list, kInt32Max - 9); // the clock wraps during this recording
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(recorder.appendGestureLine(list, true, 120, 45, 0, kInt32Max));
    EXPECT_FALSE(recorder.appendGestureLine(list, false, 121, 46, 0, kNoWholeNumber));
    EXPECT_TRUE(recorder.appendGestureLine(list, true, 120, 45, 1, kNoWholeNumber + 68));
    EXPECT_EQ(list.lineTexts(), (std::vector<std::string>{"120;45;0;9", "120;45;1;78"}));
    // A recorded line's event is what reading its text back gives.
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list.event(i), parseGestureEvent(list.lineTexts()[i])) << i;
    }
}

TEST(GestureLineRecorder, AClockThatCannotBeReadRepeatsTheLastReading) {
    Recorder recorder;
    Recording list;
    recorder.startRecording(list, 5000);
    ASSERT_TRUE(recorder.appendGestureLine(list, true, 10, 20, 0, 5040));
    ASSERT_TRUE(recorder.appendGestureLine(list, true, 11, 21, 0, std::nullopt));
    ASSERT_TRUE(recorder.appendGestureLine(list, true, 11, 21, 1, 5100));
    EXPECT_EQ(list.lineTexts(),
              (std::vector<std::string>{"10;20;0;40", "11;21;0;40", "11;21;1;100"}));
    recorder.startRecording(list, std::nullopt); // starts at the last reading, 5100
    ASSERT_TRUE(recorder.appendGestureLine(list, true, 12, 22, 0, 5130));
    EXPECT_EQ(list.lineTexts(), (std::vector<std::string>{"12;22;0;30"}));
}

TEST(GestureLineRecorder, CountsMillisecondsOnTheMonotonicClock) {
    constexpr auto kPause = std::chrono::milliseconds(30);
    Recorder recorder;
    Recording list;
    recorder.startRecording(list, monotonicMs());
    std::this_thread::sleep_for(kPause);
    ASSERT_TRUE(recorder.appendGestureLine(list, true, 1, 2, 0, monotonicMs()));
    // Only a lower bound: seconds or microseconds would miss it by far, a slow machine cannot.
    EXPECT_GE(list.event(0).timeMs, kPause.count() - 1);
}

} // namespace
} // namespace doodle
