#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace doodle {

enum class PlaybackAction {
    None,    // paused, or the next line is not due yet
    Stop,    // no line left: stopPlayback
    Release, // a release line: stopVoice, no dot, the note label stays
    Sound,   // startVoice, the point becomes the current point, mapPoint, a dot there
};

struct PlaybackStep {
    PlaybackAction action = PlaybackAction::None;
    // The point of a Sound step, rounded and clamped into the drawing area (x 0..kMaxPointX,
    // y 0..kMaxPointY) as the drawing surface clamps the pointer; 0 otherwise.
    int32_t x = 0;
    int32_t y = 0;
};

// One tick of playback (playbackTick without its effects). The line at playIndex is due once
// tickCount exceeds its time (field 4, ms) divided by playSpeed and rounded halves-to-even; a
// time that reads as NaN, infinite or beyond int32 is due at once. At most one line is taken
// per tick: playIndex then advances by one. Field 3 at 1.0 or more makes it a release; below,
// or NaN, it sounds. playIndex at or past the end of the list (or negative) gives Stop.
//
// The GUI calls this once per ticker event with the live tickCount; an offline renderer may
// call it from a sample clock. A tick on which nothing is due reads only field 4.
PlaybackStep playbackStep(std::span<const std::string> recordingList, int32_t& playIndex,
                          int32_t tickCount, double playSpeed, bool tickerPaused) noexcept;

} // namespace doodle
