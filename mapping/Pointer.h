#pragma once

#include <cstdint>

namespace doodle {

// What the drawing area reports of the pointer; every other pointer event is Other.
enum class PointerAction { None, LeftPress, Move, LeftRelease, Other };

// Mouse buttons held during a drawing-area event, as bits: only the left one draws.
inline constexpr int32_t kLeftButtonBit = 1;

} // namespace doodle
