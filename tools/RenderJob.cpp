#include "tools/RenderJob.h"

#include "files/Quoted.h"
#include "files/WriteAll.h"
#include "recording/Loudness.h"
#include "recording/MidiExport.h"
#include "recording/RecordingFile.h"
#include "tools/MidiFileOutput.h"
#include "tools/OutputFile.h"
#include "tools/RecordingOutput.h"
#include "tools/SoundFileOutput.h"
#include "tools/ToolConsole.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <span>
#include <unistd.h>
#include <vector>

namespace doodle {
namespace {

constexpr std::chrono::seconds kProgressDelay{1}; // shorter renders show no progress
constexpr int64_t kPercent = 100;
constexpr int kPeakDecimals = 3; // in the full-scale warning
constexpr int kDecibelDecimals = 2;
constexpr std::size_t kNumberChars = 32; // room for a fixed-point double in the warning
constexpr int kNormalizePasses = 2;      // one for the peak, one to write
constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kSecondsPerMinute = 60;
constexpr int kSecondsDigits = 2; // "m:ss.mmm"
constexpr int kMsDigits = 3;

// A percentage on stderr, rewritten in place, once a render has run for a second and only
// when stderr is a terminal; cleared at the end.
class Progress {
public:
    // totalSamples counts the samples of every channel, as the blocks advance() is given.
    Progress(int64_t totalSamples, bool wanted) noexcept
        : m_totalSamples(totalSamples), m_enabled(wanted && ::isatty(STDERR_FILENO) == 1) {}

    void advance(std::size_t samples) {
        m_doneSamples += static_cast<int64_t>(samples);
        if (!m_enabled || std::chrono::steady_clock::now() - m_start < kProgressDelay) {
            return;
        }
        const int64_t percent = m_doneSamples * kPercent / m_totalSamples;
        if (percent == m_shownPercent) {
            return;
        }
        m_shownPercent = percent;
        const std::string line =
            std::string(kRenderProgramName) + ": " + std::to_string(percent) + "%";
        m_shownWidth = line.size();
        printToStderr("\r" + line);
    }

    void clear() {
        if (m_shownWidth > 0) {
            // Built in place rather than by "\r" + ...: GCC 12 warns falsely (-Wrestrict) on
            // that concatenation in optimised builds.
            std::string blank(m_shownWidth + 2, ' ');
            blank.front() = '\r';
            blank.back() = '\r';
            printToStderr(blank);
            m_shownWidth = 0;
        }
    }

private:
    int64_t m_totalSamples = 1;
    bool m_enabled = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    int64_t m_doneSamples = 0;
    int64_t m_shownPercent = -1;
    std::size_t m_shownWidth = 0; // characters of the line on screen, 0 when none
};

// Watches a render, mono or interleaved, for the first sample that is not finite: the voice ran
// away (vowels that change about every millisecond can pump its resonators to infinity), and no
// sound file or player copes with what follows.
class RunawayWatch {
public:
    // False once a block holds such a sample.
    bool pass(std::span<const float> samples) noexcept {
        const auto found =
            std::ranges::find_if(samples, [](float sample) { return !std::isfinite(sample); });
        if (found != samples.end()) {
            m_runawaySample = m_samplesSeen + (found - samples.begin());
            return false;
        }
        m_samplesSeen += static_cast<int64_t>(samples.size());
        return true;
    }
    bool ranAway() const noexcept { return m_runawaySample >= 0; }
    int64_t runawaySample() const noexcept { return m_runawaySample; }

private:
    int64_t m_samplesSeen = 0;
    int64_t m_runawaySample = -1; // the index of the first sample that is not finite, counting
                                  // every channel's
};

// n as text of at least `digits` digits, zeros in front.
std::string zeroPadded(int64_t n, int digits) {
    std::string text = std::to_string(n);
    return std::string(
               static_cast<std::size_t>(std::max(0, digits - static_cast<int>(text.size()))), '0') +
           text;
}

// The time of a sample from the start of the sound, as m:ss.mmm (minutes uncapped).
std::string soundTime(int64_t sampleIndex) {
    const int64_t ms = sampleIndex * kMsPerSecond / kRenderSampleRate;
    const int64_t seconds = ms / kMsPerSecond;
    return std::to_string(seconds / kSecondsPerMinute) + ":" +
           zeroPadded(seconds % kSecondsPerMinute, kSecondsDigits) + "." +
           zeroPadded(ms % kMsPerSecond, kMsDigits);
}

std::string fixedDecimals(double value, int decimals) {
    std::array<char, kNumberChars> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value,
                                            std::chars_format::fixed, decimals);
    return error == std::errc() ? std::string(text.data(), end) : std::string("?");
}

// One line: how far the sound passes full scale and what the format does with it.
std::string clipWarning(const Loudness& loudness, const SoundEncoding& encoding) {
    std::string line(kRenderProgramName);
    line += ": warning: the sound peaks at ";
    line += fixedDecimals(loudness.peak, kPeakDecimals);
    line += " (+";
    line += fixedDecimals(decibelsOf(loudness.peak), kDecibelDecimals);
    line += " dBFS) and ";
    line += std::to_string(loudness.pastFullScale);
    line += loudness.pastFullScale == 1 ? " sample passes" : " samples pass";
    line += " full scale; ";
    line += encoding.format->extension;
    line += encoding.clipsPastFullScale ? " clips them" : " keeps them, but players may clip them";
    line += " (--normalize avoids it)\n";
    return line;
}

// A sound file: with --normalize rendered twice, first for the peak, then scaled by the gain
// that puts it at kNormalizedPeakDbfs, so memory stays flat.
class SoundJob final : public RenderJob {
public:
    SoundJob(const RenderOptions& options, const SoundEncoding& encoding)
        : m_options(options), m_encoding(encoding) {}

