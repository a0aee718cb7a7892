#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace doodle {

// A mono WAV file of 32-bit float samples (WAVE_FORMAT_IEEE_FLOAT with its fact chunk), built
// in memory block by block: the web page's Export as WAV, which has no libsndfile. Its header
// is the render tool's, byte for byte.
class WavFileBuilder {
public:
    explicit WavFileBuilder(int32_t sampleRate);

    // False once the file would pass the 4 GiB that its size fields can hold.
    bool append(std::span<const float> samples);
    // The finished file: sizes filled in.
    std::vector<uint8_t> finish();

private:
    std::vector<uint8_t> m_bytes{};
    uint32_t m_frames = 0;
};

} // namespace doodle
