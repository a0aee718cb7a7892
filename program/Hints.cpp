#include "program/Hints.h"

#include <array>
#include <cmath>
#include <limits>

namespace doodle {
namespace {

struct SpokenVowel {
    std::string_view name;
    double f1Hz;
    double f2Hz;
};

// The averages of men's vowels measured by Peterson and Barney (1952), in Hz.
constexpr std::array<SpokenVowel, 10> kSpokenVowels{{
    {"ee", 270, 2290}, // beet
    {"ih", 390, 1990}, // bit
    {"eh", 530, 1840}, // bet
    {"a", 660, 1720},  // bat
    {"ah", 730, 1090}, // father
    {"aw", 570, 840},  // bought
    {"u", 440, 1020},  // book
    {"oo", 300, 870},  // boot
    {"uh", 640, 1190}, // but
    {"er", 490, 1350}, // bird
}};

} // namespace

std::string_view spokenVowelName(double f1Hz, double f2Hz) {
    // Nearness on a logarithmic frequency scale, where equal ratios are equal steps, as the
    // ear hears them.
    std::string_view best = kSpokenVowels.front().name;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const SpokenVowel& vowel : kSpokenVowels) {
        const double distance =
            std::hypot(std::log(f1Hz / vowel.f1Hz), std::log(f2Hz / vowel.f2Hz));
        if (distance < bestDistance) {
            best = vowel.name;
            bestDistance = distance;
        }
    }
    return best;
}

std::vector<VowelLabel> vowelLabels(VoiceType voiceType) {
    std::vector<VowelLabel> labels;
    for (int32_t y = 0; y <= kMaxPointY; ++y) {
        VowelWorking working;
        const FormantSet formants = mapVowel(y, voiceType, working);
        if (working.vowelFrac != 0.0 && working.vowelFrac != 1.0) {
            continue; // between two vowels
        }
        const double f1Hz = formants.freqHz[0];
        const double f2Hz = formants.freqHz[1];
        labels.push_back({y, f1Hz, f2Hz, spokenVowelName(f1Hz, f2Hz)});
    }
    return labels;
}

} // namespace doodle
