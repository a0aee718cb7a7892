#pragma once

#include <array>
#include <cstddef>

namespace doodle {

inline constexpr std::size_t kFormantCount = 3;

// Centre frequencies and bandwidths of the three formants in Hz, index 0 = first formant. All
// zero until the first mapped point.
struct FormantSet {
    std::array<double, kFormantCount> freqHz{};
    std::array<double, kFormantCount> bwHz{};

    friend bool operator==(const FormantSet&, const FormantSet&) = default;
};

} // namespace doodle
