#pragma once

#include "mapping/MidiMap.h"
#include "recording/MidiFormat.h"
#include "recording/OfflineRender.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

namespace doodle {

// One tick of a MIDI file is one millisecond of played time: 500 ticks per quarter note at
// 500000 µs per quarter note (120 beats per minute).
inline constexpr int32_t kMidiTicksPerQuarter = 500;
inline constexpr int32_t kMidiMicrosecondsPerQuarter = 500'000;
// Pitch bend range, semitones either way, set in the file through RPN 0.
inline constexpr int32_t kMidiBendRangeSemitones = 24;
inline constexpr int32_t kMidiNoteVelocity = 100; // 1..127, every note alike
// General MIDI programs (0-based) sent at the start, so that a General MIDI synthesizer sings:
// "Choir Aahs" for voice type 1, "Voice Oohs" for voice type 2.
inline constexpr int32_t kMidiProgramType1 = 52;
inline constexpr int32_t kMidiProgramType2 = 53;
// The last tick a file may hold: its delta times have 28 bits (about 74.5 hours).
inline constexpr int32_t kMidiMaxTick = 0x0FFF'FFFF;

// The General MIDI program for a voice type (kMidiProgramType1 or kMidiProgramType2).
int32_t midiProgramFor(VoiceType voiceType) noexcept;

// Channel volume (CC 7) at the voice's own level: a file is sung at it, as the WAV export is.
inline constexpr int32_t kMidiFullVolume = 127;

// The opening of every MIDI stream the program makes, file or live: the bend range (RPN 0 at
// kMidiBendRangeSemitones, then the null RPN), the channel volume (CC 7, 0..127: the level the
// voice sings at, kMidiFullVolume in a file) and the voice type's program.
std::array<MidiMessage, 8> midiOpeningMessages(int32_t program, int32_t volumeValue) noexcept;

// A message's bytes, as it goes over a MIDI cable: status, then its one or two data bytes.
void appendMidiMessage(std::vector<uint8_t>& out, const MidiMessage& message);

// A sounding point as MIDI sees it: its fractional note (0..127) and its vowel controller value.
struct MidiPoint {
    double note = 0.0;
    int32_t vowelValue = 0;
};

// The fractional MIDI note of a pitch, held within 0..127 (NaN gives 0).
double midiNoteOfSounding(double pitchHz) noexcept;

// What a MIDI voice sounds, and the messages that take it to a new point, in the order a
// synthesizer needs them: the note off of a changed note (before the bend moves, so that its
// release keeps its pitch), CC 74 when the vowel changed, the bend when it changed, then the new
// note's note on. Channel 1; every message goes to `send` whole. Used by the file and the live
// output alike, so that both send the same messages for the same notes.
class MidiVoiceMessages {
public:
    template <typename Send>
    void sound(int32_t note, int32_t bend, int32_t vowelValue, Send&& send) {
        const bool newNote = note != m_note;
        if (newNote) {
            noteOff(send);
        }
        if (vowelValue != m_vowelValue) {
            send(MidiMessage{kMidiControlChange, kMidiVowelController, dataByte(vowelValue)});
            m_vowelValue = vowelValue;
        }
        centreOrBend(bend, send);
        if (newNote) {
            send(MidiMessage{kMidiNoteOn, dataByte(note), kMidiNoteVelocity});
            m_note = note;
        }
    }
    template <typename Send>
    void noteOff(Send&& send) {
        if (m_note) {
            send(MidiMessage{kMidiNoteOff, dataByte(*m_note), kMidiNoteOffVelocity});
            m_note.reset();
        }
    }
    template <typename Send>
    void centreOrBend(int32_t bend, Send&& send) {
        if (bend != m_bend) {
            const int32_t value = bend + kMidiBendCentre;
            send(MidiMessage{kMidiPitchBend, dataByte(value), dataByte(value >> kMidiDataBits)});
            m_bend = bend;
        }
    }

    std::optional<int32_t> note() const noexcept { return m_note; }

    // What sounds now, for a listener that joins mid-note: the vowel controller, the bend and the
    // note on, as they were sent. Nothing while no note sounds.
    template <typename Send>
    void resend(Send&& send) const {
        if (!m_note) {
            return;
        }
        if (m_vowelValue) {
            send(MidiMessage{kMidiControlChange, kMidiVowelController, dataByte(*m_vowelValue)});
        }
        const int32_t value = m_bend + kMidiBendCentre;
        send(MidiMessage{kMidiPitchBend, dataByte(value), dataByte(value >> kMidiDataBits)});
        send(MidiMessage{kMidiNoteOn, dataByte(*m_note), kMidiNoteVelocity});
    }

    static uint8_t dataByte(int32_t value) noexcept {
        return static_cast<uint8_t>(value & kMidiDataMask);
    }

private:
    static constexpr uint8_t kMidiNoteOffVelocity = 64; // "no release velocity"

    std::optional<int32_t> m_note{};       // the note sounding, 0..127
    int32_t m_bend = 0;                    // the bend in force, -8192..8191 (0 = centred)
    std::optional<int32_t> m_vowelValue{}; // the last CC 74 value sent
};

// The nearest MIDI note of a fractional one.
int32_t nearestMidiNote(double note) noexcept;
// The bend from `note` to the fractional `target`, in steps of kMidiBendRangeSemitones / 8192;
// beyond -8192..8191 when the target is out of the note's reach.
int32_t midiBendSteps(double target, int32_t note) noexcept;
bool midiBendFits(int32_t bend) noexcept;

// The drawing or a playback as MIDI while it happens, point by point, with the same messages
// as the file: whole notes in the scale modes; in Unrestricted, where no point after the current
// one is known, a stroke starts on the note nearest its first point, follows the pitch with bend
// and starts a new note only where the pitch leaves that note's reach.
class MidiLiveWriter {
public:
    explicit MidiLiveWriter(bool wholeNotes = false) noexcept : m_wholeNotes(wholeNotes) {}
    void setWholeNotes(bool wholeNotes) noexcept { m_wholeNotes = wholeNotes; }

