#!/usr/bin/env python3
"""Checks MIDI files of Harmony renders against the rules of four-part writing.

Usage: midi_harmony_check.py LIST

LIST holds one render a line: "HARMONY.mid SOLO.mid MODE TUNING ROOT", MODE one of unrestricted,
major, minor, pentatonic; TUNING classic (the program's C is MIDI note 32) or concert (36);
ROOT 0..11 above that C. Both files are read with mido, a reader independent of the writer.
Checked for every file:
- format 1, one tick = 1 ms, a named tempo track without channel messages, then four tracks
  named Soprano, Alto, Tenor and Bass on channels 1..4, each with the bend range (RPN 0 at 24),
  full volume and program 52 ("Choir Aahs") at tick 0 before any note;
- on each track a note starts only when none sounds and ends only the one sounding;
- the soprano track's notes, bends and vowel controllers equal the Solo file's, tick for tick;
- at the end nothing sounds; a release of the voice ends every part's note.
In the scale modes, also: no bend; the parts change notes only where the voice's note changes;
at every tick, after its events, the sounding notes descend strictly from soprano to bass (no
crossing, no shared note); every note is in the scale; one shift of whole octaves puts every
sounding note in its part's range; from one chord to the next (the states where something
sounds), no two parts that both sounded and both moved are a fifth or an octave apart (mod 12)
both times. In Unrestricted, the sounding pitches (note + bend) of
the lower parts lie at 5/6, 4/6 and 2/6 of the soprano's within 5 cents.
Prints the counts and "ok", or the first problems and exits 1.
"""
import math
import sys

import mido

PART_NAMES = ["Soprano", "Alto", "Tenor", "Bass"]
CHOIR_PROGRAM = 52
BEND_RANGE = 24
BEND_STEPS = 8192
RANGES = [(60, 79), (53, 74), (48, 67), (40, 60)]  # soprano..bass, before the octave shift
PART_RATIOS = [1.0, 5.0 / 6.0, 4.0 / 6.0, 2.0 / 6.0]
TOLERANCE_CENTS = 5.0
STEPS = {
    "major": [0, 2, 4, 5, 7, 9, 11],
    "minor": [0, 2, 3, 5, 7, 8, 10],
    "pentatonic": [0, 2, 4, 7, 9],
}
BASE_NOTE = {"classic": 32, "concert": 36}
MAX_PROBLEMS = 20


def channel_events(track):
    """(tick, message) of a track's channel messages, ticks absolute."""
    tick = 0
    events = []
    for message in track:
        tick += message.time
        if not message.is_meta:
            events.append((tick, message))
    return events


def track_name(track):
    return next((m.name for m in track if m.type == "track_name"), None)


def sounding_key(tick, message):
    """What a message changes of the sound, without its channel."""
    if message.type in ("note_on", "note_off"):
        return (tick, message.type, message.note)
    if message.type == "pitchwheel":
        return (tick, "bend", message.pitch)
    if message.type == "control_change" and message.control == 74:
        return (tick, "vowel", message.value)
    return None


