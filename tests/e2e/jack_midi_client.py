#!/usr/bin/env python3
"""The JACK test client of the MIDI end-to-end test, and its checks.

Needs Debian's python3-jack-client and python3-mido (run it with /usr/bin/python3). The JACK
server is the one JACK_DEFAULT_SERVER names. Subcommands (each exits 0, or prints
"FAIL: ..." and exits 1):

  wait-server
      Waits until the JACK server takes clients.
  ports NAME...
      Waits until every port NAME exists.
  no-ports PREFIX
      Checks that no port name starts with PREFIX.
  play TIMES
      Plays MELODY into DoodleChorus:midi_in at its times (frame-exact), and returns once the
      last event has gone out. Writes each event's time on JACK's clock to TIMES.
  listen OUT_FILE
      Connects DoodleChorus:midi_out to its own input and writes every message received,
      "FRAME MICROSECONDS HEX" a line (its frame time, and that on JACK's clock: a dummy
      server's frames run slower than real time under load, and playback runs in real time),
      to OUT_FILE when it gets SIGTERM. It writes OUT_FILE.ready once
      connected.
  record PREFIX SECONDS OUT.wav
      Connects the first audio output port whose name starts with PREFIX to its own input and
      writes SECONDS of it, at the server's rate, to OUT.wav (16-bit). Writes OUT.wav.ready
      once connected.
  pitch WAV
      Checks that the sound sings MELODY_NOTES, each within TOLERANCE_CENTS, in order.
  melody FILE.mid
      Writes MELODY as a Standard MIDI File.
  sav FILE.sav TIMES REFERENCE.sav
      Checks the recording: the same lines as REFERENCE.sav (the render tool's from the melody
      file) but for their times, and each line at the time its moment was played (TIMES, from
      play; within SAV_TOLERANCE_MS, counted from the first line).
  compare RECEIVED FILE.mid whole|bend
      Checks the received live output against the MIDI export, after aligning the first note
      on: "whole", the same note, bend and controller 74 messages, each within the file's 1 ms
      tick or one server period (as a MIDI file of the live output would hold them); "bend",
      the same sounding pitch (note + bend) and controller 74 at every message time, as close.
      The opening (bend range RPN 0, channel volume and a program change) must come first.
  connections PORT EXPECTED...
      Waits until PORT is connected to exactly the EXPECTED ports.
  churn
      Opens and closes a port of its own every CHURN_SECONDS until it gets SIGTERM.
  sings NOTE OUT.wav
      Holds NOTE on DoodleChorus:midi_in while recording DoodleChorus:out_L into OUT.wav, and
      checks that it sang NOTE within NOTE_TOLERANCE_CENTS.
  flood COUNT
      Sends COUNT messages in one period, a note on first and its note off last, and checks
      that DoodleChorus:out_L is silent once the voice has faded out.
  late-listener NOTE
      Holds NOTE on DoodleChorus:midi_in, connects a listener to DoodleChorus:midi_out halfway,
      and checks that the listener hears the note sounding.
"""

import ctypes
import math
import signal
import statistics
import subprocess
import sys
import threading
import time
import wave

import jack
import mido

SAMPLE_RATE = 44100
CLIENT = "DoodleChorus"

# The melody, in ms from its start: Major on C sings the program's C3..C4 as MIDI notes 56, 58,
# 60, 61, 63, 65, 67, 68. The notes overlap (last-note priority), the bends land on scale
# notes with the range set to 4 semitones (2048 steps a semitone), and the vowel moves.
BEND_CENTRE = 8192


def bend(semitones, bend_range=4):
    value = BEND_CENTRE + semitones * BEND_CENTRE // bend_range
    return bytes([0xE0, value & 0x7F, value >> 7])


