#include "recording/WavFile.h"

#include "recording/Loudness.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

namespace doodle {
namespace {

constexpr uint16_t kFormatIeeeFloat = 3;
constexpr uint16_t kBitsPerSample = 32;
// More channels want WAVE_FORMAT_EXTENSIBLE and its speaker mask.
constexpr int32_t kMaxPlainChannels = 2;
constexpr uint32_t kBitsPerByte = 8;
constexpr uint32_t kFormatChunkBytes = 18; // the extended form with cbSize = 0
constexpr uint32_t kFactChunkBytes = 4;
// Zeros before the samples, so that they start at byte 80, where libsndfile's float WAV files
// have them.
constexpr uint32_t kPadChunkBytes = 14;
constexpr uint32_t kRiffPreambleBytes = 8; // "RIFF" and its size: not counted in that size
constexpr uint64_t kMaxRiffBytes = std::numeric_limits<uint32_t>::max();

// Writes little-endian fields one after another.
class HeaderWriter {
public:
    explicit HeaderWriter(FloatWavHeader& header) noexcept : m_header(header) {}

    void tag(std::string_view text) {
        for (const char c : text) {
            m_header[m_at++] = static_cast<uint8_t>(c);
        }
    }
    void u16(uint16_t value) { put(value, sizeof value); }
    void u32(uint32_t value) { put(value, sizeof value); }
    void zeros(std::size_t count) { m_at += count; } // the header starts zeroed

private:
    void put(uint32_t value, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i) {
            m_header[m_at++] = static_cast<uint8_t>(value >> (kBitsPerByte * i));
        }
    }

    FloatWavHeader& m_header;
    std::size_t m_at = 0;
};

} // namespace

std::optional<FloatWavHeader> floatWavHeader(int32_t sampleRate, int64_t frames, int32_t channels) {
    const auto frameBytes = static_cast<uint32_t>(kFloatWavFrameBytes *
                                                  static_cast<std::size_t>(std::max(channels, 0)));
    const uint64_t dataBytes = static_cast<uint64_t>(frames) * frameBytes;
    if (frames < 0 || channels < 1 || channels > kMaxPlainChannels ||
        dataBytes + kFloatWavHeaderBytes - kRiffPreambleBytes > kMaxRiffBytes) {
        return std::nullopt;
    }
    const auto rate = static_cast<uint32_t>(sampleRate);
    FloatWavHeader header{};
    HeaderWriter out(header);
    out.tag("RIFF");
    out.u32(static_cast<uint32_t>(dataBytes + kFloatWavHeaderBytes - kRiffPreambleBytes));
    out.tag("WAVE");
    out.tag("fmt ");
    out.u32(kFormatChunkBytes);
    out.u16(kFormatIeeeFloat);
    out.u16(static_cast<uint16_t>(channels));
    out.u32(rate);
    out.u32(rate * frameBytes);
    out.u16(static_cast<uint16_t>(frameBytes));
    out.u16(kBitsPerSample);
    out.u16(0); // no extension bytes
    out.tag("fact");
    out.u32(kFactChunkBytes);
    out.u32(static_cast<uint32_t>(frames)); // per channel
    out.tag("PAD ");
    out.u32(kPadChunkBytes);
    out.zeros(kPadChunkBytes);
    out.tag("data");
    out.u32(static_cast<uint32_t>(dataBytes));
    return header;
}

void appendFloatSamples(std::vector<uint8_t>& bytes, std::span<const float> samples) {
    for (const float sample : samples) {
        uint32_t bits = 0; // (std::bit_cast is missing from the WebAssembly build's library)
        std::memcpy(&bits, &sample, sizeof bits);
        for (uint32_t shift = 0; shift < sizeof bits * kBitsPerByte; shift += kBitsPerByte) {
            bytes.push_back(static_cast<uint8_t>(bits >> shift));
        }
    }
}

void scaleFloatSamples(std::span<uint8_t> sampleBytes, double gain) noexcept {
    const std::size_t samples = sampleBytes.size() / kFloatWavFrameBytes;
    for (std::size_t n = 0; n < samples; ++n) {
        uint8_t* const at = sampleBytes.data() + n * kFloatWavFrameBytes;
        uint32_t bits = 0;
        for (uint32_t i = 0; i < sizeof bits; ++i) {
            bits |= uint32_t{at[i]} << (i * kBitsPerByte);
        }
        float sample = 0.0f;
        std::memcpy(&sample, &bits, sizeof sample);
        sample = scaledSample(sample, gain);
        std::memcpy(&bits, &sample, sizeof bits);
        for (uint32_t i = 0; i < sizeof bits; ++i) {
            at[i] = static_cast<uint8_t>(bits >> (i * kBitsPerByte));
        }
    }
}

} // namespace doodle
