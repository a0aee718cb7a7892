#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace doodle {

// Bytes before the first sample of a float WAV file: RIFF, an 18-byte fmt chunk
// (WAVE_FORMAT_IEEE_FLOAT, cbSize 0), a fact chunk, a PAD chunk and the data chunk's header.
inline constexpr std::size_t kFloatWavHeaderBytes = 80;
// Bytes of one 32-bit float sample, a mono frame.
inline constexpr std::size_t kFloatWavFrameBytes = 4;
using FloatWavHeader = std::array<uint8_t, kFloatWavHeaderBytes>;

// The header of a WAV file of `frames` frames of 32-bit float samples at `sampleRate` Hz, mono
// or with `channels` (1 or 2) interleaved, complete from the start since the length is known:
// the file can go to a pipe. Nothing when the file would pass the 4 GiB that its size fields
// hold.
std::optional<FloatWavHeader> floatWavHeader(int32_t sampleRate, int64_t frames,
                                             int32_t channels = 1);

// Appends the samples as little-endian IEEE 754 floats, as they follow the header.
void appendFloatSamples(std::vector<uint8_t>& bytes, std::span<const float> samples);

// Multiplies, in place, little-endian IEEE 754 float samples (as appendFloatSamples writes
// them; a trailing partial sample is left alone) by `gain`, each as scaledSample does.
void scaleFloatSamples(std::span<uint8_t> sampleBytes, double gain) noexcept;

} // namespace doodle