MELODY = [
    (0, bytes([0xB0, 101, 0])),
    (0, bytes([0xB0, 100, 0])),
    (0, bytes([0xB0, 6, 4])),
    (0, bytes([0xB0, 38, 0])),
    (0, bytes([0xB0, 74, 127])),
    (0, bytes([0x90, 56, 100])),
    (500, bytes([0x90, 60, 90])),
    (1000, bytes([0x90, 63, 30])),
    (1500, bytes([0x80, 63, 0])),  # back to the 60 still held
    (2000, bend(1)),
    (2250, bytes([0xB0, 74, 60])),
    (2500, bend(3)),
    (3000, bend(0)),
    (3000, bytes([0xB0, 74, 0])),
    (3250, bytes([0xB0, 1, 100])),
    (3500, bytes([0x80, 60, 0])),  # back to the 56 still held
    (4000, bytes([0x80, 56, 0])),
]
MELODY_NOTES = [56, 60, 63, 60, 61, 63, 60, 56]
RELEASE_MS = 4000
# One tick a millisecond: 500 ticks a quarter note at 120 bpm.
MIDI_TICKS_PER_BEAT = 500
MIDI_TEMPO_US = 500000
LEAD_IN_SECONDS = 0.5

TOLERANCE_CENTS = 5.0
SAV_TOLERANCE_MS = 2
# Live MIDI out is stamped from the tick's sample frame and leaves a period after the main
# thread hands it over; a main thread later than its margin (a loaded machine) moves a message
# into the next period. So a message may be off its file time by the file's 1 ms tick, or by
# one period of the server (listen records it), whichever is more.
TIME_TOLERANCE_MS = 1.0
SAME_MOMENT_MS = 0.25  # well under the file's 1 ms tick
WAIT_SECONDS = 20
# A held note: long enough for the pitch track's steady runs. In Unrestricted a key lands on
# the nearest pixel column, at most 7.8 cents off above 275 Hz (see mapping/MidiMap.h).
NOTE_SECONDS = 1.0
NOTE_TOLERANCE_CENTS = 10.0
CHURN_SECONDS = 0.05
# The voice's fade-out (4,000 samples) and a few periods.
FLOOD_FADE_SECONDS = 0.3

# Steady runs of the pitch track: yin on 2048-sample frames every 256 samples; a run holds at
# least STEADY_HOPS frames within STEADY_SEMITONES of its median.
AUBIO_BUFFER = 2048
AUBIO_HOP = 256
STEADY_HOPS = 8
STEADY_SEMITONES = 0.15

A4_HZ, A4_NOTE = 440.0, 69
BEND_RANGE_SEMITONES_OUT = 24
VOWEL_CONTROLLER = 74
NOTE_ON, NOTE_OFF, CONTROL, PITCH_BEND = 0x90, 0x80, 0xB0, 0xE0


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def open_client(name):
    deadline = time.monotonic() + WAIT_SECONDS
    while True:
        try:
            return jack.Client(name, no_start_server=True)
        except jack.JackOpenError:
            if time.monotonic() > deadline:
                fail("no JACK server took the test client")
            time.sleep(0.1)


def wait_for_ports(client, names):
    deadline = time.monotonic() + WAIT_SECONDS
    while not all(client.get_ports(f"^{name}$") for name in names):
        if time.monotonic() > deadline:
            fail(f"ports {names} did not appear: {[p.name for p in client.get_ports()]}")
        time.sleep(0.1)


LIBJACK = ctypes.CDLL("libjack.so.0")
LIBJACK.jack_frames_to_time.restype = ctypes.c_uint64
LIBJACK.jack_frames_to_time.argtypes = [ctypes.c_void_p, ctypes.c_uint32]


def frames_to_time(client, frame):
    """jack_frames_to_time, which python3-jack-client 0.5 does not wrap."""
    return LIBJACK.jack_frames_to_time(int(jack._ffi.cast("uintptr_t", client._ptr)), frame)


