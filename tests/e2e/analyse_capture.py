#!/usr/bin/env python3
"""Checks for the drawing end-to-end test: what the window shows and what the voice sang.

Standard library only. Subcommands (each prints one line of figures and exits 0, or prints
"FAIL: ..." and exits 1):

  area SHOT.ppm
      Finds the drawing area (the white 240 x 200 rectangle) in a screenshot of the main
      window and prints its top-left corner in window pixels: "X Y".
  dots SHOT.ppm AREA_X AREA_Y STROKE_Y X,X,... [STROKE_Y X,X,... ...]
      Checks the blue ink of the strokes drawn at area row STROKE_Y through the listed X.
  unrestricted CAPTURE PRESSED_AT RELEASED_AT FROM_X TO_X
  major CAPTURE PRESSED_AT RELEASED_AT FROM_X TO_X
      Checks the stroke that was pressed when the capture held PRESSED_AT samples and
      released when it held RELEASED_AT: its pitch track and the silence after the release.
  pacing PACER_LOG
      Reads the capture pacer's log of the stream's writes and prints the stream's period
      (frames per write) and how evenly the writes came: "FRAMES frames (...)".
  partial_dots SHOT.ppm AREA_X AREA_Y STROKE_Y X,X,...
      Checks that the area shows at most the first half of the stroke's dots and no other
      ink: a playback caught early, on an area it wiped.
  replay CAPTURE PERIOD RECORD_AT PRESSED_AT PLAY_AT
      Checks that the capture holds a stroke twice, live (pressed when the capture held
      PRESSED_AT samples) and played back (play pressed at PLAY_AT): the same length, the
      same pitch contour, the same delay from "record" and from "play". PERIOD is the
      stream's callback period in frames (from "pacing").
"""

import array
import math
import os
import statistics
import subprocess
import sys
import tempfile
import wave

SAMPLE_RATE = 44100

# Drawing area and ink, in pixels.
AREA_WIDTH = 240
AREA_HEIGHT = 200
INK_RADIUS = 2
INK = (0, 0, 255)
WHITE = (255, 255, 255)
# Qt may merge two queued moves into one when the program falls behind; beyond this share of
# the points the program itself dropped them.
LEAST_INKED_SHARE = 0.9

# The voice's envelopes, in samples.
FADE_IN_SAMPLES = 1000
FADE_OUT_SAMPLES = 4000
SILENT_WITHIN_SAMPLES = SAMPLE_RATE // 10  # 100 ms from the release to exact silence
# A fade shorter than this is a click, not a fade-out (10 % below its nominal length).
SHORTEST_FADE_SAMPLES = FADE_OUT_SAMPLES * 9 // 10

# How far a pitch may be from the one the point asks for.
PITCH_TOLERANCE = 0.03

# The pitch tracker: yin on 1024-sample frames (lowest pitch 2 * 44100 / 1024 = 86 Hz) every
# 128 samples (2.9 ms); a frame whose best period is not clearly periodic (tolerance 0.15)
# reads 0 Hz and is left out.
AUBIO_BUFFER = 1024
AUBIO_HOP = 128
AUBIO_TOLERANCE = "0.15"

# A sounding part ends at its last non-zero sample followed by this much exact silence.
SILENCE_AFTER_SAMPLES = SAMPLE_RATE // 5

# The press and the release happen while the pointer rests: the stroke holds still this long
# at each end (the script's hold is longer; the rest is margin for a slow event loop).
PLATEAU_SAMPLES = int(0.15 * SAMPLE_RATE)

# The capture runs behind the audio callback by the buffers in between (about a second) and
# is read in 0.1 s steps; the release must be heard this close to the press's lag.
RELEASE_LAG_SLACK_SAMPLES = int(0.3 * SAMPLE_RATE)

# Unrestricted: a frame far from the median of itself and four neighbours on each side is a
# tracker slip (mostly an octave too low where the pitch jumps: up to a few frames in a
# row); at most this share of frames may slip.
OUTLIER_NEIGHBOURS = 4
MOST_OUTLIERS = 0.05
# Unrestricted: the pitch track must pass through every tenth of the stroke's X range.
COVERAGE_BINS = 10
MIN_FRAMES_PER_BIN = 3

