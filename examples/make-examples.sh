#!/usr/bin/env bash
# Records the example songs in this folder by playing the real program as a person would: on
# a virtual X display, with real pointer and key input (xdotool), it picks the scale option,
# presses "record", draws, presses "record" again, and saves through File > Save, typing the
# path into the file dialog. Each saved recording is checked (format, and that the drawing came
# through whole: a stroke that lost points is recorded again), then opened again through
# File > Open in a fresh start of the program, and only then copied here.
#
#   scale-run.sav    Major on C: one slow stroke from left to right that rests on every note
#                    strip, C2 up two octaves to C4, on the vowel "ah".
#   vowel-sweep.sav  Unrestricted at a fixed X (220 Hz): one slow stroke from the top of the
#                    area to the bottom through the five vowels, resting on each.
#   tune.sav         Major on C: "Twinkle, Twinkle, Little Star", one short stroke per note,
#                    each at the height of the vowel of its syllable.
#
# Usage: examples/make-examples.sh [PATH/TO/doodlechorus] [OUTPUT_FOLDER]
#   Defaults: build/app/doodlechorus and this folder. Runs on its own virtual display
#   (xvfb-run), never on yours. Needs the end-to-end test tools: xvfb, xauth, openbox,
#   wmctrl, xdotool, pv, imagemagick, python3. Takes about a minute.
# Set E2E_KEEP=1 to keep the work folder (screenshots of every recording, the saved files).
# client and area below print xdotool arguments, split into words on purpose:
# shellcheck disable=SC2046,SC2207
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
PROGRAM=$(realpath "${1:-$ROOT/build/app/doodlechorus}")
OUT=$(realpath "${2:-$HERE}")
[ -x "$PROGRAM" ] || { echo "no program at $PROGRAM: build it first" >&2; exit 1; }

if [ -z "${DC_EXAMPLES_ON_XVFB:-}" ]; then
    export DC_EXAMPLES_ON_XVFB=1
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$PROGRAM" "$OUT"
fi

# A private runtime folder, the audio captured into a file (no sound card needed), openbox,
# and the helpers that start and close the program.
source "$ROOT/tests/e2e/common.sh"

# Client pixels of the controls (below the menu bar): a point well inside each.
kRecordToggle=(310 38)
kUnrestrictedOption=(275 135)
kMajorOption=(275 155)
kAreaClientX=10 # the drawing area's corner in the client
kAreaClientY=10
kAttempts=3 # recordings of one example before giving up
kLongestMs=10000

AREA_X="" # the drawing area's top-left corner in window pixels
AREA_Y=""

log() { echo "make-examples: $*"; }

# The drawing area (the white 240 x 200 rectangle) in a screenshot of the main window; the
# menu bar's height above it depends on this desktop's fonts.
find_drawing_area() {
    import -window "$E2E_WID" "$E2E_WORK/start.png" || fail "no screenshot"
    local corner
    corner=$(convert "$E2E_WORK/start.png" ppm:- | python3 -c '
import sys
data = sys.stdin.buffer.read()
fields, pos = [], 0
while len(fields) < 4:  # P6 width height maxval, separated by white space
    while data[pos:pos + 1].isspace():
        pos += 1
    end = pos
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[pos:end])
    pos = end
pos += 1
width, height = int(fields[1]), int(fields[2])
pixels = data[pos:]
def white(x, y):
    if not (0 <= x < width and 0 <= y < height):
        return False
    i = 3 * (y * width + x)
    return pixels[i:i + 3] == b"\xff\xff\xff"
for y in range(height):
    for x in range(width):
        if (white(x, y) and not white(x - 1, y) and not white(x, y - 1)
                and all(white(x + dx, y) for dx in range(240))
                and all(white(x, y + dy) for dy in range(200))):
            print(x, y)
            sys.exit(0)
sys.exit("no white 240 x 200 drawing area in the window")
') || fail "$corner"
    read -r AREA_X AREA_Y <<<"$corner"
}

start_program() {
    e2e_start_program "$PROGRAM"
    find_drawing_area
}

# xdotool arguments: the pointer to client point X Y, or to drawing-area point X Y.
client() { echo mousemove --window "$E2E_WID" $((AREA_X - kAreaClientX + $1)) $((AREA_Y - kAreaClientY + $2)); }
area() { echo mousemove --window "$E2E_WID" $((AREA_X + $1)) $((AREA_Y + $2)); }