    // A sounding point; its messages are appended to `out`.
    void sound(const MidiPoint& point, std::vector<MidiMessage>& out);
    // A release: the note sounding ends.
    void release(std::vector<MidiMessage>& out);
    // The end of a playback, as the file ends: the note ends and the bend is centred.
    void end(std::vector<MidiMessage>& out);
    // The note sounding now, for an output connected mid-note (MidiVoiceMessages::resend).
    void resend(std::vector<MidiMessage>& out) const;

private:
    bool m_wholeNotes = false;
    MidiVoiceMessages m_voice{};
};

// General MIDI "Choir Aahs" (program 53 counted from 1, 0-based here as on the wire) for every
// part of a Harmony file: the four parts sound as one choir on any General MIDI synthesizer,
// whichever voice type sings the drawn line.
inline constexpr int32_t kMidiChoirPartProgram = 52;

// One track of a file being written: its events in order, channel messages on one channel, and
// a voice's strokes written as MidiFileWriter tells. The track chunk's header is not included.
class MidiTrackWriter {
public:
    // channel: 0..15 (shown as 1..16).
    MidiTrackWriter(bool wholeNotes, int32_t channel);

    void meta(int32_t tick, uint8_t type, std::span<const uint8_t> data);
    // A channel message, sent on the track's channel.
    void message(int32_t tick, const MidiMessage& message);
    // A sounding point: `note` is fractional (0..127), written once its stroke is complete.
    void sound(int32_t tick, double note, int32_t vowelValue);
    // The stroke ends: it is written and its note ends on `tick`.
    void release(int32_t tick);
    // The end of playback: any note still on ends, the bend is centred and the track ends.
    void finish(int32_t tick);

    const std::vector<uint8_t>& events() const noexcept { return m_events; }

private:
    // A sounding point of the stroke not yet written.
    struct StrokePoint {
        int32_t tick = 0;
        double note = 0.0;      // the fractional MIDI note of its pitch, 0..127
        int32_t vowelValue = 0; // CC 74, 0..127
    };

    void event(int32_t tick, std::initializer_list<uint8_t> eventBytes);
    // Writes the stroke's points with one note each, and empties it.
    void writeStroke();
    std::vector<int32_t> strokeNotes() const;
    void sound(const StrokePoint& point, int32_t note);

    bool m_wholeNotes = false;
    uint8_t m_channel = 0;           // 0..15
    std::vector<uint8_t> m_events{}; // delta times and events
    int32_t m_lastTick = 0;          // of the last event written
    MidiVoiceMessages m_voice{};
    std::vector<StrokePoint> m_stroke{};
};

// Turns the played ticks of a playback into a Standard MIDI File. The voice alone (or in
// unison) is format 0, one track, channel 1: the track starts with the tempo, the bend range
// (RPN 0), the channel volume and the program. Harmony is format 1: a first track with its
// name and the tempo, then one track per part, soprano (the drawn line), alto, tenor and bass,
// each named, on channels 1 to 4, opening with the bend range, the volume and
// kMidiChoirPartProgram; a part that is silent (0 Hz) has no note. Notes carry the sounding
// pitch, the Classic tuning's "C" (51.914 Hz) being MIDI note 32 (G#1) and the Concert tuning's
// note 36 (C2). On each track a stroke (its sounding points up to a release, a silence of the
// part or the end) is written once it is complete:
// - Whole notes (the scale modes): each point sounds the nearest MIDI note, without pitch bend;
//   a change of note within a stroke ends one note and starts the next on the same tick.
// - Otherwise (Unrestricted): a stroke is one note, the one nearest the middle of its lowest and
//   highest pitch, that follows the pitch with bend. A stroke wider than the bend range is cut
//   where the next point would leave a note's reach: each piece is one such note.
// A release ends every sounding note; the end of playback ends any note still on and centres
// the bend. The vowel controller and the bend are sent only when they change.
class MidiFileWriter {
public:
    // The voice alone or in unison: format 0.
    MidiFileWriter(bool wholeNotes, int32_t program);
    // Harmony's parts: format 1.
    static MidiFileWriter forChoirParts(bool wholeNotes);

    // Ticks come in order, none after kMidiMaxTick; a Stop completes the file and nothing may
    // follow.
    void add(const PlayedTick& played);
    // The complete file once a Stop was added.
    const std::vector<uint8_t>& bytes() const noexcept { return m_file; }

private:
    MidiFileWriter(bool choirParts, std::vector<MidiTrackWriter> tracks);
    void finish(int32_t tick);

    bool m_choirParts = false;
    // Format 0: the voice's track. Format 1: the tempo track, then the parts' in partIndex()
    // order.
    std::vector<MidiTrackWriter> m_tracks{};
    std::vector<uint8_t> m_file{}; // written whole by finish()
};

// The MIDI file of a recording played with `settings` (see playRecording; `plan` is
// planRender's for this recording and speed): whole notes in the scale modes, bend in
// Unrestricted; the voice's track alone for Solo and Unison, the four parts' tracks for Harmony.
// Nothing when the settings are invalid or playback ends after kMidiMaxTick. The same recording and
// settings always give the same bytes. The whole file is built in memory, without the file system:
// any front end can write or offer it.
std::optional<std::vector<uint8_t>>
midiFileOf(const Recording& recording, const RenderSettings& settings, const RenderPlan& plan);

} // namespace doodle
