#!/usr/bin/env bash
# The window on a real X display with a window manager: its size hints give a least size and
# no fixed one, it maximizes with the drawing area grown into the room, a drag there from the
# middle to past the far corner records (120, 100) to (240, 200), and it comes back to its first
# size with the 240 x 200 area.
# Usage (under xvfb-run): window_e2e.sh PATH/TO/doodlechorus
source "$(dirname "$0")/common.sh"

PROGRAM=$1
kWidth=380
kHeight=240
kAreaPixels=$((240 * 200))

# The window's client size as "WIDTH HEIGHT".
window_size() {
    xdotool getwindowgeometry "$E2E_WID" | sed -n 's/^ *Geometry: \([0-9]*\)x\([0-9]*\)$/\1 \2/p'
}

# Waits until CONDITION (arithmetic on width and height) holds for the window's size.
wait_for_size() { # CONDITION WHAT
    local tries width height
    for ((tries = 0; tries < 100; tries++)); do
        read -r width height <<<"$(window_size)"
        if (($1)); then
            return 0
        fi
        sleep 0.1
    done
    fail "$2: the window is ${width}x$height"
}

# White pixels in a screenshot of the window.
white_pixels() {
    window_shot "$E2E_WORK/white.ppm"
    python3 - "$E2E_WORK/white.ppm" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
# Binary PPM: P6, width, height, maxval, then RGB triples.
fields = data.split(maxsplit=4)
pixels = fields[4]
print(sum(1 for i in range(0, len(pixels) - 2, 3) if pixels[i:i + 3] == b'\xff\xff\xff'))
PY
}

e2e_start_program "$PROGRAM"
find_drawing_area
read -r width height <<<"$(window_size)"
[ "$width" -eq "$kWidth" ] && [ "$height" -eq "$kHeight" ] ||
    fail "the window starts at ${width}x$height, not ${kWidth}x$kHeight"

hints=$(xprop -id "$E2E_WID" WM_NORMAL_HINTS)
grep -q "program specified minimum size: $kWidth by $kHeight" <<<"$hints" ||
    fail "no least size of ${kWidth}x$kHeight in the size hints: $hints"
if grep -q "program specified maximum size: $kWidth by $kHeight" <<<"$hints"; then
    fail "the size hints still fix the size: $hints"
fi

wmctrl -i -r "$E2E_WID" -b add,maximized_vert,maximized_horz || fail "wmctrl maximize"
wait_for_size 'width > 2 * kWidth && height > 2 * kHeight' "maximized"
sleep 0.5
white=$(white_pixels)
[ "$white" -gt $((4 * kAreaPixels)) ] ||
    fail "maximized, the area did not grow: $white white pixels"

# The grown area: the rows and columns of the window's longest white runs.
read -r GROWN_X GROWN_Y GROWN_W GROWN_H <<<"$(python3 - "$E2E_WORK/white.ppm" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
magic, width, height, maxval, pixels = data.split(maxsplit=4)
width, height = int(width), int(height)
white = b'\xff\xff\xff'
rows = []
for y in range(height):
    row = pixels[3 * width * y:3 * width * (y + 1)]
    best = (0, 0)
    run_start = None
    for x in range(width + 1):
        if x < width and row[3 * x:3 * x + 3] == white:
            run_start = x if run_start is None else run_start
        elif run_start is not None:
            best = max(best, (x - run_start, run_start))
            run_start = None
    if best[0] > width // 2:
        rows.append((y, best[1], best[0]))
ys = [r[0] for r in rows]
print(rows[0][1], ys[0], rows[0][2], ys[-1] - ys[0] + 1)
PY
)" || fail "no grown area in the screenshot"
read -r width height <<<"$(window_size)"
# The controls keep their distance from the window's right edge: record is at client (310, 38)
# at the first size, its corner 300 and 28 pixels right of and below the area's.
record_x=$((AREA_X + 300 + width - kWidth))
record_y=$((AREA_Y + 28))
click() { # X Y
    xdotool mousemove --window "$E2E_WID" "$1" "$2" sleep 0.2 click 1 sleep 0.2 ||
        fail "xdotool click"
}
click "$record_x" "$record_y"
moves=()
for ((step = 1; step <= 10; step++)); do
    moves+=(mousemove --window "$E2E_WID" $((GROWN_X + GROWN_W / 2 + step * (GROWN_W / 2 + 20) / 10))
        $((GROWN_Y + GROWN_H / 2 + step * (GROWN_H / 2 + 20) / 10)) sleep 0.05)
done
xdotool mousemove --window "$E2E_WID" $((GROWN_X + GROWN_W / 2)) $((GROWN_Y + GROWN_H / 2)) \
    sleep 0.1 mousedown 1 sleep 0.1 "${moves[@]}" sleep 0.1 mouseup 1 || fail "xdotool drag"
click "$record_x" "$record_y"
xdotool windowfocus --sync "$E2E_WID" sleep 0.2 key ctrl+s || fail "xdotool key"
DIALOG=$(wait_window '^Please choose file to save$') || fail "Ctrl+S opened no Save dialog"
answer_dialog "$E2E_WORK/grown"
[ -s "$E2E_WORK/grown.sav" ] || fail "the drag in the grown area was not saved"
read -r first_x first_y <<<"$(head -n 1 "$E2E_WORK/grown.sav" | awk -F';' '{print $1, $2}')"
# One screen pixel of the grown area is less than a unit of the program's 240 x 200.
((first_x >= 119 && first_x <= 121 && first_y >= 99 && first_y <= 101)) ||
    fail "the press in the middle of ${GROWN_W}x$GROWN_H recorded $first_x;$first_y"
grep -q '^240;200;' "$E2E_WORK/grown.sav" ||
    fail "the drag past the far corner never reached 240;200: $(tail -n 3 "$E2E_WORK/grown.sav")"
# Clear, above record, so that the restored area is white again.
click "$record_x" $((AREA_Y + 5))

wmctrl -i -r "$E2E_WID" -b remove,maximized_vert,maximized_horz || fail "wmctrl restore"
wait_for_size 'width == kWidth && height == kHeight' "restored"
sleep 0.5
find_drawing_area # the 240 x 200 area again

e2e_close_program
[ ! -s "$E2E_STDERR" ] || fail "the program printed on stderr: $(head -c 500 "$E2E_STDERR")"
echo "ok: least size ${kWidth}x$kHeight, maximized with a ${GROWN_W}x$GROWN_H area," \
    "a drag from its middle past its far corner recorded $first_x;$first_y to 240;200, restored"
