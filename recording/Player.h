#pragma once

#include "mapping/MapPoint.h"
#include "recording/ChoirVoicing.h"
#include "recording/Recording.h"
#include "voice/VoiceParams.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace doodle {

enum class PlaybackAction {
    None,    // the next line is not due yet
    Stop,    // no line left: the caller ends playback
    Release, // a release line: the voice was stopped; no dot, the note label stays
    Sound,   // the voice was started and mapped to the point: a dot there
};

// What one tick of playback did, and what the window shows of it.
struct PlayedStep {
    PlaybackAction action = PlaybackAction::None;
    // The point of a Sound step, clamped into the drawing area (x 0..kMaxPointX, y
    // 0..kMaxPointY) as the drawing surface clamps the pointer; 0 otherwise.
    int32_t x = 0;
    int32_t y = 0;
    // The note to show after a Sound step in a scale mode; nothing leaves the label as it is.
    std::optional<int32_t> noteIndex{};
};

// Plays a recording through the voice, one tick at a time: the program on its ticker, the
// offline renderer on its sample clock. The line at the play position is due once the tick
// count exceeds its time divided by the speed, rounded halves-to-even; a time that reads as NaN,
// infinite or beyond int32 is due at once. At most one line plays per tick.
class Player {
public:
    // `choir`, when given, sings the other parts of a chorus beside the voice: each point
    // publishes what they sing.
    Player(const Recording& recording, VoiceParams& voice, VowelWorking& vowel,
           ChoirParts* choir = nullptr) noexcept
        : m_recording(recording), m_voice(voice), m_vowel(vowel), m_choir(choir) {}

    // Playback begins: the voice is released and the play position goes back to the first line.
    void start() noexcept;
    // Playback ends: the voice is released (it fades out); the play position stays.
    void stop() noexcept;

    // The voice's part of one point, live or played: the voice starts (a point that arrives
    // during the fade-out sounds again) and is mapped to (x, y), which must lie in the area.
    // Returns the note to show, or nothing in Unrestricted (the label is left as it is).
    std::optional<int32_t> soundPoint(int32_t x, int32_t y, const MapControls& controls) noexcept;
    // The voice's part of a release, live or played: the voice fades out.
    void release() noexcept;

    // Whether step would act on this tick: play the line at the play position or stop.
    bool acts(int32_t tickCount, double playSpeed) const noexcept;

    // One tick, tickCount counting from 1 at the start of playback: plays the line at the play
    // position if it is due, through startVoice and mapPoint (Sound) or stopVoice (Release).
    // A play position past the end of the recording (it may have been emptied) gives Stop.
    PlayedStep step(int32_t tickCount, double playSpeed, const MapControls& controls) noexcept;

    // The first tick after afterTick on which step acts, for a speed that does not change
    // meanwhile (see the free function below).
    std::optional<int32_t> nextActingTick(int32_t afterTick, double playSpeed) const noexcept;

    std::size_t playIndex() const noexcept { return m_playIndex; }

private:
    const Recording& m_recording;
    VoiceParams& m_voice;
    VowelWorking& m_vowel; // the vowel map's values, kept between points
    ChoirParts* m_choir = nullptr;
    std::size_t m_playIndex = 0;
};

// The tick after which a line of time timeMs is due at playSpeed (halves to even); INT32_MIN,
// due at once, for a time that gives no whole number.
int32_t dueTick(double timeMs, double playSpeed) noexcept;

// Whether a play position is past the recording's last line: the next step stops playback.
bool playedToEnd(const Recording& recording, std::size_t playIndex) noexcept;

// The first tick after afterTick on which a Player at playIndex acts (plays a line or stops)
// at a fixed speed: the tick after the line's due tick, and never the same tick as the line
// before. Nothing when no tick up to INT32_MAX acts, where the ticker's count wraps.
std::optional<int32_t> nextActingTick(const Recording& recording, std::size_t playIndex,
                                      int32_t afterTick, double playSpeed) noexcept;

} // namespace doodle
