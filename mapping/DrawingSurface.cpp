#include "mapping/DrawingSurface.h"

#include <algorithm>

namespace doodle {

int32_t clampX(int32_t x) noexcept {
    return std::clamp(x, 0, kMaxPointX);
}
int32_t clampY(int32_t y) noexcept {
    return std::clamp(y, 0, kMaxPointY);
}

DrawingOutcome handleDrawingEvent(PointerAction action, int32_t x, int32_t y, int32_t buttons,
                                  bool playing, DrawingState& state) {
    const bool accepted = action == PointerAction::LeftPress ||
                          (action == PointerAction::Move && (buttons & kLeftButtonBit) != 0);
    // While playback runs, the hand neither inks nor sounds; a release still silences.
    if (accepted && !playing) {
        state.pointX = clampX(x);
        state.pointY = clampY(y);
        state.ink.push_back({state.pointX, state.pointY});
        return DrawingOutcome::Point;
    }
    if (action == PointerAction::LeftRelease) {
        return DrawingOutcome::Release;
    }
    return DrawingOutcome::Nothing;
}

GridLines gridLinesFor(ScaleMode mode) {
    GridLines lines;
    if (mode == ScaleMode::Unrestricted) {
        return lines;
    }
    const int32_t stripPx = mode == ScaleMode::Pentatonic ? kPentatonicStripPx : kHeptatonicStripPx;
    for (int32_t x = 0; x <= kMaxPointX; x += stripPx) {
        lines.lightX.push_back(x);
    }
    constexpr int32_t kOctavePx = 70; // 7 strips of 10 px or 5 of 14 px
    for (int32_t x = 0; x <= kMaxPointX; x += kOctavePx) {
        lines.darkX.push_back(x);
    }
    return lines;
}

const std::vector<PixelOffset>& inkDotPixels() {
    static const std::vector<PixelOffset> pixels = [] {
        std::vector<PixelOffset> offsets;
        for (int32_t dy = -kInkDotRadiusPx; dy <= kInkDotRadiusPx; ++dy) {
            for (int32_t dx = -kInkDotRadiusPx; dx <= kInkDotRadiusPx; ++dx) {
                if (dx * dx + dy * dy <= kInkDotRadiusPx * kInkDotRadiusPx) {
                    offsets.push_back({dx, dy});
                }
            }
        }
        return offsets;
    }();
    return pixels;
}

} // namespace doodle
