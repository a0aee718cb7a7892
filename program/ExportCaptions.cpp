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
    const std::string fraction = std::to_string(magnitude % kHundredthsPerUnit);
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on chains of + in optimised
    // builds.
    std::string text(1, hundredths < 0 ? '-' : '+');
    text += std::to_string(magnitude / kHundredthsPerUnit);
    text += '.';
    text.append(static_cast<std::size_t>(kDecimalDigits) - fraction.size(), '0');
    text += fraction;
    return text;
}

} // namespace

std::string clipQuestionText(const Loudness& loudness) {
    std::string text = "The sound peaks at ";
    text += signedDecibels(decibelsOf(loudness.peak));
    text += " dBFS: ";
    text += std::to_string(loudness.pastFullScale);
    text += loudness.pastFullScale == 1 ? " sample passes" : " samples pass";
    text += " full scale, where players may clip them.\nNormalize lowers it to peak at ";
    text += signedDecibels(kNormalizedPeakDbfs);
    text += " dBFS.";
    return text;
}

} // namespace doodle