# Scale modes: a frame is steady (not in a glide) when it and its neighbours agree this well.
STEADY_NEIGHBOURS = 2
STEADY_SPREAD = 0.005
# A note counts as heard when this many steady frames in a row name it.
MIN_NOTE_FRAMES = 3

# C major on root C: semitones from C, the Hz of C in the lowest strip octave, one strip per
# note along X, seven strips an octave, four octaves over the area's 240 px.
MAJOR_SEMITONES = (0, 2, 4, 5, 7, 9, 11)
NOTE_BASE_HZ = 51.914
STRIP_PX = 10
OCTAVES = 4
NOTE_NAMES = ("C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B")


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


# ---------------------------------------------------------------------------- screenshots


def read_ppm(path):
    """Returns (width, height, pixel function) of a binary 8-bit PPM (ImageMagick's ppm:)."""
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos : pos + 1].isspace():
            pos += 1
        if data[pos : pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end : end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1  # the single white space before the pixels
    if fields[0] != b"P6" or int(fields[3]) != 255:
        fail(f"{path} is not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos : pos + 3 * width * height]

    def pixel(x, y):
        i = 3 * (y * width + x)
        return (pixels[i], pixels[i + 1], pixels[i + 2])

    return width, height, pixel



def ink_pixels(path, area_x, area_y):
    """The ink-blue pixels of a screenshot, in drawing-area coordinates."""
    width, height, pixel = read_ppm(path)
    return {
        (x - area_x, y - area_y)
        for y in range(height)
        for x in range(width)
        if pixel(x, y) == INK
    }

def find_area(path):
    """Top-left corner of the only white rectangle of exactly 240 x 200 pixels."""
    width, height, pixel = read_ppm(path)
    white = [[pixel(x, y) == WHITE for x in range(width)] for y in range(height)]
    # Start column of each run of exactly AREA_WIDTH white pixels, per row.
    runs = []
    for y in range(height):
        row_runs = set()
        x = 0
        while x < width:
            if white[y][x]:
                start = x
                while x < width and white[y][x]:
                    x += 1
                if x - start == AREA_WIDTH:
                    row_runs.add(start)
            else:
                x += 1
        runs.append(row_runs)
    found = []
    for y in range(height - AREA_HEIGHT + 1):
        for x in runs[y]:
            if (y == 0 or x not in runs[y - 1]) and all(
                x in runs[y + dy] for dy in range(AREA_HEIGHT)
            ):
                if y + AREA_HEIGHT == height or x not in runs[y + AREA_HEIGHT]:
                    found.append((x, y))
    if len(found) != 1:
        fail(f"expected one white {AREA_WIDTH}x{AREA_HEIGHT} drawing area, found {found}")
    print(f"{found[0][0]} {found[0][1]}")


def disc(cx, cy):
    return {
        (cx + dx, cy + dy)
        for dy in range(-INK_RADIUS, INK_RADIUS + 1)
        for dx in range(-INK_RADIUS, INK_RADIUS + 1)
        if dx * dx + dy * dy <= INK_RADIUS * INK_RADIUS
    }


def check_dots(path, area_x, area_y, strokes):
    """strokes: [(stroke_y, [x, ...])] in area pixels, the points the pointer was moved to.

    The ink must be exactly a union of radius-2 dots centred on the strokes' points, every
    stroke must be inked from its first point to its last, with no gap along its row, and
    nothing else in the window may be ink-blue.
    """
    ink = ink_pixels(path, area_x, area_y)
    outside = [p for p in ink if not (0 <= p[0] < AREA_WIDTH and 0 <= p[1] < AREA_HEIGHT)]
    if outside:
        fail(f"{len(outside)} ink pixels outside the drawing area, e.g. {sorted(outside)[:5]}")

    figures = []
    explained = set()
    for stroke_y, xs in strokes:
        sent = set(xs)
        # A dot's top pixel is its centre's column alone: the top row of a stroke's ink
        # names the points that were inked.
        centres = sorted(x for (x, y) in ink if y == stroke_y - INK_RADIUS)
        if not centres:
            fail(f"row {stroke_y}: no dot of the stroke")
        strays = [x for x in centres if x not in sent]
        if strays:
            fail(f"row {stroke_y}: dots at X {strays[:10]}, where the pointer never was")
        if len(centres) < LEAST_INKED_SHARE * len(sent):
            fail(f"row {stroke_y}: {len(centres)} dots for {len(sent)} points")
        if centres[0] != xs[0] or centres[-1] != xs[-1]:
            fail(
                f"row {stroke_y}: the ink runs from X {centres[0]} to {centres[-1]},"
                f" the stroke from {xs[0]} to {xs[-1]}"
            )
        dots = set()
        for x in centres:
            dots |= disc(x, stroke_y)
        row = {x for (x, y) in ink if y == stroke_y}
        gaps = [x for x in range(xs[0], xs[-1] + 1) if x not in row]
        if gaps:
            fail(f"row {stroke_y}: the stroke's ink has gaps at X {gaps[:10]}")
        explained |= dots
        figures.append(
            f"row {stroke_y}: {len(centres)} dots for {len(sent)} points,"
            f" X {centres[0]}..{centres[-1]}"
        )
    missing = explained - ink
    if missing:
        fail(f"{len(missing)} pixels of the dots are not ink-blue, e.g. {sorted(missing)[:5]}")
    extra = ink - explained
    if extra:
        fail(f"{len(extra)} ink pixels belong to no dot of a stroke, e.g. {sorted(extra)[:5]}")
    print(f"{len(ink)} ink pixels; " + "; ".join(figures))


# ---------------------------------------------------------------------------- sound


def read_capture(path):
    samples = array.array("f")
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def sounding_part(samples, pressed_at):
    """(first, end) of the first sound that begins after the press. The capture lags the
    callback, so an earlier stroke may still sound at the press."""
    for first, end in sounding_parts(samples):
        if first >= pressed_at:
            return first, end
    fail(f"no sound began after the press (capture: {len(samples)} samples,"
         f" press at {pressed_at})")


def rms(samples, start, end):
    return math.sqrt(math.fsum(v * v for v in samples[start:end]) / (end - start))


def fade_out(samples, first, end, final_hz):
    """Where the final fade-out starts, from the envelope: the level held before the release,
    and the line through the envelope while it falls from 80 % to 20 % of that level, which
    reaches the held level at the fade's start. Returns (fade start, fade length, level).

    The envelope is the RMS over four periods of the final pitch: the peak of a period jumps
    with where the samples fall on the wave, the RMS over whole periods hardly moves."""
    window = int(4 * SAMPLE_RATE / final_hz) + 1
    held_from = max(first, end - 3 * FADE_OUT_SAMPLES)
    held_to = end - int(1.5 * FADE_OUT_SAMPLES)
    if held_to - held_from < 4 * window:
        fail(f"the sound lasted only {end - first} samples")
    level = rms(samples, held_from, held_to)
    # Steps back from the silence; the fall is the run of windows below 80 %.
    step = 32
    falling = []
    for s in range(end - window, held_from, -step):
        value = rms(samples, s, s + window)
        if value >= 0.8 * level:
            break
        if value > 0.2 * level:
            falling.append((s + window / 2, value))
    if len(falling) < 10:
        fail(f"no gradual fade-out before the silence: {len(falling)} points between"
             f" 80 % and 20 % of the level {level:.3f}")
    # Least-squares line value = a + b * t.
    mt = statistics.fmean(t for t, _ in falling)
    mv = statistics.fmean(v for _, v in falling)
    b = sum((t - mt) * (v - mv) for t, v in falling) / sum((t - mt) ** 2 for t, _ in falling)
    a = mv - b * mt
    if b >= 0:
        fail("the envelope does not fall before the silence")
    start = (level - a) / b
    worst = max(abs(v - (a + b * t)) for t, v in falling) / level
    if worst > 0.05:
        fail(f"the fade-out is not linear: {worst:.1%} of the level off its line")
    return start, end - start, level


def pitch_track(samples, start, end):
    """[(sample index at the frame's end, Hz)] of yin on samples[start:end]; frames that are
    not clearly periodic are left out, and so are frames that reach before `start`."""
    part = samples[start:end]
    peak = max(abs(v) for v in part) or 1.0
    pcm = array.array("h", (int(round(v / peak * 32000)) for v in part))
    with tempfile.TemporaryDirectory() as folder:
        wav_path = os.path.join(folder, "part.wav")
        with wave.open(wav_path, "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(SAMPLE_RATE)
            w.writeframes(pcm.tobytes())
        out = subprocess.run(
            ["aubiopitch", "-i", wav_path, "-p", "yin", "-u", "Hz", "-B", str(AUBIO_BUFFER),
             "-H", str(AUBIO_HOP), "-l", AUBIO_TOLERANCE, "-T", "samples"],
            check=True, capture_output=True, text=True,
        ).stdout
    track = []
    for line in out.splitlines():
        fields = line.split()
        if len(fields) != 2:
            continue
        # aubio stamps a frame with the start of its last hop: its buffer holds the
        # AUBIO_BUFFER samples up to that hop's end.
        frame_end = int(float(fields[0])) + AUBIO_HOP
        hz = float(fields[1])
        if hz > 0 and frame_end - AUBIO_BUFFER >= 0 and frame_end <= len(part):
            track.append((start + frame_end, hz))
    return track


def release_timing(samples, pressed_at, released_at, final_hz):
    """Finds the stroke's sound, which ends at final_hz, and checks its end.
    Returns (first, fade start, figures).

    The capture runs about a second behind the callback and grows in 0.1 s steps, so its
    length when the button went up places the release only to within 0.1 to 0.2 s. The
    time from the release to silence is therefore read off the sound itself: the release
    starts the fade-out, whose start is where the envelope's straight fall meets the level
    held before it, and the silence begins after the last non-zero sample. The capture's
    lengths at the press and at the release then only confirm that it was the release
    that started the fade."""
    first, end = sounding_part(samples, pressed_at)
    start, length, level = fade_out(samples, first, end, final_hz)
    if length > SILENT_WITHIN_SAMPLES:
        fail(f"not silent until {length / SAMPLE_RATE * 1000:.1f} ms after the fade-out"
             f" began; at most {SILENT_WITHIN_SAMPLES / SAMPLE_RATE * 1000:.0f} ms")
    if length < SHORTEST_FADE_SAMPLES:
        fail(f"the fade-out lasted only {length:.0f} samples")
    # The release must start the fade: the capture's lag behind the callback, measured at
    # the press, must match the one at the fade's start.
    press_lag = first - pressed_at
    release_lag = start - released_at
    if abs(release_lag - press_lag) > RELEASE_LAG_SLACK_SAMPLES:
        fail(
            f"the fade-out began {(release_lag - press_lag) / SAMPLE_RATE * 1000:+.0f} ms"
            " away from the release (measured against the press)"
        )
    figures = (
        f"silent {length / SAMPLE_RATE * 1000:.1f} ms ({length:.0f} samples) after the"
        f" fade-out began at level {level:.3f}; fade began"
        f" {(release_lag - press_lag) / SAMPLE_RATE * 1000:+.0f} ms from the release"
        f" (lag {press_lag / SAMPLE_RATE:.2f} s)"
    )
    return first, int(start), figures


def median_near(track, lo, hi):
    values = [hz for t, hz in track if lo <= t <= hi]
    if len(values) < 3:
        fail(f"only {len(values)} pitch frames in samples {lo}..{hi}")
    return statistics.median(values)


def deviation(hz, expected):
    return hz / expected - 1.0


def drop_outliers(track):
    """The track without its slips, and how many there were."""
    kept = []
    for i, (t, hz) in enumerate(track):
        lo, hi = max(0, i - OUTLIER_NEIGHBOURS), i + OUTLIER_NEIGHBOURS + 1
        around = [h for _, h in track[lo:hi]]
        if abs(deviation(hz, statistics.median(around))) <= PITCH_TOLERANCE:
            kept.append((t, hz))
    dropped = len(track) - len(kept)
    if dropped > MOST_OUTLIERS * len(track):
        fail(f"the pitch track is erratic: {dropped} of {len(track)} frames off their neighbours")
    return kept, dropped


def check_unrestricted(samples, pressed_at, released_at, from_x, to_x):
    low = (from_x + 10) * 2.5
    high = (to_x + 10) * 2.5
    first, fade_start, timing = release_timing(samples, pressed_at, released_at, high)
    track, dropped = drop_outliers(pitch_track(samples, first + FADE_IN_SAMPLES, fade_start))

    begin = median_near(track, first, first + PLATEAU_SAMPLES)
    finish = median_near(track, fade_start - PLATEAU_SAMPLES, fade_start)
    for name, hz, expected in (("start", begin, low), ("end", finish, high)):
        if abs(deviation(hz, expected)) > PITCH_TOLERANCE:
            fail(f"{name} of the stroke sang {hz:.1f} Hz, not {expected:.1f} Hz")

    # Every frame within the stroke's range, the track rising (a fall of up to the
    # tolerance is tracker noise), and the track dwelling in every part of the range.
    bins = [0] * COVERAGE_BINS
    top = 0.0
    worst_fall = 0.0
    for t, hz in track:
        if not low * (1 - PITCH_TOLERANCE) <= hz <= high * (1 + PITCH_TOLERANCE):
            fail(f"{hz:.1f} Hz at sample {t}: outside {low:.1f}..{high:.1f} Hz")
        if top > 0:
            worst_fall = max(worst_fall, 1 - hz / top)
        if hz < top * (1 - PITCH_TOLERANCE):
            fail(f"the pitch fell from {top:.1f} to {hz:.1f} Hz at sample {t}")
        top = max(top, hz)
        x = hz / 2.5 - 10
        k = int((x - from_x) / (to_x - from_x) * COVERAGE_BINS)
        bins[min(max(k, 0), COVERAGE_BINS - 1)] += 1
    thin = [i for i, n in enumerate(bins) if n < MIN_FRAMES_PER_BIN]
    if thin:
        fail(f"the pitch skipped parts of the stroke: frames per tenth of X {bins}")
    print(
        f"unrestricted X {from_x}..{to_x}: start {begin:.1f} Hz"
        f" ({deviation(begin, low):+.2%} of {low:.1f}), end {finish:.1f} Hz"
        f" ({deviation(finish, high):+.2%} of {high:.1f}); {len(track)} frames"
        f" ({dropped} slips left out),"
        f" largest dip {worst_fall:.2%}, frames per tenth {bins}; {timing}"
    )


def note(semitone, octave):
    """(name, Hz) of a note: name with its strip octave, e.g. "E2"."""
    hz = NOTE_BASE_HZ * 2 ** (semitone / 12) * 2**octave
    return f"{NOTE_NAMES[semitone]}{octave}", hz


MAJOR_NOTES = [note(s, octave) for octave in range(OCTAVES) for s in MAJOR_SEMITONES]


def major_note(x):
    """(name, Hz) of the C-major note of the strip holding area X."""
    strip = x // STRIP_PX
    return note(MAJOR_SEMITONES[strip % len(MAJOR_SEMITONES)], strip // len(MAJOR_SEMITONES))


def nearest_major_note(hz):
    return min(MAJOR_NOTES, key=lambda n: abs(deviation(hz, n[1])))


def check_major(samples, pressed_at, released_at, from_x, to_x):
    first, fade_start, timing = release_timing(
        samples, pressed_at, released_at, major_note(to_x)[1])
    track = pitch_track(samples, first + FADE_IN_SAMPLES, fade_start)
    # Steady frames: the frame and its neighbours agree, so no glide runs through them.
    steady = []
    for i in range(STEADY_NEIGHBOURS, len(track) - STEADY_NEIGHBOURS):
        around = [hz for _, hz in track[i - STEADY_NEIGHBOURS : i + STEADY_NEIGHBOURS + 1]]
        if max(around) / min(around) - 1 <= STEADY_SPREAD:
            steady.append(track[i])
    worst = 0.0
    heard = []  # [name, frames in a row]
    for t, hz in steady:
        name, note_hz = nearest_major_note(hz)
        off = deviation(hz, note_hz)
        if abs(off) > PITCH_TOLERANCE:
            fail(f"{hz:.1f} Hz at sample {t} is {off:+.1%} from {name} ({note_hz:.1f} Hz),"
                 " the nearest C-major note")
        worst = max(worst, abs(off))
        if heard and heard[-1][0] == name:
            heard[-1][1] += 1
        else:
            heard.append([name, 1])
    sung = []
    for name, frames in heard:
        if frames >= MIN_NOTE_FRAMES and (not sung or sung[-1] != name):
            sung.append(name)
    expected = []
    for x in range(from_x, to_x + 1):
        name = major_note(x)[0]
        if not expected or expected[-1] != name:
            expected.append(name)
    if sung != expected:
        fail(f"sang the notes {' '.join(sung)}, the stroke crossed {' '.join(expected)}")
    print(
        f"major X {from_x}..{to_x}: {len(steady)} steady of {len(track)} frames, all within"
        f" {worst:.2%} of a C-major note; notes {' '.join(sung)}; {timing}"
    )


# ---------------------------------------------------------------------------- replay

# The played copy must last as long as the live one, from its first non-zero sample to its
# last, within this (20 ms). The stream's callback renders a whole period at once, so each
# voice change reaches the sound at the start of the next period: each copy's length is off
# by less than one period, and the two copies' lengths differ by a whole number of periods,
# at most one when the program replays the times exactly. The bound holds for periods up to
# 20 ms; the capture's period (826 frames, 18.7 ms here) is checked against it.
REPLAY_LENGTH_TOLERANCE_SAMPLES = SAMPLE_RATE // 50

# "play" restarts the recording's clock: the played copy must begin as long after "play" as
# the live one began after "record". The capture's lengths read when the script clicked place
# the clicks only roughly (the program handles a click some ms after xdotool sent it, and the
# sound reaches the file a period or so after it was rendered).
REPLAY_DELAY_TOLERANCE_SAMPLES = SAMPLE_RATE // 10

# The played copy's pitch track is aligned with the live one at the copies' first samples.
# Each played frame must lie within REPLAY_PITCH_TOLERANCE of the live frames within one period
# (plus one hop) of its time: the same voice change can reach the two copies one period apart,
# and over a period the stroke's pitch rises by up to 2 %. Compared with the live frame at the
# same time alone, at most REPLAY_MOST_OFF_SAME_TIME of the frames may be off by more.
REPLAY_PITCH_TOLERANCE = PITCH_TOLERANCE
REPLAY_MOST_OFF_SAME_TIME = MOST_OUTLIERS
# Both tracks must cover the stroke: at most this share of the played frames may find no
# live frame in their window (live frames left out as tracker slips).
REPLAY_MOST_UNMATCHED = 0.05


def sounding_parts(samples):
    """[(first, end)] of every sound in the capture: first and one past the last non-zero
    sample, sounds apart by at least SILENCE_AFTER_SAMPLES of exact zeros."""
    parts = []
    n = len(samples)
    i = 0
    while i < n:
        while i < n and samples[i] == 0.0:
            i += 1
        if i == n:
            break
        first = last = i
        while i < n and i - last <= SILENCE_AFTER_SAMPLES:
            if samples[i] != 0.0:
                last = i
            i += 1
        if i - last <= SILENCE_AFTER_SAMPLES:
            fail(f"the sound that began at sample {first} never fell silent"
                 f" (capture: {n} samples)")
        parts.append((first, last + 1))
    return parts


def check_pacing(path):
    """The stream's writes as the pacer saw them: every write but the first (the prefill) is
    one period of the callback."""
    writes = []  # (microseconds since the first data, bytes written so far)
    stalls = 0  # times the stream fell so far behind that the pacer moved its clock on
    with open(path) as f:
        for line in f:
            fields = line.split()
            if fields and fields[0] == "stall":
                stalls += 1
            elif len(fields) == 2:
                writes.append((int(fields[0]), int(fields[1])))
    if len(writes) < 20:
        fail(f"the pacer saw only {len(writes)} writes")
    sizes = [(b - a) // 4 for (_, a), (_, b) in zip(writes, writes[1:])]
    period = statistics.mode(sizes)
    share = sizes.count(period) / len(sizes)
    gaps = sorted((b - a) / 1000 for (a, _), (b, _) in zip(writes, writes[1:]))
    p95 = gaps[int(0.95 * (len(gaps) - 1))]
    print(
        f"{period} frames ({period / SAMPLE_RATE * 1000:.1f} ms) per callback in"
        f" {share:.0%} of {len(sizes)} writes; writes every {statistics.median(gaps):.1f} ms"
        f" (median), 95 % within {p95:.1f} ms, longest {gaps[-1]:.1f} ms; {stalls} stalls"
    )


def check_partial_dots(path, area_x, area_y, stroke_y, xs):
    """Ink only from dots of the stroke's first half of points, or none at all."""
    ink = ink_pixels(path, area_x, area_y)
    centres = sorted(x for (x, y) in ink if y == stroke_y - INK_RADIUS)
    half = xs[: len(xs) // 2]
    strays = [x for x in centres if x not in half]
    if strays:
        fail(f"dots at X {strays[:10]} when at most the first half of the stroke"
             f" (X {half[0]}..{half[-1]}) may have been played")
    dots = set()
    for x in centres:
        dots |= disc(x, stroke_y)
    if ink != dots:
        fail(f"{len(ink ^ dots)} pixels are not the played dots, e.g. {sorted(ink ^ dots)[:5]}")
    if centres:
        print(f"{len(centres)} dots, X {centres[0]}..{centres[-1]}: the rest of the area wiped")
    else:
        print("no ink: the area wiped")


def check_replay(samples, period, record_at, pressed_at, play_at):
    if period > REPLAY_LENGTH_TOLERANCE_SAMPLES:
        fail(f"the stream's period ({period} frames) is longer than the length tolerance"
             f" ({REPLAY_LENGTH_TOLERANCE_SAMPLES} samples): the check cannot hold")
    parts = sounding_parts(samples)
    if len(parts) != 2:
        fail(f"expected the stroke twice, heard {len(parts)} sounds: {parts}")
    (live_first, live_end), (played_first, played_end) = parts
    if live_first < pressed_at:
        fail(f"the first sound began at sample {live_first}, before the press ({pressed_at})")
    if played_first < play_at:
        fail(f"the second sound began at sample {played_first}, before \"play\" ({play_at})")

    live_length = live_end - live_first
    played_length = played_end - played_first
    length_diff = played_length - live_length
    if abs(length_diff) > REPLAY_LENGTH_TOLERANCE_SAMPLES:
        fail(f"the played stroke lasted {played_length / SAMPLE_RATE * 1000:.1f} ms,"
             f" the live one {live_length / SAMPLE_RATE * 1000:.1f} ms")

    live_delay = live_first - record_at
    played_delay = played_first - play_at
    if abs(played_delay - live_delay) > REPLAY_DELAY_TOLERANCE_SAMPLES:
        fail(f"the played stroke began {played_delay / SAMPLE_RATE * 1000:.0f} ms after"
             f" \"play\", the live one {live_delay / SAMPLE_RATE * 1000:.0f} ms after"
             " \"record\"")

    # Both tracks stop before the fade-out: a release fades over exactly FADE_OUT_SAMPLES.
    live, live_slips = drop_outliers(
        pitch_track(samples, live_first + FADE_IN_SAMPLES, live_end - FADE_OUT_SAMPLES))
    played, played_slips = drop_outliers(
        pitch_track(samples, played_first + FADE_IN_SAMPLES, played_end - FADE_OUT_SAMPLES))
    live_rel = [(t - live_first, hz) for t, hz in live]
    window = period + AUBIO_HOP
    worst = 0.0
    same_time = []  # deviation from the live frame nearest in time since the start
    unmatched = 0
    j = 0
    for t, hz in played:
        rel = t - played_first
        while j < len(live_rel) and live_rel[j][0] < rel - window:
            j += 1
        around = [(r, h) for r, h in live_rel[j:] if r <= rel + window]
        if not around:
            unmatched += 1
            continue
        lo = min(h for _, h in around)
        hi = max(h for _, h in around)
        off = 0.0 if lo <= hz <= hi else (hz / hi - 1 if hz > hi else hz / lo - 1)
        if abs(off) > REPLAY_PITCH_TOLERANCE:
            fail(f"the played stroke sang {hz:.1f} Hz {rel / SAMPLE_RATE * 1000:.0f} ms after"
                 f" its start; the live one {lo:.1f}..{hi:.1f} Hz within a period of then")
        worst = max(worst, abs(off))
        nearest = min(around, key=lambda f: abs(f[0] - rel))
        same_time.append(abs(hz / nearest[1] - 1))
    if unmatched > REPLAY_MOST_UNMATCHED * len(played):
        fail(f"{unmatched} of {len(played)} played frames have no live frame near their time")
    if len(played) < (1 - REPLAY_MOST_UNMATCHED) * len(live):
        fail(f"the played stroke has {len(played)} pitch frames, the live one {len(live)}")
    off_same_time = sum(1 for d in same_time if d > REPLAY_PITCH_TOLERANCE)
    if off_same_time > REPLAY_MOST_OFF_SAME_TIME * len(same_time):
        fail(f"{off_same_time} of {len(same_time)} played frames are more than"
             f" {REPLAY_PITCH_TOLERANCE:.0%} from the live frame at the same time")
    same_time.sort()
    print(
        f"live {live_length / SAMPLE_RATE * 1000:.1f} ms, played"
        f" {played_length / SAMPLE_RATE * 1000:.1f} ms: {length_diff / SAMPLE_RATE * 1000:+.1f} ms"
        f" ({length_diff} samples = {length_diff / period:+.2f} periods); starts"
        f" {played_first - live_first} samples apart ({(played_first - live_first) % period}"
        f" past a whole number of periods); played {played_delay / SAMPLE_RATE * 1000:.0f} ms"
        f" after \"play\", live {live_delay / SAMPLE_RATE * 1000:.0f} ms after \"record\";"
        f" pitch: {len(played)} played frames ({played_slips} slips left out), {len(live)}"
        f" live ({live_slips}), {unmatched} unmatched, all within {worst:.2%} of the live"
        f" track within a period; at the same time since the start: median"
        f" {statistics.median(same_time):.2%}, 95 % within"
        f" {same_time[int(0.95 * (len(same_time) - 1))]:.2%}, worst {same_time[-1]:.2%},"
        f" {off_same_time} over {REPLAY_PITCH_TOLERANCE:.0%}"
    )


def main(argv):
    if len(argv) < 2:
        fail(__doc__)
    command, args = argv[1], argv[2:]
    if command == "area":
        find_area(args[0])
    elif command == "dots":
        strokes = [
            (int(args[i]), [int(x) for x in args[i + 1].split(",")])
            for i in range(3, len(args), 2)
        ]
        check_dots(args[0], int(args[1]), int(args[2]), strokes)
    elif command in ("unrestricted", "major"):
        samples = read_capture(args[0])
        check = check_unrestricted if command == "unrestricted" else check_major
        check(samples, int(args[1]), int(args[2]), int(args[3]), int(args[4]))
    elif command == "pacing":
        check_pacing(args[0])
    elif command == "partial_dots":
        check_partial_dots(args[0], int(args[1]), int(args[2]), int(args[3]),
                           [int(x) for x in args[4].split(",")])
    elif command == "ink":
        print(len(ink_pixels(args[0], 0, 0)))
    elif command == "replay":
        samples = read_capture(args[0])
        check_replay(samples, int(args[1]), int(args[2]), int(args[3]), int(args[4]))
    else:
        fail(f"unknown command {command}")


if __name__ == "__main__":
    main(sys.argv)
