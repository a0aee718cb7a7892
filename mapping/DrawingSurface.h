#pragma once

#include "mapping/MapPoint.h"
#include "mapping/Pointer.h"
#include "voice/VoiceParams.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace doodle {

// Radius of an ink dot, in pixels: every pixel whose centre lies within it is inked.
inline constexpr int32_t kInkDotRadiusPx = 2;

// What the drawing area remembers between events.
struct DrawingState {
    int32_t pointX = 0;               // current point, 0..kMaxPointX once a point was handled
    int32_t pointY = 0;               // current point, 0..kMaxPointY, Y grows downwards
    std::vector<std::string> inkList; // "x;y" (or a whole recorded line) per dot to restore
};

// What the window must show after a drawing-area event.
struct DrawingOutcome {
    bool drawDot = false;             // an ink dot at (pointX, pointY)
    std::optional<int32_t> noteIndex; // a note name for the label (scale modes)
    bool clearNoteLabel = false;      // the left button was released
};

// Clamps a point into the drawing area, as every drawn and played-back point is.
int32_t clampX(int32_t x) noexcept;
int32_t clampY(int32_t y) noexcept;

// One event of the drawing area. A left press, or a move with the left button held, sounds
// and inks the clamped point unless playback runs; then, for every event, a left release
// silences the voice. `appendGestureLine` is called where a recording takes its line: after
// the ink entry of a point, and after the release.
DrawingOutcome handleDrawingEvent(PointerAction action, int32_t x, int32_t y, int32_t buttons,
                                  bool playing, const MapControls& controls, VoiceParams& voice,
                                  VowelWorking& vowel, DrawingState& state,
                                  const std::function<void()>& appendGestureLine);

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
