#pragma once

#include "program/Captions.h"
#include "recording/Loudness.h"
#include "recording/OfflineRender.h"
#include "recording/Recording.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace doodle {

// What a save or an export stores. A recording's bytes are ready; a WAV or MIDI export is the
// render of `recording` with `settings`, made by exportBytes where the view may take its time
// (never on the audio thread). `bytes` and `recording` are the caller's, valid during the call.
struct StoredFile {
    FileKind kind = FileKind::Recording;
    std::span<const uint8_t> bytes{};     // FileKind::Recording
    const Recording* recording = nullptr; // FileKind::Wav and FileKind::Midi
    RenderSettings settings{};
};

// The name a file is stored under: the chosen name with `extension` (".sav", ...) appended
// unless its end is that extension already, in any case (a name shorter than it never is).
std::string fileNameWithExtension(std::string_view chosenName, std::string_view extension);

// How far a long export is: samples rendered of the total. Returning false stops the export.
using ExportProgress = std::function<bool(int64_t doneSamples, int64_t totalSamples)>;

// An export's file, and how loud the sound in it is (a MIDI file holds no sound: it never
// passes full scale).
struct RenderedExport {
    std::vector<uint8_t> bytes;
    Loudness loudness{};
};

// The file an export stores: the render tool's 32-bit float WAV or MIDI file, byte for byte.
// Nothing when the settings are invalid, the render would not end or not fit the format, its
// samples stop being finite numbers (a voice run away), or `progress` stopped it.
// A WAV export reports its progress after every block it renders, when asked.
std::optional<RenderedExport> renderExport(FileKind kind, const Recording& recording,
                                           const RenderSettings& settings,
                                           const ExportProgress& progress = {});

// renderExport's bytes alone.
std::optional<std::vector<uint8_t>> exportBytes(FileKind kind, const Recording& recording,
                                                const RenderSettings& settings,
                                                const ExportProgress& progress = {});

// Whether a WAV export's sound passes full scale, where a player may clip it.
bool passesFullScale(const RenderedExport& rendered) noexcept;

// Scales a rendered WAV export so that it peaks at kNormalizedPeakDbfs: the bytes of
// doodlechorus-render --normalize with the same settings. Its loudness becomes the scaled one.
void normalizeWavExport(RenderedExport& wav) noexcept;

// The bytes of a stored file, ready or rendered.
std::optional<std::vector<uint8_t>> bytesOf(const StoredFile& file);

} // namespace doodle
