#pragma once

#include "mapping/PitchMap.h"
#include "mapping/Pointer.h"
#include "mapping/VowelMap.h"

#include <cstdint>
#include <vector>

namespace doodle {

// Radius of an ink dot, in pixels: every pixel whose centre lies within it is inked.
inline constexpr int32_t kInkDotRadiusPx = 2;

// The centre of one ink dot, in drawing-area pixels.
struct InkPoint {
    int32_t x = 0;
    int32_t y = 0;

    bool operator==(const InkPoint&) const = default;
};

// What the drawing area remembers between events.
struct DrawingState {
    int32_t pointX = 0;          // current point, 0..kMaxPointX once a point was handled
    int32_t pointY = 0;          // current point, 0..kMaxPointY, Y grows downwards
    std::vector<InkPoint> ink{}; // every dot to restore on a redraw
};

// What a drawing-area event asks of the caller.
enum class DrawingOutcome {
    Nothing,
    // A point (pointX, pointY): start the voice, record its line, map it to the voice and
    // show its note, draw its dot.
    Point,
    // The left button went up: stop the voice, record the release line at the current point,
    // empty the note label.
    Release,
};

// Clamps a point into the drawing area, as every drawn and played-back point is.
int32_t clampX(int32_t x) noexcept;
int32_t clampY(int32_t y) noexcept;

// One event of the drawing area. A left press, or a move with the left button held, becomes
// the clamped current point and an ink dot, unless playback runs; a left release always
// silences.
DrawingOutcome handleDrawingEvent(PointerAction action, int32_t x, int32_t y, int32_t buttons,
                                  bool playing, DrawingState& state);

// The note strips of a scale mode as vertical lines at these X: a light line at the left edge
// of every strip, a dark line at the start of every scale octave. None in Unrestricted.
struct GridLines {
    std::vector<int32_t> lightX; // every strip edge from 0 up to kMaxPointX
    std::vector<int32_t> darkX;  // every octave start: 0, 70, 140, 210
};
GridLines gridLinesFor(ScaleMode mode);

// The pixels of an ink dot centred on (x, y), as offsets; the caller clips to the image.
struct PixelOffset {
    int32_t dx = 0;
    int32_t dy = 0;
};
const std::vector<PixelOffset>& inkDotPixels();

} // namespace doodle
