#include "recording/GestureLine.h"

#include "recording/AsciiCase.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fast_float/fast_float.h>
#include <system_error>

namespace doodle {
namespace {

constexpr std::string_view kPlusInfinity = "+Infinity";
constexpr std::string_view kMinusInfinity = "-Infinity";
constexpr std::string_view kNotANumber = "NaN";

// The white space of the C locale; the user's locale must not change how a file reads.
constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// Saturation bound for an exponent read by hand: far beyond double's range (about 1e±308) yet
// far from int64 overflow when digit counts are added to it.
constexpr int64_t kExponentLimit = 1'000'000'000'000;
constexpr int64_t kDecimalBase = 10;

constexpr double kHalf = 0.5;
constexpr double kInt32Min = std::numeric_limits<int32_t>::min();
constexpr double kInt32Max = std::numeric_limits<int32_t>::max();

constexpr std::size_t kLineFields = 4;
constexpr std::size_t kMaxInt32Chars = 11; // "-2147483648"
constexpr std::size_t kMaxLineChars = kLineFields * kMaxInt32Chars + (kLineFields - 1);

constexpr bool isDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// An exponent as from_chars accepted it: optional sign, then digits. Saturates at
// ±kExponentLimit.
int64_t readExponent(std::string_view text) noexcept {
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    int64_t exponent = 0;
    for (const char c : text) {
        exponent = std::min(exponent * kDecimalBase + (c - '0'), kExponentLimit);
    }
    return negative ? -exponent : exponent;
}

// from_chars reports a number beyond double's range without a value. Which end it fell off
// follows from the decimal exponent of its first significant digit: overflow needs about +308,
// underflow about -324, so the sign decides.
double outOfRangeMagnitude(std::string_view number) noexcept {
    const std::size_t exponentAt = number.find_first_of("eE");
    const std::string_view mantissa = number.substr(0, exponentAt);
    const int64_t exponent =
        exponentAt == std::string_view::npos ? 0 : readExponent(number.substr(exponentAt + 1));
    const std::size_t firstSignificant = mantissa.find_first_not_of("0.");
    if (firstSignificant == std::string_view::npos) {
        return 0.0; // all zeros is never out of range; kept for safety
    }
    const std::size_t pointAt = std::min(mantissa.find('.'), mantissa.size());
    const int64_t leadingExponent = firstSignificant < pointAt
                                        ? static_cast<int64_t>(pointAt - firstSignificant) - 1
                                        : -static_cast<int64_t>(firstSignificant - pointAt);
    return leadingExponent + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

} // namespace

std::string formatGestureLine(const GestureLine& line) {
    std::array<char, kMaxLineChars> text{};
    char* end = text.data() + text.size();
    char* out = text.data();
    for (const int32_t field : {line.x, line.y, line.released, line.elapsedMs}) {
        if (out != text.data()) {
            *out++ = kFieldSeparator;
        }
        // Cannot fail: the buffer holds four int32 at their longest.
        out = std::to_chars(out, end, field).ptr;
    }
    return std::string(text.data(), out);
}

bool hasGestureLineForm(std::string_view line) noexcept {
    std::size_t fields = 0;
    std::size_t at = 0;
    // Each digit run, first the whole part then the fraction, must not be empty.
    auto digits = [&] {
        const std::size_t start = at;
        while (at < line.size() && isDigit(line[at])) {
            ++at;
        }
        return at > start;
    };
    while (true) {
        ++fields;
        if (at < line.size() && (line[at] == '-' || line[at] == '+')) {
            ++at;
        }
        if (!digits()) {
            return false;
        }
        if (at < line.size() && line[at] == '.') {
            ++at;
            if (!digits()) {
                return false;
            }
        }
        if (at == line.size()) {
            return fields == kLineFields;
        }
        if (line[at] != kFieldSeparator || fields == kLineFields) {
            return false;
        }
        ++at;
    }
}

std::string_view lineField(std::string_view line, int32_t n) noexcept {
    if (n < 1) {
        return {};
    }
    std::size_t begin = 0;
    for (int32_t field = 1; field < n; ++field) {
        const std::size_t separator = line.find(kFieldSeparator, begin);
        if (separator == std::string_view::npos) {
            return {};
        }
        begin = separator + 1;
    }
    const std::size_t end = line.find(kFieldSeparator, begin);
    return line.substr(begin, end == std::string_view::npos ? end : end - begin);
}

double parseDecimal(std::string_view text) noexcept {
    if (equalsIgnoringAsciiCase(text, kPlusInfinity)) {
        return std::numeric_limits<double>::infinity();
    }
    if (equalsIgnoringAsciiCase(text, kMinusInfinity)) {
        return -std::numeric_limits<double>::infinity();
    }
    if (equalsIgnoringAsciiCase(text, kNotANumber)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const std::size_t start = text.find_first_not_of(kWhiteSpace);
    if (start == std::string_view::npos) {
        return 0.0;
    }
    std::string_view rest = text.substr(start);
    const bool negative = rest.front() == '-';
    if (negative || rest.front() == '+') {
        rest.remove_prefix(1);
    }
    // from_chars would also read "inf", "nan" and a second "-"; here a number starts with a
    // digit, or with a "." and a digit.
    const bool startsNumber =
        !rest.empty() &&
        (isDigit(rest[0]) || (rest[0] == '.' && rest.size() > 1 && isDigit(rest[1])));
    if (!startsNumber) {
        return 0.0;
    }
    double magnitude = 0.0;
    // fast_float's from_chars reads exactly as std::from_chars does (correctly rounded), and
    // the WebAssembly build's standard library has no floating-point std::from_chars.
    const auto [end, error] = fast_float::from_chars(rest.data(), rest.data() + rest.size(),
                                                     magnitude, fast_float::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        magnitude =
            outOfRangeMagnitude(rest.substr(0, static_cast<std::size_t>(end - rest.data())));
    } else if (error != std::errc{}) {
        return 0.0;
    }
    return negative ? -magnitude : magnitude;
}

int32_t roundToWhole(double value) noexcept {
    if (!std::isfinite(value)) {
        return kNoWholeNumber;
    }
    // Worked out by hand: std::nearbyint would follow whatever rounding mode the thread is in.
    // value - floor(value) is exact for every finite double.
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > kHalf || (fraction == kHalf && std::fmod(whole, 2.0) != 0.0)) {
        whole += 1.0;
    }
    if (whole < kInt32Min || whole > kInt32Max) {
        return kNoWholeNumber;
    }
    return static_cast<int32_t>(whole);
}

} // namespace doodle