class Check:
    def __init__(self):
        self.problems = []
        self.files = 0
        self.chords = 0
        self.notes = 0
        self.crossings = 0
        self.parallels = 0
        self.off_scale = 0
        self.out_of_range = 0

    def problem(self, where, text):
        self.problems.append(f"{where}: {text}")

    def file(self, harmony_path, solo_path, mode, tuning, root):
        self.files += 1
        where = harmony_path
        midi = mido.MidiFile(harmony_path)
        solo = mido.MidiFile(solo_path)
        if midi.type != 1 or len(midi.tracks) != 5 or midi.ticks_per_beat != 500:
            self.problem(where, f"type {midi.type}, {len(midi.tracks)} tracks")
            return
        tempo = midi.tracks[0]
        if track_name(tempo) is None or channel_events(tempo):
            self.problem(where, "the tempo track has no name or has channel messages")
        if [m.tempo for m in tempo if m.type == "set_tempo"] != [500000]:
            self.problem(where, "not one tempo of 500000 us per quarter")

        # Each part's track: opening, then (tick, note or None, bend) whenever it changes.
        changes = []
        for part, track in enumerate(midi.tracks[1:]):
            if track_name(track) != PART_NAMES[part]:
                self.problem(where, f"track {part + 1} named {track_name(track)}")
            events = channel_events(track)
            if any(m.channel != part for _, m in events):
                self.problem(where, f"{PART_NAMES[part]} off its channel {part + 1}")
            opening = [(m.type, getattr(m, "control", None), getattr(m, "value", None),
                        getattr(m, "program", None)) for t, m in events[:8]]
            expected = [("control_change", 101, 0, None), ("control_change", 100, 0, None),
                        ("control_change", 6, BEND_RANGE, None), ("control_change", 38, 0, None),
                        ("control_change", 101, 127, None), ("control_change", 100, 127, None),
                        ("control_change", 7, 127, None), ("program_change", None, None,
                                                           CHOIR_PROGRAM)]
            if opening != expected or any(t != 0 for t, _ in events[:8]):
                self.problem(where, f"{PART_NAMES[part]} opens with {opening}")
            note = None
            bend = 0
            part_changes = []
            for tick, message in events[8:]:
                if message.type == "note_on" and message.velocity > 0:
                    if note is not None:
                        self.problem(where, f"{PART_NAMES[part]} overlaps at {tick}")
                    note = message.note
                    self.notes += 1
                elif message.type in ("note_on", "note_off"):
                    if note != message.note:
                        self.problem(where, f"{PART_NAMES[part]} ends a silent note at {tick}")
                    note = None
                elif message.type == "pitchwheel":
                    bend = message.pitch
                    if mode != "unrestricted" and bend != 0:
                        self.problem(where, f"{PART_NAMES[part]} bends in a scale mode")
                part_changes.append((tick, part, note, bend))
            if note is not None:
                self.problem(where, f"{PART_NAMES[part]} still sounds at the end")
            changes.extend(part_changes)

        soprano = [k for t, m in channel_events(midi.tracks[1]) if (k := sounding_key(t, m))]
        alone = [k for t, m in channel_events(solo.tracks[0]) if (k := sounding_key(t, m))]
        if soprano != alone:
            self.problem(where, "the soprano's notes differ from the voice's alone")

        # The sound after each tick's events.
        changes.sort(key=lambda change: change[0])
        states = []
        state = [(None, 0)] * 4
        for i, (tick, part, note, bend) in enumerate(changes):
            state[part] = (note, bend)
            if i + 1 == len(changes) or changes[i + 1][0] != tick:
                states.append((tick, list(state)))
        # A release of the voice (the soprano, never silent alone) ends every part's note.
        for tick, state in states:
            if state[0][0] is None and any(note is not None for note, _ in state):
                self.problem(where, f"a part sounds on after the voice's release at {tick}")
        if mode == "unrestricted":
            self.unrestricted(where, states)
        else:
            self.in_scale(where, states, mode, tuning, root)

    def unrestricted(self, where, states):
        for tick, state in states:
            if state[0][0] is None:
                continue
            self.chords += 1
            lead = state[0][0] + state[0][1] * BEND_RANGE / BEND_STEPS
            for part in range(1, 4):
                note, bend = state[part]
                if note is None:
                    continue
                sung = note + bend * BEND_RANGE / BEND_STEPS
                wanted = lead + 12.0 * math.log2(PART_RATIOS[part])
                if abs(sung - wanted) * 100.0 > TOLERANCE_CENTS:
                    self.problem(where, f"{PART_NAMES[part]} at {sung:.3f}, not {wanted:.3f}, "
                                 f"at {tick}")

    def in_scale(self, where, states, mode, tuning, root):
        base = BASE_NOTE[tuning] + root
        scale = {(base + step) % 12 for step in STEPS[mode]}
        previous = None
        last = None  # the state before, silent or not
        for tick, state in states:
            notes = [note for note, _ in state]
            if last is not None and last[0] is not None and last[0] == notes[0] and last != notes:
                self.problem(where, f"the parts move from {last} to {notes} at {tick} on one "
                             "note of the voice")
            last = notes
            if all(note is None for note in notes):
                continue
            self.chords += 1
            sounding = [(part, note) for part, note in enumerate(notes) if note is not None]
            if any(a[1] <= b[1] for a, b in zip(sounding, sounding[1:])):
                self.crossings += 1
                self.problem(where, f"crossing at {tick}: {notes}")
            for part, note in sounding:
                if note % 12 not in scale:
                    self.off_scale += 1
                    self.problem(where, f"{PART_NAMES[part]} {note} off the scale at {tick}")
            shifts = range(-6, 7)
            if not any(all(RANGES[part][0] + 12 * shift <= note <= RANGES[part][1] + 12 * shift
                           for part, note in sounding) for shift in shifts):
                self.out_of_range += 1
                self.problem(where, f"no octave shift holds {notes} at {tick}")
            if previous is not None:
                for upper in range(4):
                    for lower in range(upper + 1, 4):
                        a1, b1 = previous[upper], previous[lower]
                        a2, b2 = notes[upper], notes[lower]
                        if None in (a1, b1, a2, b2) or a1 == a2 or b1 == b2:
                            continue
                        if (a1 - b1) % 12 == (a2 - b2) % 12 and (a1 - b1) % 12 in (0, 7):
                            self.parallels += 1
                            self.problem(where, f"parallel {PART_NAMES[upper]}-"
                                         f"{PART_NAMES[lower]} {previous} -> {notes} at {tick}")
            previous = notes


def main():
    check = Check()
    with open(sys.argv[1], encoding="ascii") as lines:
        for line in lines:
            harmony, solo, mode, tuning, root = line.split()
            check.file(harmony, solo, mode, tuning, int(root))
    print(f"files {check.files} chords {check.chords} notes {check.notes} "
          f"crossings {check.crossings} parallels {check.parallels} "
          f"off-scale {check.off_scale} out-of-range {check.out_of_range}")
    for problem in check.problems[:MAX_PROBLEMS]:
        print(problem)
    if check.problems:
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
