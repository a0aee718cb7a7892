#!/usr/bin/python3
"""Latency from MIDI in to sound on the desktop, in frames of a dummy JACK server's clock.

Usage: bench/jack_midi_latency.py PATH/TO/doodlechorus [NOTES]

For each period (64 and 256 frames), idle and with two busy loops beside it, it starts
`jackd -d dummy` of its own and the program offscreen, which joins it as the client
DoodleChorus. A test client (python3-jack-client) plays NOTES notes into DoodleChorus:midi_in,
each at a random offset within a period, and listens to DoodleChorus:out_L: the latency of a
note is the frame of the first non-zero sample after its note on minus the note on's frame.
Prints the median, the 95th and 99th percentiles and the largest, in frames; figures only.
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
BUSY_LOOPS = 2


def wait_for(predicate, what):
    deadline = time.monotonic() + WAIT_SECONDS
    while not predicate():
        if time.monotonic() > deadline:
            sys.exit(f"bench: {what}")
        time.sleep(0.05)


def open_client(name):
    client = None

    def opened():
        nonlocal client
        try:
            client = jack.Client(name, no_start_server=True)
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
        sender = open_client("dc-latency-sender")
        recorder = open_client("dc-latency-recorder")
        app = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        midi_out = sender.midi_outports.register("midi")
        audio_in = recorder.inports.register("audio")
        pending = []  # note on frames not yet sent: (frame, message)
        sent_on = []  # frames of note ons sent
        first_sound = []  # frame of the first non-zero sample after each note on
        lock = threading.Lock()

        # Two clients, so that the graph runs sender, program, recorder in one period: a client
        # that both sent and recorded would close a loop, which JACK breaks with a period's delay.
        @sender.set_process_callback
        def send(frames):
            midi_out.clear_buffer()
            start = sender.last_frame_time
            with lock:
                while pending and pending[0][0] < start + frames:
                    frame, message = pending.pop(0)
                    midi_out.write_midi_event(max(frame - start, 0), message)
                    if message == NOTE:
                        sent_on.append(max(frame, start))

        @recorder.set_process_callback
        def record(frames):
            start = recorder.last_frame_time
            with lock:
                if len(first_sound) < len(sent_on):
                    samples = audio_in.get_array()
                    for offset in range(frames):
                        if samples[offset] != 0.0 and start + offset >= sent_on[-1]:
                            first_sound.append(start + offset)
                            break

        with sender, recorder:
            wait_for(lambda: sender.get_ports("^DoodleChorus:midi_in$"),
                     "the program's MIDI port did not appear")
            wait_for(lambda: sender.get_ports("^DoodleChorus:out_L$"),
                     "the program's sound port did not appear")
            sender.connect(midi_out, "DoodleChorus:midi_in")
            recorder.connect("DoodleChorus:out_L", audio_in)
            time.sleep(1.0)  # the stream runs, the voice is silent
            for _ in range(notes):
                on_frame = sender.frame_time + period + random.randrange(period)
                with lock:
                    pending.append((on_frame, NOTE))
                time.sleep(HOLD_SECONDS)
                with lock:
                    pending.append((sender.frame_time + period, NOTE_OFF))
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


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def busy_loops(count):
    """Loops that keep cores busy, as other programs on a desktop do."""
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(count)]


def main():
    # libjack reports on stderr while the server is still starting.
    jack.set_error_function(lambda message: None)
    jack.set_info_function(lambda message: None)
    program = sys.argv[1]
    notes = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    print(f"MIDI in to sound, dummy JACK server at {SAMPLE_RATE} Hz, {notes} notes a pass, "
          "frames p50 / p95 / p99 / max")
    with tempfile.TemporaryDirectory() as work:
        os.chmod(work, 0o700)
        for load, loops in (("idle", 0), ("two busy loops", BUSY_LOOPS)):
            for period in PERIODS:
                busy = busy_loops(loops)
                try:
                    latencies = measure(program, period, notes, work)
                finally:
                    for loop in busy:
                        loop.kill()
                        loop.wait()
                if not latencies:
                    print(f"  {load}, -p {period}: no note was heard")
                    continue
                within = sum(1 for frames in latencies if frames <= period)
                print(f"  {load}, -p {period}: {percentile(latencies, 0.5)} / "
                      f"{percentile(latencies, 0.95)} / {percentile(latencies, 0.99)} / "
                      f"{max(latencies)} ({max(latencies) / SAMPLE_RATE * 1000:.2f} ms), "
                      f"{within}/{len(latencies)} within one period")


if __name__ == "__main__":
    main()
