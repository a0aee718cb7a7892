#!/usr/bin/env bash
# The window on a real X display with a window manager: its size hints give a least size and
# no fixed one, it maximizes with the drawing area grown into the room, and it comes back to its
# first size with the 240 x 200 area.
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

wmctrl -i -r "$E2E_WID" -b remove,maximized_vert,maximized_horz || fail "wmctrl restore"
wait_for_size 'width == kWidth && height == kHeight' "restored"
sleep 0.5
find_drawing_area # the 240 x 200 area again

e2e_close_program
[ ! -s "$E2E_STDERR" ] || fail "the program printed on stderr: $(head -c 500 "$E2E_STDERR")"
echo "ok: least size ${kWidth}x$kHeight, maximized with $white white pixels, restored"
