// Renders a short sung vowel sweep through the voice engine into a WAV file: a check of the
// engine by ear until the program's window exists.
#include "voice/ResonatorTuning.h"
#include "voice/Synth.h"

#include <array>
#include <cstdio>
#include <sndfile.h>

namespace {

constexpr int kSeconds = 2;
constexpr double kPitchHz = 150.0;
constexpr std::size_t kBlockFrames = 441; // 10 ms

// "ee" to "ah": the formant sets at the top and the end of the first band of voice type 1.
constexpr std::array<double, 6> kFrom{310, 2020, 2960, 45, 200, 400};
constexpr std::array<double, 6> kTo{620, 1660, 2430, 70, 150, 320};

void setVowel(doodle::VoiceParams& voice, double frac) {
    auto lerp = [frac](std::size_t i) { return kFrom[i] + frac * (kTo[i] - kFrom[i]); };
    voice.res1.freq.store(lerp(0));
    voice.res2.freq.store(lerp(1));
    voice.res3.freq.store(lerp(2));
    voice.res1.bw.store(lerp(3));
    voice.res2.bw.store(lerp(4));
    voice.res3.bw.store(lerp(5));
    doodle::tuneResonators(voice);
}

} // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "vowel-demo.wav";
    SF_INFO info{};
    info.samplerate = static_cast<int>(doodle::VoiceParams::sampleRate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "vowel-demo: cannot write %s: %s\n", path, sf_strerror(nullptr));
        return 2;
    }

    doodle::VoiceParams voice;
    doodle::stopVoice(voice);
    doodle::startVoice(voice);
    voice.pitch.store(kPitchHz);
    doodle::setPitch(voice);
    std::array<float, kBlockFrames> block{};
    const std::size_t blocks = kSeconds * 100;
    for (std::size_t b = 0; b < blocks; ++b) {
        setVowel(voice, static_cast<double>(b) / static_cast<double>(blocks));
        if (b + 10 == blocks) {
            doodle::stopVoice(voice); // the last 100 ms carry the fade-out
        }
        doodle::renderVoice(voice, block.data(), block.size());
        if (sf_writef_float(file, block.data(), static_cast<sf_count_t>(block.size())) !=
            static_cast<sf_count_t>(block.size())) {
            std::fprintf(stderr, "vowel-demo: write failed: %s\n", sf_strerror(file));
            sf_close(file);
            return 2;
        }
    }
    if (sf_close(file) != 0) {
        std::fprintf(stderr, "vowel-demo: cannot finish %s\n", path);
        return 2;
    }
    std::printf("Wrote %d s of a sung vowel sweep to %s\n", kSeconds, path);
    return 0;
}
