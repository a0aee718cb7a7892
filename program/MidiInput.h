#pragma once

#include "mapping/MapPoint.h"
#include "mapping/VowelMap.h"
#include "recording/GestureLine.h"
#include "recording/MidiFormat.h"
#include "recording/MidiPerformance.h"
#include "recording/Player.h"
#include "recording/Recording.h"
#include "voice/VoiceParams.h"

#include <cstdint>
#include <optional>

namespace doodle {

// What decides how MIDI input sings, as the program's controls stand.
struct MidiInputControls {
    MapControls map{};                  // scale and voice type, as drags map
    int32_t channel = kMidiAllChannels; // kMidiAllChannels or 1..16
    bool playing = false;               // playback runs: input points are not sung
    bool modal = false;                 // a dialog is open: only a release acts
};

// Whether a point of MIDI input acts as a drag would: never while playback runs (a release
// would silence the playback), and while a dialog is open only as a release, so that no note
// sticks.
bool midiPointActs(const GestureLine& point, const MidiInputControls& controls) noexcept;

// MIDI input up to its points: the channel it listens to, the volume controller, the moments'
// times and the performance. The program draws and records what it gives; an audio callback
// that sings MIDI input at its frame (MidiVoice) runs the same steps. No allocation.
class MidiInput {
public:
    // What one message did: a point of the moment before it, or a new live output level
    // (CC 7, 0..127), or nothing.
    struct Step {
        std::optional<GestureLine> point{};
        std::optional<uint8_t> volumeValue{};
    };

    void setMap(const MapControls& map) noexcept;
    // A message at timeMs; a message whose time could not be read belongs to the moment before.
    Step feed(const MidiMessage& message, std::optional<int32_t> timeMs) noexcept;
    // Ends the moment (a host's batch of messages): its point, if it changed what sounds.
    std::optional<GestureLine> flush() noexcept;
    // Listens to `channel` from now on. The notes held on the channels left would never hear
    // their note offs: they are let go, and the pedal and the bend start afresh, as a
    // keyboard's reset leaves them. Hands each point this makes to onPoint.
    template <class OnPoint>
    void listenTo(int32_t channel, OnPoint&& onPoint) noexcept {
        m_channel = channel;
        for (const uint8_t controller : {kMidiCcResetAllControllers, kMidiCcAllNotesOff}) {
            onPoint(m_performance.feed({kMidiControlChange, controller, 0}, m_timeMs));
        }
        onPoint(m_performance.flush());
    }

    int32_t channel() const noexcept { return m_channel; }

private:
    MidiPerformance m_performance{};
    int32_t m_timeMs = 0; // the time of the latest moment
    int32_t m_channel = kMidiAllChannels;
};

// MIDI input sung where it arrives: an audio callback feeds it the messages of its period at
// their frames, and it requests the voice through a VoiceParams of its own, which the callback's
// renderer reads beside the main thread's. Its steps are the program's (MidiInput, then a drag's
// Player::soundPoint or release), so the callback sings what the program would; the program still
// draws and records the same messages. Fixed size, no allocation, no lock: for the callback only.
class MidiVoice {
public:
    const VoiceParams& voice() const noexcept { return m_voice; }

    // The controls as the program last reported them. A new channel lets go of held notes as
    // the program does.
    void setControls(const MidiInputControls& controls) noexcept;
    void feed(const MidiMessage& message, std::optional<int32_t> timeMs) noexcept;
    // The end of a period's messages.
    void flush() noexcept;
    // Lets go of everything, as the program does when the input goes away.
    void letGo() noexcept;

private:
    void sing(const std::optional<GestureLine>& point) noexcept;

    MidiInput m_input{};
    MidiInputControls m_controls{};
    VoiceParams m_voice{};
    VowelWorking m_vowel{};
    Recording m_noRecording{}; // the player only sounds points: it plays nothing
    Player m_player{m_noRecording, m_voice, m_vowel};
};

} // namespace doodle
