#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace doodle {

inline constexpr char kFieldSeparator = ';';

// 1-based positions of the fields of a gesture line; fields after the fourth are never read.
inline constexpr int32_t kFieldX = 1;
inline constexpr int32_t kFieldY = 2;
inline constexpr int32_t kFieldReleased = 3;
inline constexpr int32_t kFieldTime = 4;

// What a whole number read from a line becomes when it has none: NaN, an infinity, or a value
// outside int32 after rounding.
inline constexpr int32_t kNoWholeNumber = std::numeric_limits<int32_t>::min();

// One recorded drawing event. Written as "x;y;released;elapsedMs" in plain decimal (a "-" only
// for negatives, no leading zeros), e.g. "120;45;0;1532".
struct GestureLine {
    int32_t x = 0;         // px, 0..kMaxPointX
    int32_t y = 0;         // px, 0..kMaxPointY
    int32_t released = 0;  // 0 while the voice sounds, 1 for a button release
    int32_t elapsedMs = 0; // since the record toggle went down
};

std::string formatGestureLine(const GestureLine& line);

// Whether a line has the form of a recorded line: exactly four decimal numbers joined by ";",
// each an optional "+" or "-", one or more digits and an optional "." with one or more digits,
// and nothing else (no blanks, no exponent, no words such as NaN). Every line the program
// records has it ("120;45;0;1532"); readers take every other line too, by their lenient rules.
bool hasGestureLineForm(std::string_view line) noexcept;

// Field n (counting from 1) of a line: the text between the (n-1)-th and n-th ";", the last
// one running to the end of the line. Empty when the line has fewer than n fields (or n < 1).
// Blanks are kept. The result points into `line`.
std::string_view lineField(std::string_view line, int32_t n) noexcept;

// Reads a number as written in C, whatever the process locale: "+Infinity", "-Infinity" and
// "NaN" (the whole text, any case) give the infinities and NaN; otherwise leading white space,
// an optional sign, digits with an optional "." and fraction, an optional exponent. Reading
// stops at the first character that does not fit; text that does not start with a number
// gives 0.0. Magnitudes beyond double's range give an infinity, ones below it a signed zero.
double parseDecimal(std::string_view text) noexcept;

// Rounds to the nearest whole number, halves to the even neighbour (2.5 gives 2, -2.5 gives
// -2). NaN, the infinities and results outside int32 give kNoWholeNumber.
int32_t roundToWhole(double value) noexcept;

} // namespace doodle
