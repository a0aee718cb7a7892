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

std::optional<std::vector<uint8_t>> wavBytes(const Recording& recording,
                                             const RenderSettings& settings, const RenderPlan& plan,
                                             const ExportProgress& progress) {
    const std::optional<FloatWavHeader> header =
        floatWavHeader(static_cast<int32_t>(kRenderSampleRate), plan.sampleCount);
    if (!header) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(header->begin(), header->end());
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
            if (progress) {
                progress(static_cast<int64_t>((bytes.size() - kFloatWavHeaderBytes) /
                                              kFloatWavFrameBytes),
                         plan.sampleCount);
            }
            return true;
        });
    return outcome == RenderOutcome::Finished ? std::optional(std::move(bytes)) : std::nullopt;
}

} // namespace

std::string fileNameWithExtension(std::string_view chosenName, std::string_view extension) {
    std::string name(chosenName);
    if (!endsWithIgnoringAsciiCase(chosenName, extension)) {
        name += extension;
    }
    return name;
}

std::optional<std::vector<uint8_t>> exportBytes(FileKind kind, const Recording& recording,
                                                const RenderSettings& settings,
                                                const ExportProgress& progress) {
    const std::optional<RenderPlan> plan = planRender(recording, settings.playSpeed);
    if (!plan) {
        return std::nullopt;
    }
    switch (kind) {
    case FileKind::Wav:
        return wavBytes(recording, settings, *plan, progress);
    case FileKind::Midi:
        return midiFileOf(recording, settings, *plan);
    case FileKind::Recording:
        break;
    }
    return recordingFileBytes(recording);
}

std::optional<std::vector<uint8_t>> bytesOf(const StoredFile& file) {
    if (file.kind == FileKind::Recording || file.recording == nullptr) {
        return std::vector<uint8_t>(file.bytes.begin(), file.bytes.end());
    }
    return exportBytes(file.kind, *file.recording, file.settings);
}

} // namespace doodle
