#include "web/WavFile.h"

#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

namespace doodle {
namespace {

constexpr uint16_t kFormatIeeeFloat = 3;
constexpr uint16_t kMonoChannels = 1;
constexpr uint16_t kBitsPerSample = 32;
constexpr uint32_t kBytesPerFrame = kMonoChannels * kBitsPerSample / 8;
constexpr uint32_t kFormatChunkBytes = 18; // the extended form with cbSize = 0
constexpr uint32_t kFactChunkBytes = 4;
// Zeros before the samples, so that they start at byte 80 as in the render tool's files, which
// are then the same bytes.
constexpr uint32_t kPadChunkBytes = 14;
// Offsets of the fields finish() fills in.
constexpr std::size_t kRiffSizeAt = 4;
constexpr std::size_t kFactFramesAt = 12 + 8 + kFormatChunkBytes + 8;
constexpr std::size_t kDataSizeAt = kFactFramesAt + kFactChunkBytes + 8 + kPadChunkBytes + 4;
constexpr std::size_t kHeaderBytes = kDataSizeAt + 4;
constexpr uint64_t kMaxRiffBytes = std::numeric_limits<uint32_t>::max();

void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFFU));
    out.push_back(static_cast<uint8_t>(value >> 8U));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (uint32_t shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>((value >> shift) & 0xFFU));
    }
}

void set32(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    for (uint32_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFFU);
    }
}

// Byte by byte: GCC 12 warns falsely (-Wstringop-overflow) on a range insert into the empty
// vector in optimised builds.
void putTag(std::vector<uint8_t>& out, std::string_view tag) {
    for (const char c : tag) {
        out.push_back(static_cast<uint8_t>(c));
    }
}

} // namespace

WavFileBuilder::WavFileBuilder(int32_t sampleRate) {
    const auto rate = static_cast<uint32_t>(sampleRate);
    putTag(m_bytes, "RIFF");
    put32(m_bytes, 0); // RIFF size, by finish()
    putTag(m_bytes, "WAVE");
    putTag(m_bytes, "fmt ");
    put32(m_bytes, kFormatChunkBytes);
    put16(m_bytes, kFormatIeeeFloat);
    put16(m_bytes, kMonoChannels);
    put32(m_bytes, rate);
    put32(m_bytes, rate * kBytesPerFrame);
    put16(m_bytes, static_cast<uint16_t>(kBytesPerFrame));
    put16(m_bytes, kBitsPerSample);
    put16(m_bytes, 0); // no extension bytes
    putTag(m_bytes, "fact");
    put32(m_bytes, kFactChunkBytes);
    put32(m_bytes, 0); // frames, by finish()
    putTag(m_bytes, "PAD ");
    put32(m_bytes, kPadChunkBytes);
    m_bytes.resize(m_bytes.size() + kPadChunkBytes);
    putTag(m_bytes, "data");
    put32(m_bytes, 0); // data size, by finish()
}

bool WavFileBuilder::append(std::span<const float> samples) {
    if (m_bytes.size() + samples.size() * kBytesPerFrame > kMaxRiffBytes) {
        return false;
    }
    for (const float sample : samples) {
        uint32_t bits = 0; // (std::bit_cast is missing from the WebAssembly build's library)
        std::memcpy(&bits, &sample, sizeof bits);
        put32(m_bytes, bits); // little-endian IEEE 754
    }
    m_frames += static_cast<uint32_t>(samples.size());
    return true;
}

std::vector<uint8_t> WavFileBuilder::finish() {
    set32(m_bytes, kRiffSizeAt, static_cast<uint32_t>(m_bytes.size() - 8));
    set32(m_bytes, kFactFramesAt, m_frames);
    set32(m_bytes, kDataSizeAt, m_frames * kBytesPerFrame);
    static_assert(kHeaderBytes == 80);
    return std::move(m_bytes);
}

} // namespace doodle