def record(prefix, seconds, wav_path):
    client = open_client("dc-test-recorder")
    port = client.inports.register("in")
    wanted = int(float(seconds) * client.samplerate)
    blocks = []
    state = {"frames": 0}
    done = threading.Event()

    @client.set_process_callback
    def process(frames):
        if state["frames"] < wanted:
            blocks.append(bytes(port.get_buffer()))
            state["frames"] += frames
        else:
            done.set()

    with client:
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            sources = client.get_ports(name_pattern="^" + prefix, is_audio=True, is_output=True)
            if sources:
                break
            if time.monotonic() > deadline:
                fail(f"no audio output port starts with {prefix}")
            time.sleep(0.1)
        source = sources[0].name
        client.connect(source, port)
        open(wav_path + ".ready", "w", encoding="ascii").close()
        if not done.wait(float(seconds) + WAIT_SECONDS):
            fail("the recording did not end: the server stopped")
        rate = client.samplerate
    frames = write_wav(wav_path, blocks, rate)
    print(f"ok: {frames} frames at {rate} Hz from {source}")


def write_wav(wav_path, blocks, rate):
    """Float32 periods from a JACK port as a 16-bit WAV file; returns the frame count."""
    data = b"".join(blocks)
    samples = (ctypes.c_float * (len(data) // 4)).from_buffer_copy(data)
    pcm = bytearray()
    for sample in samples:
        pcm += int(max(-1.0, min(1.0, sample)) * 32767).to_bytes(2, "little", signed=True)
    with wave.open(wav_path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(bytes(pcm))
    return len(samples)


def play(times_path):
    client = open_client("dc-test-player")
    port = client.midi_outports.register("out")
    frames_per_ms = client.samplerate / 1000.0
    state = {"start": None, "next": 0}
    sent_us = []
    done = threading.Event()

    @client.set_process_callback
    def process(frames):
        port.clear_buffer()
        start = state["start"]
        if start is None:
            return
        period_start = client.last_frame_time
        while state["next"] < len(MELODY):
            at_ms, message = MELODY[state["next"]]
            offset = start + round(at_ms * frames_per_ms) - period_start
            if offset >= frames:
                break
            port.write_midi_event(max(offset, 0), message)
            # On JACK's clock (microseconds) as the program reads it, in the same period: a
            # dummy server's frames run slower than real time under load, and the program
            # times its points in real time.
            sent_us.append((at_ms, frames_to_time(client, period_start + max(offset, 0))))
            state["next"] += 1
        if state["next"] == len(MELODY):
            done.set()

    with client:
        wait_for_ports(client, [f"{CLIENT}:midi_in"])
        client.connect(port, f"{CLIENT}:midi_in")
        state["start"] = client.frame_time + round(LEAD_IN_SECONDS * client.samplerate)
        if not done.wait(LEAD_IN_SECONDS + RELEASE_MS / 1000.0 + WAIT_SECONDS):
            fail("the melody did not go out")
        time.sleep(0.2)  # the last period reaches the program
        with open(times_path, "w", encoding="ascii") as times:
            for at_ms, us in sent_us:
                times.write(f"{at_ms} {us}\n")
    print(f"ok: played {len(MELODY)} events")


def listen(out_path):
    client = open_client("dc-test-listener")
    port = client.midi_inports.register("in")
    received = []
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())

    @client.set_process_callback
    def process(frames):
        period_start = client.last_frame_time
        for offset, data in port.incoming_midi_events():
            frame = period_start + offset
            received.append((frame, frames_to_time(client, frame), bytes(data)))

    with client:
        wait_for_ports(client, [f"{CLIENT}:midi_out"])
        client.connect(f"{CLIENT}:midi_out", port)
        with open(out_path + ".ready", "w", encoding="ascii") as ready:
            ready.write("connected\n")
        stop.wait(600)
        period_ms = 1000.0 * client.blocksize / client.samplerate
        rate = client.samplerate
    with open(out_path, "w", encoding="ascii") as out:
        for frame, us, data in received:
            out.write(f"{frame} {us} {data.hex()}\n")
    with open(out_path + ".period", "w", encoding="ascii") as out:
        out.write(f"{period_ms} {rate}\n")


def note_of(hz):
    return 12.0 * math.log2(hz / A4_HZ) + A4_NOTE


def steady_runs(wav):
    track = subprocess.run(
        ["aubiopitch", "-i", wav, "-p", "yin", "-u", "Hz", "-B", str(AUBIO_BUFFER), "-H",
         str(AUBIO_HOP), "-l", "0.15"], capture_output=True, text=True, check=True).stdout
    runs, current = [], []
    for line in track.splitlines():
        seconds, hz = map(float, line.split())
        note = note_of(hz) if hz > 0 else None
        if note is not None and current and abs(note - statistics.median(current)) < STEADY_SEMITONES:
            current.append(note)
            continue
        if len(current) >= STEADY_HOPS:
            runs.append(statistics.median(current))
        current = [note] if note is not None else []
    if len(current) >= STEADY_HOPS:
        runs.append(statistics.median(current))
    # A run split by a tracker slip is one note.
    merged = []
    for note in runs:
        if merged and abs(note - merged[-1]) < STEADY_SEMITONES:
            continue
        merged.append(note)
    return merged


def check_pitch(wav):
    runs = steady_runs(wav)
    rounded = [round(note) for note in runs]
    for first in range(len(runs) - len(MELODY_NOTES) + 1):
        if rounded[first:first + len(MELODY_NOTES)] == MELODY_NOTES:
            sung = runs[first:first + len(MELODY_NOTES)]
            worst = max(abs(s - n) * 100 for s, n in zip(sung, MELODY_NOTES))
            if worst > TOLERANCE_CENTS:
                fail(f"notes {[round(s, 3) for s in sung]}: {worst:.1f} cents off")
            print(f"ok: sang {MELODY_NOTES}, worst {worst:.2f} cents off")
            return
    fail(f"the melody {MELODY_NOTES} is not in the sung notes {[round(n, 2) for n in runs]}")


def sav_lines(path):
    with open(path, "rb") as sav:
        return [tuple(int(field) for field in line.split(b";"))
                for line in sav.read().split(b"\r\n") if line]


def check_sav(path, times_path, reference_path):
    jack_us = {}
    with open(times_path, encoding="ascii") as times:
        for line in times:
            at_ms, us = map(int, line.split())
            jack_us.setdefault(at_ms, us)
    played_ms = {at: (us - jack_us[0]) / 1000 for at, us in jack_us.items()}
    lines, reference = sav_lines(path), sav_lines(reference_path)
    if [line[:3] for line in lines] != [line[:3] for line in reference]:
        fail(f"lines {lines}, the render tool's from the same MIDI file {reference}")
    late = [line[3] - lines[0][3] - played_ms[want[3]] for line, want in zip(lines, reference)]
    worst = max(abs(ms) for ms in late)
    if worst > SAV_TOLERANCE_MS:
        fail(f"lines {[round(ms, 1) for ms in late]} ms off the times they were played at")
    print(f"ok: the render tool's {len(lines)} lines from the same MIDI file, each within "
          f"{worst:.1f} ms of when it was played")


def write_melody(path):
    """MELODY as a Standard MIDI File, one tick a millisecond, for the render tool."""
    midi = mido.MidiFile(type=0, ticks_per_beat=MIDI_TICKS_PER_BEAT)
    track = mido.MidiTrack()
    midi.tracks.append(track)
    track.append(mido.MetaMessage("set_tempo", tempo=MIDI_TEMPO_US, time=0))
    last_ms = 0
    for at_ms, message in MELODY:
        track.append(mido.Message.from_bytes(list(message), time=at_ms - last_ms))
        last_ms = at_ms
    midi.save(path)


def exported(path):
    """The MIDI file's channel messages as (ms, bytes); one tick is one ms."""
    midi = mido.MidiFile(path)
    tick, messages = 0, []
    for message in mido.merge_tracks(midi.tracks):
        tick += message.time
        if not message.is_meta:
            messages.append((float(tick), bytes(message.bytes())))
    return messages


def received_messages(path, rate):
    """The messages at their frame times in ms: the program stamps played MIDI from its sample
    clock, the server's frames (which a dummy server's clock keeps only roughly in real time)."""
    with open(path, encoding="ascii") as lines:
        fields = [line.split() for line in lines]
    if not fields:
        return []
    first = int(fields[0][0])
    return [(1000.0 * (int(frame) - first) / rate, bytes.fromhex(data))
            for frame, _, data in fields]


def is_playing(message):
    kind = message[0] & 0xF0
    return kind in (NOTE_ON, NOTE_OFF, PITCH_BEND) or (
        kind == CONTROL and message[1] == VOWEL_CONTROLLER)


def aligned(messages):
    """The note, bend and vowel messages in ms from the first note on."""
    playing = [(ms, m) for ms, m in messages if is_playing(m)]
    first = next((ms for ms, m in playing if m[0] & 0xF0 == NOTE_ON and m[2] > 0), None)
    if first is None:
        fail("no note on")
    return [(ms - first, m) for ms, m in playing]


def sounding(messages):
    """(ms, sounding fractional note or None, vowel controller) after each moment."""
    note, bend_steps, vowel, states = None, 0, None, []
    for ms, m in messages:
        kind = m[0] & 0xF0
        if kind == NOTE_ON and m[2] > 0:
            note = m[1]
        elif kind == NOTE_OFF or (kind == NOTE_ON and m[2] == 0):
            note = None if note == m[1] else note
        elif kind == PITCH_BEND:
            bend_steps = (m[2] << 7 | m[1]) - BEND_CENTRE
        elif kind == CONTROL:
            vowel = m[2]
        pitch = None if note is None else note + bend_steps * BEND_RANGE_SEMITONES_OUT / BEND_CENTRE
        # Messages of one moment: the same tick in the file, the same frame live.
        if states and abs(states[-1][0] - ms) < SAME_MOMENT_MS:
            states[-1] = (states[-1][0], pitch, vowel)
        else:
            states.append((ms, pitch, vowel))
    # Moments that leave the sound as it was (the file may renote where live bends) drop out.
    return [state for index, state in enumerate(states)
            if index == 0 or state[1:] != states[index - 1][1:]]


def opening(messages):
    """The messages before the first note, bend or vowel: the bend range, volume and program."""
    leading = []
    for _, message in messages:
        if is_playing(message):
            break
        leading.append(message)
    return leading


def compare(received_path, midi_path, mode):
    with open(received_path + ".period", encoding="ascii") as period:
        period_ms, rate = (float(field) for field in period.read().split())
    tolerance_ms = max(TIME_TOLERANCE_MS, period_ms)
    received = received_messages(received_path, rate)
    if not received:
        fail("nothing received from midi_out")
    file_messages = exported(midi_path)
    if opening(received) != opening(file_messages):
        fail(f"the output opened with {[m.hex() for m in opening(received)]}, the file with "
             f"{[m.hex() for m in opening(file_messages)]}")
    live, export = aligned(received), aligned(file_messages)
    if mode == "whole":
        apart = []
        for index, ((live_ms, live_m), (file_ms, file_m)) in enumerate(zip(live, export)):
            if live_m != file_m:
                fail(f"message {index}: live {live_m.hex()} at {live_ms:.2f} ms, "
                     f"file {file_m.hex()} at {file_ms:.2f} ms")
            apart.append(abs(live_ms - file_ms))
        if len(live) != len(export):
            fail(f"{len(live)} messages live, {len(export)} in the file")
        # As the live output written into a MIDI file of 1 ms ticks would hold it.
        worst_ticks = max(abs(round(live_ms) - file_ms) for (live_ms, _), (file_ms, _) in
                          zip(live, export))
        if worst_ticks > tolerance_ms:
            fail(f"a message {max(apart):.2f} ms off the file's time")
        print(f"ok: the same {len(live)} messages, {statistics.median(apart):.2f} ms apart "
              f"(median), at most {max(apart):.2f} ms")
        return
    live_states, file_states = sounding(live), sounding(export)
    if len(live_states) != len(file_states):
        fail(f"{len(live_states)} moments live, {len(file_states)} in the file")
    worst_cents = 0.0
    for (live_ms, live_pitch, live_vowel), (file_ms, file_pitch, file_vowel) in zip(
            live_states, file_states):
        if ((live_pitch is None) != (file_pitch is None) or live_vowel != file_vowel
                or abs(live_ms - file_ms) > tolerance_ms):
            fail(f"live at {live_ms:.2f} ms sounds {live_pitch} vowel {live_vowel}, "
                 f"the file at {file_ms:.2f} ms {file_pitch} vowel {file_vowel}")
        if live_pitch is not None:
            worst_cents = max(worst_cents, abs(live_pitch - file_pitch) * 100)
    if worst_cents > TOLERANCE_CENTS:
        fail(f"live pitch {worst_cents:.1f} cents off the file's")
    print(f"ok: {len(live)} messages live, {len(export)} in the file: the same pitch and vowel "
          f"at {len(live_states)} moments, each within {tolerance_ms:.2f} ms, worst "
          f"{worst_cents:.2f} cents")


def connections(port_name, *expected):
    client = open_client("dc-test-probe")
    wait_for_ports(client, [port_name])
    deadline = time.monotonic() + WAIT_SECONDS
    while True:
        found = sorted(p.name for p in client.get_all_connections(port_name))
        if found == sorted(expected) or time.monotonic() > deadline:
            break
        time.sleep(0.1)
    client.close()
    if found != sorted(expected):
        fail(f"{port_name} is connected to {found}, not {sorted(expected)}")
    print(f"ok: {port_name} -> {' '.join(found)}")


def churn():
    """Opens and closes a port every CHURN_SECONDS until ended by SIGTERM."""
    client = open_client("dc-test-churn")
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    with client:
        while not stop.is_set():
            port = client.outports.register("churn")
            stop.wait(CHURN_SECONDS)
            port.unregister()
            stop.wait(CHURN_SECONDS)


def hold_note(note, seconds, wav_path=None, listen_after=None):
    """Holds NOTE on DoodleChorus:midi_in for SECONDS. Records DoodleChorus:out_L into WAV_PATH
    meanwhile, or connects a listener to midi_out LISTEN_AFTER seconds into the note and returns
    what it heard."""
    client = open_client("dc-test-note")
    midi_out = client.midi_outports.register("out")
    audio_in = client.inports.register("in")
    midi_in = client.midi_inports.register("in_midi")
    state = {"send": [bytes([0x90, note, 100])], "recording": False}
    blocks, heard = [], []

    @client.set_process_callback
    def process(frames):
        midi_out.clear_buffer()
        while state["send"]:
            midi_out.write_midi_event(0, state["send"].pop(0))
        if state["recording"]:
            blocks.append(bytes(audio_in.get_buffer()))
        for _, data in midi_in.incoming_midi_events():
            heard.append(bytes(data))

    with client:
        wait_for_ports(client, [f"{CLIENT}:midi_in", f"{CLIENT}:out_L", f"{CLIENT}:midi_out"])
        client.connect(midi_out, f"{CLIENT}:midi_in")
        if wav_path:
            client.connect(f"{CLIENT}:out_L", audio_in)
            state["recording"] = True
            time.sleep(0.2)
            state["send"] = [bytes([0x90, note, 100])]
            time.sleep(seconds)
        else:
            state["send"] = [bytes([0x90, note, 100])]
            time.sleep(listen_after)
            client.connect(f"{CLIENT}:midi_out", midi_in)
            time.sleep(seconds - listen_after)
        state["send"] = [bytes([0x80, note, 0])]
        time.sleep(0.2)
        state["recording"] = False
        rate = client.samplerate
    if wav_path:
        write_wav(wav_path, blocks, rate)
    return heard


def sings_note(note, wav_path):
    hold_note(int(note), NOTE_SECONDS, wav_path=wav_path)
    runs = steady_runs(wav_path)
    near = [run for run in runs if abs(run - int(note)) * 100 <= NOTE_TOLERANCE_CENTS]
    if not near:
        fail(f"note {note} held: the pitch track's steady runs are {runs}")
    print(f"ok: note {note} sang {100 * (near[0] - int(note)):+.1f} cents off")


def late_listener(note):
    """A listener connected to midi_out while NOTE sounds hears it: a note on that, with the
    bend, is NOTE within the Unrestricted columns' error."""
    heard = hold_note(int(note), NOTE_SECONDS, listen_after=NOTE_SECONDS / 2)
    bend_value, sounding = BEND_CENTRE, None
    for data in heard:
        if data[0] & 0xF0 == PITCH_BEND:
            bend_value = data[1] | data[2] << 7
        if data[0] & 0xF0 == NOTE_ON and data[2] > 0 and sounding is None:
            sounding = data[1] + (bend_value - BEND_CENTRE) * BEND_RANGE_SEMITONES_OUT / BEND_CENTRE
    if sounding is None:
        fail(f"a listener connected mid-note heard no note on: {[d.hex() for d in heard]}")
    if abs(sounding - int(note)) * 100 > NOTE_TOLERANCE_CENTS:
        fail(f"a listener connected mid-note heard {sounding:.2f}, not {note}")
    print(f"ok: a listener connected mid-note heard note {sounding:.2f}")


def flood(count):
    """COUNT messages in one period (a note on, vowel controllers, the note off): the program
    must apply them all, so that DoodleChorus:out_L falls silent after the voice's fade-out."""
    client = open_client("dc-test-flood")
    midi_out = client.midi_outports.register("out")
    audio_in = client.inports.register("in")
    messages = ([bytes([0x90, 62, 100])] +
                [bytes([0xB0, 74, value % 128]) for value in range(int(count) - 2)] +
                [bytes([0x80, 62, 0])])
    state = {"send": False, "listening": False, "loudest": 0.0}

    @client.set_process_callback
    def process(frames):
        midi_out.clear_buffer()
        if state["send"]:
            for message in messages:
                midi_out.write_midi_event(0, message)
            state["send"] = False
        if state["listening"]:
            state["loudest"] = max(state["loudest"], float(max(abs(audio_in.get_array()))))

    with client:
        wait_for_ports(client, [f"{CLIENT}:midi_in", f"{CLIENT}:out_L"])
        client.connect(midi_out, f"{CLIENT}:midi_in")
        client.connect(f"{CLIENT}:out_L", audio_in)
        time.sleep(0.2)
        state["send"] = True
        time.sleep(FLOOD_FADE_SECONDS)
        state["listening"] = True
        time.sleep(0.5)
        state["listening"] = False
    if state["loudest"] != 0.0:
        fail(f"after {count} messages in one period ending in a note off, the voice still "
             f"sounds (peak {state['loudest']:.4f})")
    print(f"ok: {count} messages in one period, the last a note off: silent after the fade-out")


def main():
    command, args = sys.argv[1], sys.argv[2:]
    # libjack reports on stderr while the server is still starting.
    jack.set_error_function(lambda message: None)
    jack.set_info_function(lambda message: None)
    if command == "wait-server":
        open_client("dc-test-probe").close()
        print("ok: it takes clients")
    elif command == "ports":
        client = open_client("dc-test-probe")
        wait_for_ports(client, args)
        client.close()
        print(f"ok: {' '.join(args)}")
    elif command == "no-ports":
        client = open_client("dc-test-probe")
        names = [p.name for p in client.get_ports() if p.name.startswith(args[0])]
        client.close()
        if names:
            fail(f"ports {names}")
        print(f"ok: no port of {args[0]}")
    elif command == "play":
        play(args[0])
    elif command == "listen":
        listen(args[0])
    elif command == "record":
        record(*args)
    elif command == "pitch":
        check_pitch(args[0])
    elif command == "sav":
        check_sav(*args)
    elif command == "melody":
        write_melody(args[0])
        print(f"ok: {args[0]}")
    elif command == "compare":
        compare(*args)
    elif command == "connections":
        connections(*args)
    elif command == "churn":
        churn()
    elif command == "sings":
        sings_note(*args)
    elif command == "late-listener":
        late_listener(*args)
    elif command == "flood":
        flood(*args)
    else:
        fail(f"unknown command {command}")


if __name__ == "__main__":
    main()
