// Cost of one chord of the choir: HarmonyVoicer::next() on a seeded lead line, each call a new
// lead note as the caller makes them. Without a scale the voicer takes its widest search (every
// semitone of every part's range), the bound of its fallbacks.
#include "mapping/Harmony.h"
#include "mapping/PitchMap.h"

#include <benchmark/benchmark.h>
#include <random>
#include <vector>

namespace {

using namespace doodle;

constexpr int32_t kBaseMidiNote = 32;
constexpr int32_t kHighestLeadSemitone = 47;
constexpr std::size_t kLineNotes = 4096;

// Steps of one or two notes of `pitchClasses`, and a leap one time in five; never the same note
// twice in a row.
std::vector<int32_t> leadLine(const std::vector<int32_t>& pitchClasses) {
    std::vector<int32_t> notes;
    for (int32_t semitone = 0; semitone <= kHighestLeadSemitone; ++semitone) {
        for (const int32_t pitchClass : pitchClasses) {
            if (semitone % kSemitonesPerOctave == pitchClass) {
                notes.push_back(semitone);
            }
        }
    }
    std::mt19937 random(4096);
    std::uniform_int_distribution<int32_t> percent(0, 99);
    std::uniform_int_distribution<int32_t> step(1, 2);
    std::uniform_int_distribution<int32_t> leap(3, 10);
    std::bernoulli_distribution down(0.5);
    const auto last = static_cast<int32_t>(notes.size()) - 1;
    int32_t index = last / 2;
    std::vector<int32_t> line;
    while (line.size() < kLineNotes) {
        int32_t degrees = percent(random) < 80 ? step(random) : leap(random);
        degrees = down(random) ? -degrees : degrees;
        index = index + degrees < 0 || index + degrees > last ? index - degrees : index + degrees;
        line.push_back(notes[static_cast<std::size_t>(index)]);
    }
    return line;
}

void singLine(benchmark::State& state, const std::vector<int32_t>& scale,
              const std::vector<int32_t>& leadPitchClasses) {
    const std::vector<int32_t> line = leadLine(leadPitchClasses);
    constexpr int32_t kRootPitchClass = 0;
    HarmonyVoicer voicer;
    std::size_t at = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(voicer.next(line[at], scale, kRootPitchClass, kBaseMidiNote));
        at = (at + 1) % line.size();
    }
    state.SetItemsProcessed(state.iterations());
}

std::vector<int32_t> scaleOf(ScaleMode mode) {
    const Scale scale = buildScale(mode, 0, Scale{});
    if (mode == ScaleMode::Pentatonic) {
        return {scale.scaleNotes5.begin(), scale.scaleNotes5.end()};
    }
    return {scale.scaleNotes7.begin(), scale.scaleNotes7.end()};
}

void BM_HarmonyMajor(benchmark::State& state) {
    const std::vector<int32_t> scale = scaleOf(ScaleMode::Major);
    singLine(state, scale, scale);
}
BENCHMARK(BM_HarmonyMajor);

void BM_HarmonyPentatonic(benchmark::State& state) {
    const std::vector<int32_t> scale = scaleOf(ScaleMode::Pentatonic);
    singLine(state, scale, scale);
}
BENCHMARK(BM_HarmonyPentatonic);

void BM_HarmonyNoScale(benchmark::State& state) {
    singLine(state, {}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
}
BENCHMARK(BM_HarmonyNoScale);

} // namespace

BENCHMARK_MAIN();