click_client() { # X Y
    xdotool $(client "$1" "$2") sleep 0.1 click 1 sleep 0.3 || fail "xdotool click"
}

# Records one example: picks the scale option, presses "record", draws the strokes that
# STROKES puts into MOVES as xdotool arguments, presses "record" again.
record() { # OPTION_X OPTION_Y STROKES
    click_client "$1" "$2"
    MOVES=()
    "$3"
    click_client "${kRecordToggle[@]}"
    xdotool "${MOVES[@]}" || fail "xdotool drawing"
    sleep 0.3
    click_client "${kRecordToggle[@]}"
}

# Checks a saved recording: the line format, and what the example must hold. Prints a summary.
check_recording() { # FILE KIND
    python3 - "$1" "$2" "$kLongestMs" <<'PY'
import sys
path, kind, longest_ms = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(path, "rb").read()
if not data.endswith(b"\r\n"):
    sys.exit(f"{path}: does not end in CR LF")
lines = [l.decode("ascii") for l in data[:-2].split(b"\r\n")]
points, last_ms = [], 0
for n, line in enumerate(lines, 1):
    fields = line.split(";")
    if len(fields) != 4 or not all(f.isdigit() and str(int(f)) == f for f in fields):
        sys.exit(f"line {n} is not x;y;released;ms: {line!r}")
    x, y, released, ms = map(int, fields)
    if not (0 <= x <= 240 and 0 <= y <= 200 and released in (0, 1)):
        sys.exit(f"line {n} out of range: {line!r}")
    if ms < last_ms:
        sys.exit(f"line {n}: time goes back")
    last_ms = ms
    points.append((x, y, released, ms))
if last_ms > longest_ms:
    sys.exit(f"{last_ms} ms long, more than {longest_ms}")
if points[-1][2] != 1:
    sys.exit("the last line is not a release")
strokes, current = [], []
for p in points:
    if p[2] == 1:
        if not current:
            sys.exit("a release without a press")
        strokes.append(current)
        current = []
    else:
        current.append(p)
strip = lambda x: x // 10  # Major: 7 strips of 10 px an octave
if kind == "scale-run":
    xs = [p[0] for p in strokes[0]] if len(strokes) == 1 else []
    if len(strokes) != 1 or xs != sorted(xs):
        sys.exit("not one stroke from left to right")
    if sorted({strip(x) for x in xs}) != list(range(7, 22)):
        sys.exit(f"strips {sorted({strip(x) for x in xs})}, not every strip of 7..21")
elif kind == "vowel-sweep":
    ys = [p[1] for p in strokes[0]] if len(strokes) == 1 else []
    if len(strokes) != 1 or ys != sorted(ys) or ys[0] != 0 or ys[-1] != 200:
        sys.exit("not one stroke from top to bottom")
    if {p[0] for p in strokes[0]} != {78} or len(ys) < 90:
        sys.exit("not a dense stroke at X 78")
elif kind == "tune":
    got = []
    for s in strokes:
        notes = {strip(p[0]) for p in s}
        if len(notes) != 1:
            sys.exit("a stroke that sings more than one note")
        got.append(notes.pop())
    melody = "14 14 18 18 19 19 18 17 17 16 16 15 15 14".split()
    if got != [int(m) for m in melody]:
        sys.exit(f"strips {got}, not the tune's")
print(f"{len(points)} lines, {len(strokes)} strokes, {last_ms} ms")
PY
}

# Records, saves and checks one example; KIND.sav lands in $E2E_WORK/saved.
make_example() { # KIND OPTION_X OPTION_Y STROKES
    local kind=$1 attempt summary
    shift
    mkdir -p "$E2E_WORK/saved"
    for ((attempt = 1; attempt <= kAttempts; attempt++)); do
        start_program
        record "$@"
        import -window "$E2E_WID" "$E2E_WORK/$kind-$attempt.png" || true
        rm -f "$E2E_WORK/saved/$kind.sav"
        save_as "$E2E_WORK/saved/$kind"
        e2e_close_program
        [ -f "$E2E_WORK/saved/$kind.sav" ] || fail "$kind: File > Save wrote no $kind.sav"
        if summary=$(check_recording "$E2E_WORK/saved/$kind.sav" "$kind" 2>&1); then
            log "$kind: $summary"
            return 0
        fi
        log "$kind, recording $attempt: ${summary#FAIL: }"
    done
    fail "$kind: no good recording in $kAttempts attempts"
}

