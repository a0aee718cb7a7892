#include "program/ExportCaptions.h"

#include <cmath>
#include <cstdint>

namespace doodle {
namespace {

constexpr double kHundredths = 100.0; // decibels are shown to two decimals
constexpr int64_t kHundredthsPerUnit = 100;
constexpr int kDecimalDigits = 2;

// A level in dB with its sign and two decimals, "+2.35" or "-1.00". Built from integers
// rather than with to_chars, which the WebAssembly build's library lacks for doubles.
std::string signedDecibels(double decibels) {
    const auto hundredths = static_cast<int64_t>(std::llround(decibels * kHundredths));
    const int64_t magnitude = hundredths < 0 ? -hundredths : hundredths;
    std::string fraction = std::to_string(magnitude % kHundredthsPerUnit);
    fraction.insert(0, static_cast<std::size_t>(kDecimalDigits) - fraction.size(), '0');
    return std::string(hundredths < 0 ? "-" : "+") +
           std::to_string(magnitude / kHundredthsPerUnit) + "." + fraction;
}

} // namespace

std::string clipQuestionText(const Loudness& loudness) {
    std::string text = "The sound peaks at " + signedDecibels(decibelsOf(loudness.peak)) +
                       " dBFS: " + std::to_string(loudness.pastFullScale);
    text += loudness.pastFullScale == 1 ? " sample passes" : " samples pass";
    text += " full scale, where players may clip them.\nNormalize lowers it to peak at " +
            signedDecibels(kNormalizedPeakDbfs) + " dBFS.";
    return text;
}

} // namespace doodle
