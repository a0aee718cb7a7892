#!/usr/bin/env python3
"""Checks a MIDI file from doodlechorus-render against the points playback plays.

Usage: midi_check.py FILE.mid EXPECTED whole|bend PROGRAM

EXPECTED holds one played point a line, in order: "TICK sound HZ Y", "TICK release" or
"TICK end", TICK in milliseconds of played time, HZ the pitch the mapping chain gives the
voice, Y the point's row (0..200). The file is read with mido, a reader independent of the
writer. Checked: one track, one tick = 1 ms; at every point the sounding note plus bend (at the
range the file sets through RPN 0) within 5 cents of HZ and controller 74 at the documented
value of Y; no note at a release, before the first point or after the end; note, bend and
controller events only on the ticks of points; one General MIDI program change, to PROGRAM
(0-based), at tick 0 before any note; one channel volume (controller 7), full (127), at tick 0
before any note; "whole": no bend at all; "bend": a new note within a
stroke only where no single note could bend to every pitch of the stroke since its last new
note, so a stroke that one note can cover is one note. Prints the mismatches and exits 1, or
prints one "ok" line.
"""
import math
import sys

import mido

TOLERANCE_CENTS = 5.0
VOWEL_CONTROLLER = 74
VOLUME_CONTROLLER, FULL_VOLUME = 7, 127
BEND_STEPS = 8192  # either way of the centre
MAX_Y = 200
A4_HZ, A4_NOTE = 440.0, 69
RPN_MSB, RPN_LSB, DATA_MSB, DATA_LSB = 101, 100, 6, 38


def cents_between(hz, reference_hz):
    return 1200.0 * math.log2(hz / reference_hz)


def note_of(hz):
    return min(max(12.0 * math.log2(hz / A4_HZ) + A4_NOTE, 0.0), 127.0)


def one_note_reaches(targets, bend_range):
    """Whether some MIDI note bends to every fractional note of targets."""
    return any(
        all(-BEND_STEPS <= round((t - n) / bend_range * BEND_STEPS) < BEND_STEPS for t in targets)
        for n in range(128)
    )


def main():
    path, expected_path, mode, program = sys.argv[1:5]
    points = []
    with open(expected_path, encoding="ascii") as lines:
        for line in lines:
            fields = line.split()
            points.append((int(fields[0]), fields[1], *map(float, fields[2:])))

    midi = mido.MidiFile(path)
    problems = []
    if midi.type != 0 or len(midi.tracks) != 1:
        problems.append(f"format {midi.type} with {len(midi.tracks)} tracks, not format 0")
    tick, events = 0, []  # (absolute tick, message)
    for message in mido.merge_tracks(midi.tracks):
        tick += message.time
        events.append((tick, message))
    tempos = [m.tempo for _, m in events if m.type == "set_tempo"]
    if len(tempos) != 1 or mido.tick2second(1000, midi.ticks_per_beat, tempos[0]) != 1.0:
        problems.append(f"tempo {tempos} at {midi.ticks_per_beat} per beat: a tick is not 1 ms")

    programs = [(at, m) for at, m in events if m.type == "program_change"]
    first_note = min((at for at, m in events if m.type == "note_on"), default=None)
    if [(at, m.channel, m.program) for at, m in programs] != [(0, 0, int(program))]:
        problems.append(f"program changes {programs}, not one to {program} at tick 0")
    elif first_note is not None and events.index(programs[0]) > next(
        i for i, (_, m) in enumerate(events) if m.type == "note_on"
    ):
        problems.append("the program changes after the first note")

    volumes = [(at, m.value) for at, m in events
               if m.type == "control_change" and m.control == VOLUME_CONTROLLER]
    if volumes != [(0, FULL_VOLUME)]:
        problems.append(f"channel volumes {volumes}, not one at {FULL_VOLUME} at tick 0")
    elif first_note is not None and next(
        i for i, (_, m) in enumerate(events)
        if m.type == "control_change" and m.control == VOLUME_CONTROLLER
    ) > next(i for i, (_, m) in enumerate(events) if m.type == "note_on"):
        problems.append("the channel volume comes after the first note")

    point_ticks = {p[0] for p in points}
    piece = []  # the fractional notes of the stroke since its last new note
    rpn, range_semitones, range_cents = (None, None), None, 0
    note, bend, vowel = None, 0, None
    next_event = 0
    for point in points:
        point_tick, kind = point[0], point[1]
        note_before = note
        while next_event < len(events) and events[next_event][0] <= point_tick:
            at, message = events[next_event]
            next_event += 1
            channel_event = message.type in ("note_on", "note_off", "pitchwheel")
            if message.type == "control_change" and at > 0:
                channel_event = True
            if channel_event and at not in point_ticks:
                problems.append(f"{message} at tick {at}, where nothing plays")
            if message.type == "control_change":
                if message.control == RPN_MSB:
                    rpn = (message.value, rpn[1])
                elif message.control == RPN_LSB:
                    rpn = (rpn[0], message.value)
                elif message.control == DATA_MSB and rpn == (0, 0):
                    range_semitones = message.value
                elif message.control == DATA_LSB and rpn == (0, 0):
                    range_cents = message.value
                elif message.control == VOWEL_CONTROLLER:
                    vowel = message.value
            elif message.type == "pitchwheel":
                bend = message.pitch
                if mode == "whole":
                    problems.append(f"pitch bend at tick {at} in whole notes")
            elif message.type == "note_on" and message.velocity > 0:
                if note is not None:
                    problems.append(f"note {message.note} starts at tick {at} over note {note}")
                note = message.note
            elif message.type in ("note_on", "note_off") and message.note == note:
                note = None

        if kind == "sound":
            hz, y = point[2], int(point[3])
            if note is None or range_semitones is None:
                problems.append(f"tick {point_tick}: silent (or no bend range) where {hz} Hz plays")
                continue
            bend_range = range_semitones + range_cents / 100.0
            sounding = note + bend * bend_range / BEND_STEPS
            sounding_hz = A4_HZ * 2.0 ** ((sounding - A4_NOTE) / 12.0)
            if abs(cents_between(sounding_hz, hz)) > TOLERANCE_CENTS:
                problems.append(f"tick {point_tick}: {sounding_hz:.3f} Hz sounds, {hz} Hz plays")
            # Documented: 127 at the top row, 0 at the bottom, rounded.
            expected_vowel = math.floor((MAX_Y - y) * 127 / MAX_Y + 0.5)
            if vowel != expected_vowel:
                problems.append(f"tick {point_tick}: controller 74 at {vowel}, not {expected_vowel}")
            if mode == "bend" and note_before is not None and note != note_before:
                if one_note_reaches(piece + [note_of(hz)], bend_range):
                    problems.append(
                        f"tick {point_tick}: new note though one note reaches the stroke so far"
                    )
                piece = []
            piece.append(note_of(hz))
        else:
            piece = []
            if note is not None:
                problems.append(f"tick {point_tick}: note {note} still sounds at a {kind}")
        if kind == "end":
            if bend != 0:
                problems.append(f"the bend stays at {bend} after the end")
            if [m.type for _, m in events[next_event - 1 :]] != ["end_of_track"]:
                problems.append(f"events after the end, or no end of track, at tick {point_tick}")
    if not points or points[-1][1] != "end":
        problems.append("the expected points do not end")

    for problem in problems[:20]:
        print(problem)
    if problems:
        print(f"{path}: {len(problems)} mismatches")
        sys.exit(1)
    print(f"ok: {path}, {len(points)} points")


if __name__ == "__main__":
    main()