# Opens FILE through File > Open in a fresh program and checks that its ink shows.
check_opens() { # FILE
    start_program
    file_menu 1 "Please choose file to open"
    answer_dialog "$1"
    sleep 0.3
    import -window "$E2E_WID" "$E2E_WORK/opened.png" || fail "no screenshot"
    local blue
    blue=$(convert "$E2E_WORK/opened.png" -crop "240x200+$AREA_X+$AREA_Y" +repage \
        -fill black +opaque blue -fill white -opaque blue -format '%[fx:round(mean*w*h)]' info:)
    e2e_close_program
    [ "$blue" -gt 100 ] || fail "$(basename "$1") opened with $blue blue pixels of ink"
    log "$(basename "$1") opens: $blue pixels of ink"
}

# --- The strokes: each function puts them into MOVES as xdotool arguments ---

# Scale run: Major on C, Y 196 (near the bottom: "ah"). Rests 0.3 s in the middle of each
# 10 px strip from C2 (X 70..79) to C4 (X 210..219), stepping 2 px every 30 ms in between.
scale_run() {
    local centre x
    MOVES=($(area 75 196) sleep 0.05 mousedown 1 sleep 0.35)
    for ((centre = 85; centre <= 215; centre += 10)); do
        for ((x = centre - 8; x <= centre; x += 2)); do
            MOVES+=($(area "$x" 196) sleep 0.03)
        done
        MOVES+=(sleep 0.3)
    done
    MOVES+=(sleep 0.05 mouseup 1)
}

# Vowel sweep: Unrestricted at X 78, (78 + 10) * 2.5 = 220 Hz, from Y 0 to 200 in 2 px steps
# every 50 ms, resting 0.3 s on each of the five vowels (Y 0, 50, 100, 150, 200).
vowel_sweep() {
    local y
    MOVES=($(area 78 0) sleep 0.05 mousedown 1 sleep 0.3)
    for ((y = 2; y <= 200; y += 2)); do
        MOVES+=($(area 78 "$y") sleep 0.05)
        if ((y % 50 == 0)); then MOVES+=(sleep 0.25); fi
    done
    MOVES+=(mouseup 1)
}

# Tune: Major on C, strips of the octave from X 140 (C3, 207.6 Hz): C 145, D 155, E 165,
# F 175, G 185, A 195. One stroke per note: a press, a 2 px dash down, the release. The Y of
# each note is the vowel of its syllable (Y 10 "i", 60 "e", 100 "o", 150 "u", 196 "ah").
# Crotchet 0.42 s, of which 0.08 s silence before the next note.
note() { # X Y BEATS
    local held
    held=$(awk -v b="$3" 'BEGIN { printf "%.2f", b * 0.42 - 0.08 - 0.12 }')
    MOVES+=($(area "$1" "$2") sleep 0.02 mousedown 1 sleep 0.12 $(area "$1" $(($2 + 2)))
        sleep "$held" mouseup 1 sleep 0.06)
}
tune() {
    #    Twin-         kle           twin-         kle           lit-          tle
    note 145 10 1; note 145 60 1; note 185 10 1; note 185 60 1; note 195 10 1; note 195 60 1
    #    star,
    note 185 196 2
    #    how           I              won-          der           what           you
    note 175 196 1; note 175 196 1; note 165 100 1; note 165 60 1; note 155 100 1; note 155 150 1
    #    are!
    note 145 196 2
}

# --- Recording ---

e2e_wait_for_window_manager
log "program: $PROGRAM"
make_example scale-run "${kMajorOption[@]}" scale_run
make_example vowel-sweep "${kUnrestrictedOption[@]}" vowel_sweep
make_example tune "${kMajorOption[@]}" tune

for kind in scale-run vowel-sweep tune; do
    check_opens "$E2E_WORK/saved/$kind.sav"
done
mkdir -p "$OUT"
for kind in scale-run vowel-sweep tune; do
    cp "$E2E_WORK/saved/$kind.sav" "$OUT/$kind.sav"
done
log "written to $OUT: scale-run.sav vowel-sweep.sav tune.sav"
