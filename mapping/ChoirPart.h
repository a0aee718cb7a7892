#pragma once

#include <cstddef>
#include <cstdint>

namespace doodle {

// The four parts of a chorus, highest first; the soprano sings the drawn line itself.
enum class ChoirPart : int32_t {
    Soprano = 0,
    Alto = 1,
    Tenor = 2,
    Bass = 3,
};

inline constexpr std::size_t kChoirParts = 4;

constexpr std::size_t partIndex(ChoirPart part) noexcept {
    return static_cast<std::size_t>(part);
}

} // namespace doodle