    std::string tooLong(const RenderPlan& plan) const override {
        if (m_encoding.maxFrames == 0 || plan.sampleCount <= m_encoding.maxFrames) {
            return {};
        }
        return "plays too long for a " + std::string(m_encoding.format->extension) +
               " file; use .w64, .caf or .flac";
    }

    int run(const Recording& recording, const RenderPlan& plan) override {
        SoundFileOutput output;
        if (!output.open(m_options.outputPath, m_encoding, plan.sampleCount)) {
            return failWith(output.error());
        }
        const RenderSettings& settings = m_options.settings;
        const int64_t channels = m_encoding.channels;
        Progress progress(plan.sampleCount * channels *
                              (m_options.normalize ? kNormalizePasses : 1),
                          !m_options.quiet);
        double gain = 1.0;
        RenderOutcome outcome = RenderOutcome::Finished;
        RunawayWatch runaway;
        if (m_options.normalize) {
            Loudness unscaled;
            outcome = renderRecording(recording, settings, plan, [&](std::span<const float> block) {
                if (interrupted() || !runaway.pass(block)) {
                    return false;
                }
                unscaled.add(block);
                progress.advance(block.size());
                return true;
            });
            gain = normalizingGain(unscaled.peak);
        }
        Loudness written;
        std::vector<float> scaled(
            m_options.normalize ? kRenderBlockFrames * static_cast<std::size_t>(channels) : 0);
        if (outcome == RenderOutcome::Finished) {
            outcome = renderRecording(recording, settings, plan, [&](std::span<const float> block) {
                if (interrupted() || (!m_options.normalize && !runaway.pass(block))) {
                    return false;
                }
                if (m_options.normalize) {
                    std::ranges::transform(block, scaled.begin(), [&](float sample) {
                        return scaledSample(sample, gain);
                    });
                    block = std::span<const float>(scaled.data(), block.size());
                }
                if (!output.write(block)) {
                    return false;
                }
                written.add(block);
                progress.advance(block.size());
                return true;
            });
        }
        progress.clear();
        if (interrupted()) {
            output.discard();
            return endByInterrupt(m_options.outputPath, false);
        }
        if (runaway.ranAway()) {
            output.discard();
            return failWith("the voice runs away at " +
                            soundTime(runaway.runawaySample() / channels) +
                            " into the sound: from there its samples are not finite numbers, "
                            "which no sound file should hold");
        }
        if (outcome != RenderOutcome::Finished) {
            output.discard();
            return failWith(output.error().empty() ? "the render stopped early" : output.error());
        }
        if (!output.commit()) {
            return failWith(output.error());
        }
        if (written.pastFullScale > 0 && !m_options.quiet) {
            printToStderr(clipWarning(written, m_encoding));
        }
        // Held off while a file was rewritten in place, which then completed.
        return interrupted() ? endByInterrupt(m_options.outputPath, true) : 0;
    }

private:
    const RenderOptions& m_options;
    SoundEncoding m_encoding{};
};

// A MIDI file of the notes as played.
class MidiJob final : public RenderJob {
public:
    explicit MidiJob(const RenderOptions& options) : m_options(options) {}

