#!/usr/bin/env bash
# Drawing with the real program on a real X display, with the real audio path: a slow
# stroke in "Unrestricted", then one in "Major" on root C. The window must show the strokes'
# blue dots and nothing else; each stroke must sing the pitches of the X it crossed, and fall
# silent within 100 ms of the button's release. The program must close with exit code 0 and
# print nothing.
# Usage (under xvfb-run): drawing_e2e.sh PATH/TO/doodlechorus
source "$(dirname "$0")/common.sh"

PROGRAM=$1

# Strokes, in drawing-area pixels. Unrestricted sings (X + 10) * 2.5 Hz: 125..525 Hz keeps
# the pitch tracker well above its 86 Hz floor. Major crosses 17 strips of 10 px, from C1
# (103.8 Hz) to E3 (523.3 Hz).
kUnrestrictedY=60
kUnrestrictedFromX=40
kUnrestrictedToX=200
kMajorY=140
kMajorFromX=70
kMajorToX=236
kStepPx=2 # the dots (5 px wide) of neighbouring points overlap
# Between moves: xcb merges moves that come closer together. The capture takes the audio in
# 0.1 s bursts, so the callback sees the pointer's moves in bunches of 0.1 s; the Major
# stroke is slower so that each 10 px strip holds the pointer over several bursts.
kUnrestrictedStepSeconds=0.025
kMajorStepSeconds=0.04
kHoldSeconds=0.3  # still at each end of a stroke: steady pitch around press and release
kPauseSeconds=0.5 # between the strokes: the analyser tells them apart by the silence
# The Major option in client pixels (its box is 45 x 20 at (265, 145)); the drawing area
# sits at (10, 10) of the client.
kMajorOptionX=275
kMajorOptionY=155
kAreaClientX=10
kAreaClientY=10

click_major_option() {
    xdotool mousemove --window "$E2E_WID" \
        $((AREA_X - kAreaClientX + kMajorOptionX)) $((AREA_Y - kAreaClientY + kMajorOptionY)) \
        sleep 0.05 click 1 sleep 0.2 || fail "xdotool click"
}

check() { # what the analyser checks, with its arguments
    local result
    result=$("${ANALYSE[@]}" "$@") || fail "${result#FAIL: }"
    echo "ok: $result"
}

e2e_start_program "$PROGRAM"
find_drawing_area
echo "drawing area at ($AREA_X, $AREA_Y) of the window"

drag $kUnrestrictedFromX $kUnrestrictedToX $kUnrestrictedY $kUnrestrictedStepSeconds \
    "$E2E_WORK/unrestricted.xs"
unrestricted_press=$PRESSED_AT unrestricted_release=$RELEASED_AT
sleep "$kPauseSeconds"
click_major_option
drag $kMajorFromX $kMajorToX $kMajorY $kMajorStepSeconds "$E2E_WORK/major.xs"
major_press=$PRESSED_AT major_release=$RELEASED_AT
sleep 0.2 # time to paint the last dots

window_shot "$E2E_WORK/end.ppm"
check dots "$E2E_WORK/end.ppm" "$AREA_X" "$AREA_Y" \
    $kUnrestrictedY "$(cat "$E2E_WORK/unrestricted.xs")" \
    $kMajorY "$(cat "$E2E_WORK/major.xs")"

# The stream closes with the program, which waits for the capture to take what it played.
e2e_close_program

check unrestricted "$E2E_CAPTURE" "$unrestricted_press" "$unrestricted_release" \
    $kUnrestrictedFromX $kUnrestrictedToX
check major "$E2E_CAPTURE" "$major_press" "$major_release" $kMajorFromX $kMajorToX

[ ! -s "$E2E_STDOUT" ] || fail "the program printed: $(head -c 500 "$E2E_STDOUT")"
[ ! -s "$E2E_STDERR" ] || fail "the program printed on stderr: $(head -c 500 "$E2E_STDERR")"
echo "ok: exit 0, nothing printed"
