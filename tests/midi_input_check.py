#!/usr/bin/env python3
"""Writes and reads MIDI files with mido, a reader independent of the render tool's.

Usage: midi_input_check.py tempo-file OUT.mid
           Writes a format 1 file whose tempo changes often, in its first track and in the
           melody's own, with odd tick counts so that times fall between milliseconds. The
           melody, on channel 2, is separate notes (running status as mido writes it), pitch
           bends and controller 74 inside them, and a SysEx and a text event between them.
       midi_input_check.py c-major-file OUT.mid
           Writes a format 0 file of one octave of C major up from C4 (MIDI notes 60 to 72)
           on channel 1, separate notes of 200 ms.
       midi_input_check.py notes IN.mid CHANNEL
           Prints every note on (velocity above 0) and note off of CHANNEL (1..16), as played:
           "MILLISECONDS on|off NOTE", the time as mido computes it from the tempo map.
"""
import sys

import mido

TICKS_PER_BEAT = 480
MELODY_CHANNEL = 1  # 0-based


def tempo_file(path):
    conductor = mido.MidiTrack()
    # (delta ticks, microseconds per quarter note)
    for delta, tempo in ((0, 500000), (701, 312500), (997, 1000003), (13, 437500), (1500, 96000)):
        conductor.append(mido.MetaMessage("set_tempo", tempo=tempo, time=delta))
    melody = mido.MidiTrack()
    melody.append(mido.Message("program_change", channel=MELODY_CHANNEL, program=52, time=0))
    notes = (45, 57, 52, 64, 60, 69, 48, 55, 62, 50, 67, 59)
    for i, note in enumerate(notes):
        melody.append(mido.Message("note_on", channel=MELODY_CHANNEL, note=note, velocity=90,
                                   time=37 + 11 * i))
        melody.append(mido.Message("control_change", channel=MELODY_CHANNEL, control=74,
                                   value=(i * 23) % 128, time=29))
        melody.append(mido.Message("pitchwheel", channel=MELODY_CHANNEL, pitch=1500 * (i % 3),
                                   time=41))
        melody.append(mido.Message("pitchwheel", channel=MELODY_CHANNEL, pitch=0, time=17))
        melody.append(mido.Message("note_off", channel=MELODY_CHANNEL, note=note, velocity=0,
                                   time=123 + 7 * i))
        if i == 5:
            melody.append(mido.Message("sysex", data=(1, 2, 3), time=3))
            melody.append(mido.MetaMessage("text", text="bridge", time=0))
            melody.append(mido.MetaMessage("set_tempo", tempo=250001, time=5))
    midi = mido.MidiFile(type=1, ticks_per_beat=TICKS_PER_BEAT)
    midi.tracks.extend((conductor, melody))
    midi.save(path)


C_MAJOR_FROM_C4 = (60, 62, 64, 65, 67, 69, 71, 72)


def c_major_file(path):
    track = mido.MidiTrack()
    note_ticks = TICKS_PER_BEAT * 2 // 5  # 200 ms at mido's default 120 beats a minute
    for note in C_MAJOR_FROM_C4:
        track.append(mido.Message("note_on", channel=0, note=note, velocity=90, time=note_ticks))
        track.append(mido.Message("note_off", channel=0, note=note, velocity=0, time=note_ticks))
    midi = mido.MidiFile(type=0, ticks_per_beat=TICKS_PER_BEAT)
    midi.tracks.append(track)
    midi.save(path)


def notes(path, channel):
    seconds = 0.0
    for message in mido.MidiFile(path):  # times in seconds, through the tempo map
        seconds += message.time
        if message.is_meta or message.type not in ("note_on", "note_off"):
            continue
        if message.channel != channel - 1:
            continue
        kind = "on" if message.type == "note_on" and message.velocity > 0 else "off"
        print(f"{seconds * 1000.0:.6f} {kind} {message.note}")


def main():
    if sys.argv[1] == "tempo-file":
        tempo_file(sys.argv[2])
    elif sys.argv[1] == "c-major-file":
        c_major_file(sys.argv[2])
    else:
        notes(sys.argv[2], int(sys.argv[3]))


if __name__ == "__main__":
    main()
