#include "program/Exports.h"

#include "recording/AsciiCase.h"
#include "recording/MidiExport.h"
#include "recording/RecordingFile.h"
#include "recording/WavFile.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace doodle {
namespace {

std::optional<RenderedExport> renderedWav(const Recording& recording,
                                          const RenderSettings& settings, const RenderPlan& plan,
                                          const ExportProgress& progress) {
    const std::optional<FloatWavHeader> header =
        floatWavHeader(static_cast<int32_t>(kRenderSampleRate), plan.sampleCount);
    if (!header) {
        return std::nullopt;
    }
    RenderedExport rendered{std::vector<uint8_t>(header->begin(), header->end())};
    std::vector<uint8_t>& bytes = rendered.bytes;
    bytes.reserve(kFloatWavHeaderBytes +
                  static_cast<std::size_t>(plan.sampleCount) * kFloatWavFrameBytes);
    const RenderOutcome outcome =
        renderRecording(recording, settings, plan, [&](std::span<const float> samples) {
            // A voice that ran away: no sound file should hold what is no number.
            if (!std::all_of(samples.begin(), samples.end(),
                             [](float sample) { return std::isfinite(sample); })) {
                return false;
            }
            appendFloatSamples(bytes, samples);
            rendered.loudness.add(samples);
            return !progress ||
                   progress(static_cast<int64_t>((bytes.size() - kFloatWavHeaderBytes) /
                                                 kFloatWavFrameBytes),
                            plan.sampleCount);
        });
    return outcome == RenderOutcome::Finished ? std::optional(std::move(rendered)) : std::nullopt;
}

} // namespace

std::string fileNameWithExtension(std::string_view chosenName, std::string_view extension) {
    std::string name(chosenName);
    if (!endsWithIgnoringAsciiCase(chosenName, extension)) {
        name += extension;
    }
    return name;
}

std::optional<RenderedExport> renderExport(FileKind kind, const Recording& recording,
                                           const RenderSettings& settings,
                                           const ExportProgress& progress) {
    const std::optional<RenderPlan> plan = planRender(recording, settings.playSpeed);
    if (!plan) {
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> bytes;
    switch (kind) {
    case FileKind::Wav:
        return renderedWav(recording, settings, *plan, progress);
    case FileKind::Midi:
        bytes = midiFileOf(recording, settings, *plan);
        break;
    case FileKind::Recording:
        bytes = recordingFileBytes(recording);
        break;
    }
    if (!bytes) {
        return std::nullopt;
    }
    return RenderedExport{std::move(*bytes)};
}

std::optional<std::vector<uint8_t>> exportBytes(FileKind kind, const Recording& recording,
                                                const RenderSettings& settings,
                                                const ExportProgress& progress) {
    std::optional<RenderedExport> rendered = renderExport(kind, recording, settings, progress);
    if (!rendered) {
        return std::nullopt;
    }
    return std::move(rendered->bytes);
}

bool passesFullScale(const RenderedExport& rendered) noexcept {
    return rendered.loudness.pastFullScale > 0;
}

void normalizeWavExport(RenderedExport& wav) noexcept {
    if (wav.bytes.size() < kFloatWavHeaderBytes) {
        return;
    }
    const double gain = normalizingGain(wav.loudness.peak);
    const std::span<uint8_t> samples = std::span(wav.bytes).subspan(kFloatWavHeaderBytes);
    scaleFloatSamples(samples, gain);
    Loudness scaled;
    scaled.peak = scaledSample(wav.loudness.peak, gain);
    wav.loudness = scaled;
}

std::optional<std::vector<uint8_t>> bytesOf(const StoredFile& file) {
    if (file.kind == FileKind::Recording || file.recording == nullptr) {
        return std::vector<uint8_t>(file.bytes.begin(), file.bytes.end());
    }
    return exportBytes(file.kind, *file.recording, file.settings);
}

} // namespace doodle
