#pragma once

#include "mapping/DrawingSurface.h"
#include "mapping/PitchMap.h"

#include <cstdint>
#include <span>
#include <vector>

namespace doodle {

// A colour as the drawing area shows it, 0..255 a channel.
struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;

    bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kBackgroundColour{255, 255, 255};
inline constexpr Rgb kInkColour{0, 0, 255};
inline constexpr Rgb kGridLineColour{192, 192, 192}; // every strip edge
inline constexpr Rgb kOctaveLineColour{128, 0, 0};   // every scale octave's start

// What the drawing area shows, as the views paint it, each at its own scale: steps in order,
// each over what the ones before left. A fill covers the whole area; a column is one pixel
// wide and the area's height, at X (0..kMaxPointX; the one at kMaxPointX lies just outside
// the visible columns); a dot is centred on its point, kInkDotRadiusPx wide, and covers the
// pixels inkDotPixels() names (a view drawing finer than one pixel draws a disc of that
// radius, centred on the pixel's centre). The dots are the caller's, valid while the paint is
// handed over.
struct CanvasStep {
    enum class Kind { Fill, Columns, Dots };
    Kind kind = Kind::Fill;
    Rgb colour{};
    std::vector<int32_t> columnsX{};  // Columns
    std::span<const InkPoint> dots{}; // Dots
};
using CanvasPaint = std::vector<CanvasStep>;

// The whole picture: white, the grid lines of `mode` when `withGrid` (light lines, then the
// octave lines over them), then the ink.
CanvasPaint wholeCanvas(bool withGrid, ScaleMode mode, std::span<const InkPoint> ink);
// The grid lines of `mode` over the picture as it is, then the ink on top.
CanvasPaint gridOverCanvas(ScaleMode mode, std::span<const InkPoint> ink);
// One more dot.
CanvasPaint oneDot(const InkPoint& dot);

} // namespace doodle