    std::string tooLong(const RenderPlan& plan) const override {
        if (plan.stopTick <= kMidiMaxTick) {
            return {};
        }
        return "plays too long for a " + std::string(kMidiExtension) + " file (over 74 hours)";
    }

    int run(const Recording& recording, const RenderPlan& plan) override {
        const std::optional<std::vector<uint8_t>> bytes =
            midiFileOf(recording, m_options.settings, plan);
        if (!bytes) {
            return failWith("cannot play the recording into a MIDI file");
        }
        return writeWholeOutput(m_options, std::as_bytes(std::span(*bytes)));
    }

private:
    const RenderOptions& m_options;
};

// Every name --type takes, for the message about one it does not.
std::string knownTypes() {
    std::string known;
    for (const OutputFormat& format : outputFormats()) {
        known += format.extension.substr(1);
        known += ' ';
    }
    known += kMidiExtension.substr(1);
    known += ' ';
    known += kRecordingExtension.substr(1);
    return known;
}

ChosenJob refused(std::string reason) {
    return {nullptr, std::move(reason)};
}

} // namespace

ChosenJob chooseRenderJob(const RenderOptions& options) {
    const bool toStandardOutput = options.outputPath == kStandardStreamName;
    bool midi = false;
    bool recording = false;
    const OutputFormat* format = nullptr;
    if (!options.type.empty()) {
        midi = isMidiType(options.type);
        recording = isRecordingType(options.type);
        format = formatForType(options.type);
        if (!midi && !recording && format == nullptr) {
            return refused("--type takes one of " + knownTypes() + ", not " +
                           inQuotes(options.type));
        }
    } else if (toStandardOutput) {
        return refused("standard output (-) needs --type to name the format (see --help)");
    } else {
        midi = isMidiFileName(options.outputPath);
        recording = isRecordingFileName(options.outputPath);
        format = formatForFileName(options.outputPath);
        if (!midi && !recording && format == nullptr) {
            return refused(inQuotes(options.outputPath) +
                           " has no sound, MIDI or recording file extension; use one of " +
                           knownTypes() + " as its extension or with --type");
        }
    }
    if (recording) {
        return chooseRecordingJob(options);
    }
    if (midi) {
        if (options.normalize) {
            return refused("--normalize scales sound files; a " + std::string(kMidiExtension) +
                           " file holds no sound");
        }
        if (options.bits) {
            return refused("--bits sets the samples of a sound file; a " +
                           std::string(kMidiExtension) + " file holds none");
        }
        return {std::make_unique<MidiJob>(options), {}};
    }
    const std::optional<SoundEncoding> encoding =
        encodingFor(*format, options.bits, renderChannels(options.settings));
    if (!encoding) {
        return refused("--bits works with .wav, .aiff, .aif and .flac, not " +
                       std::string(format->extension));
    }
    if (toStandardOutput && !format->streams && !encoding->ownFloatWav) {
        return refused(
            "cannot write " + std::string(format->extension) +
            " to standard output: it is completed by seeking back; use wav (without --bits),"
            " flac, ogg, oga, au or mid, or name a file");
    }
    return {std::make_unique<SoundJob>(options, *encoding), {}};
}

} // namespace doodle
