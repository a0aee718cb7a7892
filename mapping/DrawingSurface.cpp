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
                                  bool playing, const MapControls& controls, VoiceParams& voice,
                                  VowelWorking& vowel, DrawingState& state,
                                  const std::function<void()>& appendGestureLine) {
    DrawingOutcome outcome;
    const bool accepted = action == PointerAction::LeftPress ||
                          (action == PointerAction::Move && (buttons & kLeftButtonBit) != 0);
    // While playback runs, the hand neither inks nor sounds; a release still silences.
    if (accepted && !playing) {
        startVoice(voice); // on every point: a drag that left the fade-out sounds again
        state.pointX = clampX(x);
        state.pointY = clampY(y);
        state.inkList.push_back(std::to_string(state.pointX) + ';' + std::to_string(state.pointY));
        appendGestureLine();
        outcome.noteIndex = mapPoint(voice, state.pointX, state.pointY, controls, vowel);
        outcome.drawDot = true;
    }
    if (action == PointerAction::LeftRelease) {
        stopVoice(voice);
        appendGestureLine();
        outcome.clearNoteLabel = true;
    }
    return outcome;
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
