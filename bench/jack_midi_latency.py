#!/usr/bin/python3
"""Latency from MIDI in to sound on the desktop, in frames of a dummy JACK server's clock.

Usage: bench/jack_midi_latency.py PATH/TO/doodlechorus [NOTES]

For each period (64 and 256 frames) it starts `jackd -d dummy` of its own, and the program
offscreen. On a machine with no sound card PortAudio finds no ALSA output and takes its JACK
host API as the default (the first host API with a default device), so the program's sound
is a JACK port, PortAudio:out_0, on the same clock as its MIDI ports; where an ALSA device is
the default the bench says so and measures nothing. (An ALSA configuration without devices
through ALSA_CONFIG_PATH does not do: PortAudio 19.6 fails an assertion listing it.) A test client
(python3-jack-client) plays NOTES notes into DoodleChorus:midi_in, each at a random offset
within a period, and listens to the program's audio port: the latency of a note is the frame
of the first non-zero sample after its note on minus the note on's frame. Prints figures only.
Needs Debian's jackd2 and python3-jack-client.
"""

import os
import random
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import jack

SAMPLE_RATE = 44100
PERIODS = (64, 256)
NOTE = bytes([0x90, 57, 100])
NOTE_OFF = bytes([0x80, 57, 0])
HOLD_SECONDS = 0.2
SILENCE_SECONDS = 0.4  # the voice fades out well within this
WAIT_SECONDS = 20


def wait_for(predicate, what):
    deadline = time.monotonic() + WAIT_SECONDS
    while not predicate():
        if time.monotonic() > deadline:
            sys.exit(f"bench: {what}")
        time.sleep(0.05)


def open_client():
    client = None

    def opened():
        nonlocal client
        try:
            client = jack.Client("dc-latency", no_start_server=True)
        except jack.JackOpenError:
            return False
        return True

    wait_for(opened, "the JACK server did not start")
    return client


def measure(program, period, notes, work):
    env = dict(os.environ)
    # A fixed name: libjack's registry of server names has eight places, and the place of a
    # server that did not leave it is reclaimed only under the same name.
    env["JACK_DEFAULT_SERVER"] = f"doodlechorus-bench-{period}"
    env["JACK_NO_START_SERVER"] = "1"
    env["QT_QPA_PLATFORM"] = "offscreen"
    env["XDG_RUNTIME_DIR"] = work
    os.environ["JACK_DEFAULT_SERVER"] = env["JACK_DEFAULT_SERVER"]
    jackd = subprocess.Popen(
        ["jackd", "--no-realtime", "-d", "dummy", "-r", str(SAMPLE_RATE), "-p", str(period)],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    app = None
    try:
        client = open_client()
        app = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        midi_out = client.midi_outports.register("midi")
        audio_in = client.inports.register("audio")
        pending = []  # note on frames not yet sent: (frame, message)
        sent_on = []  # frames of note ons sent
        first_sound = []  # frame of the first non-zero sample after each note on
        lock = threading.Lock()

        @client.set_process_callback
        def process(frames):
            midi_out.clear_buffer()
            start = client.last_frame_time
            with lock:
                while pending and pending[0][0] < start + frames:
                    frame, message = pending.pop(0)
                    midi_out.write_midi_event(max(frame - start, 0), message)
                    if message == NOTE:
                        sent_on.append(max(frame, start))
                if len(first_sound) < len(sent_on):
                    samples = audio_in.get_array()
                    for offset in range(frames):
                        if samples[offset] != 0.0 and start + offset >= sent_on[-1]:
                            first_sound.append(start + offset)
                            break

        with client:
            wait_for(lambda: client.get_ports("^DoodleChorus:midi_in$"),
                     "the program's MIDI port did not appear")
            wait_for(lambda: client.get_ports("^PortAudio.*:out_0$"),
                     "the program's sound is not a JACK port (PortAudio took another output)")
            audio_port = client.get_ports("^PortAudio.*:out_0$")[0]
            client.connect(midi_out, "DoodleChorus:midi_in")
            client.connect(audio_port, audio_in)
            time.sleep(1.0)  # the stream runs, the voice is silent
            for _ in range(notes):
                on_frame = client.frame_time + period + random.randrange(period)
                with lock:
                    pending.append((on_frame, NOTE))
                time.sleep(HOLD_SECONDS)
                with lock:
                    pending.append((client.frame_time + period, NOTE_OFF))
                time.sleep(SILENCE_SECONDS)
        latencies = [sound - on for on, sound in zip(sent_on, first_sound)]
        if len(latencies) < notes:
            print(f"  period {period}: only {len(latencies)} of {notes} notes were heard")
        return latencies
    finally:
        if app is not None:
            app.terminate()
            app.wait(WAIT_SECONDS)
        jackd.terminate()
        jackd.wait(WAIT_SECONDS)


def main():
    # libjack reports on stderr while the server is still starting.
    jack.set_error_function(lambda message: None)
    jack.set_info_function(lambda message: None)
    program = sys.argv[1]
    notes = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    print(f"MIDI in to sound, dummy JACK server at {SAMPLE_RATE} Hz, {notes} notes a period size")
    with tempfile.TemporaryDirectory() as work:
        os.chmod(work, 0o700)
        for period in PERIODS:
            latencies = measure(program, period, notes, work)
            if not latencies:
                print(f"  -p {period}: no note was heard")
                continue
            within = sum(1 for frames in latencies if frames <= period)
            print(f"  -p {period}: median {statistics.median(latencies):.0f} frames "
                  f"({statistics.median(latencies) / SAMPLE_RATE * 1000:.2f} ms), "
                  f"min {min(latencies)}, max {max(latencies)}, "
                  f"{within}/{len(latencies)} within one period")


if __name__ == "__main__":
    main()
