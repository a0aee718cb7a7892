#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace doodle::test {

// A drag that switches between the top and the bottom vowel of voice type 1 every millisecond,
// for two seconds, with no release: the resonators never settle under one vowel, and their
// energy grows until the voice's exact samples are infinite, then NaN.
inline std::vector<std::string> runawayLines() {
    constexpr int32_t kLines = 2000;
    constexpr int32_t kX = 120;
    constexpr int32_t kTopY = 0;
    constexpr int32_t kBottomY = 200;
    std::vector<std::string> lines;
    for (int32_t ms = 0; ms < kLines; ++ms) {
        lines.push_back(std::to_string(kX) + ";" + std::to_string(ms % 2 == 0 ? kTopY : kBottomY) +
                        ";0;" + std::to_string(ms));
    }
    return lines;
}

} // namespace doodle::test
