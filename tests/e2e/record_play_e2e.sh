#!/usr/bin/env bash
# Recording and playback with the real program on a real X display, with the real audio
# path: "record", a slow rising stroke in "Unrestricted", "record" again, then "play". The
# capture must hold the stroke twice, and the played copy must sing the live one's pitch
# contour and last as long. Playback must start on a wiped area, bring the stroke's dots back
# and pop the play toggle up by itself at its end. The program must close with exit code 0
# and print nothing. The capture is taken by capture_pacer, every millisecond, so that the
# stream's callback runs at an even pace and the copies' timing compares to within a period.
# Usage (under xvfb-run): record_play_e2e.sh PATH/TO/doodlechorus PATH/TO/capture_pacer
source "$(dirname "$0")/common.sh"

PROGRAM=$1
PACER=$2

# The stroke, in drawing-area pixels: Unrestricted sings (X + 10) * 2.5 Hz, 225..575 Hz, a
# rise of 200 Hz a second at 2 px every 25 ms (70 moves, about 1.8 s, plus a rest at each
# end: about 2.5 s of sound, more when xdotool runs slowly). Neighbouring dots (5 px wide)
# overlap.
kStrokeY=60
kFromX=80
kToX=220
kStepPx=2
kStepSeconds=0.025 # xcb merges moves that come closer together
kHoldSeconds=0.3   # still at each end: steady pitch around the press and the release
# From "record" to the press: the recording's first line is this late, and so must the
# played stroke be after "play".
kBeforeStrokeSeconds=0.6
kAfterStrokeSeconds=0.4 # from the release to "record" again
# The toggles in client pixels below the menu bar (60 x 20 boxes at (280, 28) and (280, 50));
# the drawing area sits at (10, 10) there. Clicked at their centres.
kRecordClientX=310
kRecordClientY=38
kPlayClientX=310
kPlayClientY=60
kAreaClientX=10
kAreaClientY=10
kToggleWidth=60
kToggleHeight=20
# Playback lasts the stroke's length after its first line's delay; it must end well within
# this after "play".
kPlaybackTimeoutSeconds=15

# Window pixels of a point given in client pixels below the menu bar.
client_x() { echo $((AREA_X - kAreaClientX + $1)); }
client_y() { echo $((AREA_Y - kAreaClientY + $1)); }

click_client() { # X Y
    xdotool mousemove --window "$E2E_WID" "$(client_x "$1")" "$(client_y "$2")" \
        sleep 0.05 click 1 || fail "xdotool click"
}

# The play toggle's pixels, from a screenshot of the window.
play_toggle_look() { # PPM_PATH
    grab_window "$E2E_WORK/toggle.png"
    convert "$E2E_WORK/toggle.png" -crop "${kToggleWidth}x${kToggleHeight}+$(
        client_x $((kPlayClientX - kToggleWidth / 2)))+$(
        client_y $((kPlayClientY - kToggleHeight / 2)))" +repage "$1" ||
        fail "cannot cut the play toggle out of the screenshot"
}

check() { # what the analyser checks, with its arguments
    local result
    result=$("${ANALYSE[@]}" "$@") || fail "${result#FAIL: }"
    echo "ok: $result"
}

e2e_use_capture_pacer "$PACER" "$E2E_WORK/pacer.log"
e2e_start_program "$PROGRAM"
find_drawing_area
echo "drawing area at ($AREA_X, $AREA_Y) of the window"

# Record the stroke.
click_client $kRecordClientX $kRecordClientY
record_at=$(e2e_captured_samples)
xdotool $(at "$kFromX" "$kStrokeY") || fail "xdotool move"
sleep "$kBeforeStrokeSeconds"
drag "$kFromX" "$kToX" "$kStrokeY" "$kStepSeconds" "$E2E_WORK/stroke.xs"
stroke_xs=$(cat "$E2E_WORK/stroke.xs")
sleep "$kAfterStrokeSeconds"
click_client $kRecordClientX $kRecordClientY
sleep 0.3

# Play it back. The toggle's look while it is up comes first; the pointer then rests on it
# until the end, so hovering changes nothing between the looks compared.
xdotool mousemove --window "$E2E_WID" "$(client_x $kPlayClientX)" "$(client_y $kPlayClientY)" ||
    fail "xdotool move"
sleep 0.3
play_toggle_look "$E2E_WORK/play_up.ppm"
click_client $kPlayClientX $kPlayClientY
play_at=$(e2e_captured_samples)
play_clicked=$SECONDS
# The toggle's look while playing: changed from "play", and the same in two screenshots in a
# row (a slow program may still be between the press and the release of the click).
cp "$E2E_WORK/play_up.ppm" "$E2E_WORK/playing.ppm"
while play_toggle_look "$E2E_WORK/now.ppm"
    cmp -s "$E2E_WORK/play_up.ppm" "$E2E_WORK/now.ppm" ||
        ! cmp -s "$E2E_WORK/playing.ppm" "$E2E_WORK/now.ppm"; do
    [ $((SECONDS - play_clicked)) -lt 3 ] || fail "the play toggle did not go down"
    cp "$E2E_WORK/now.ppm" "$E2E_WORK/playing.ppm"
    sleep 0.1
done
# Early in playback: the first line is due kBeforeStrokeSeconds after "play".
window_shot "$E2E_WORK/early.ppm"
check partial_dots "$E2E_WORK/early.ppm" "$AREA_X" "$AREA_Y" $kStrokeY "$stroke_xs"

# The toggle pops up by itself after the last line.
while play_toggle_look "$E2E_WORK/now.ppm"; cmp -s "$E2E_WORK/playing.ppm" "$E2E_WORK/now.ppm"; do
    [ $((SECONDS - play_clicked)) -lt $kPlaybackTimeoutSeconds ] ||
        fail "the play toggle was still down ${kPlaybackTimeoutSeconds} s after \"play\""
    sleep 0.2
done
cmp -s "$E2E_WORK/play_up.ppm" "$E2E_WORK/now.ppm" ||
    fail "the play toggle changed at the end of playback but does not look as before \"play\""
echo "ok: the play toggle popped up $((SECONDS - play_clicked)) s after \"play\""
sleep 0.2 # time to paint the last dots
window_shot "$E2E_WORK/end.ppm"
check dots "$E2E_WORK/end.ppm" "$AREA_X" "$AREA_Y" $kStrokeY "$stroke_xs"

echo "capture length at \"record\" $record_at, press $PRESSED_AT, release $RELEASED_AT," \
    "\"play\" $play_at samples"

# The stream closes with the program, which waits for the capture to take what it played.
e2e_close_program discard

period=$("${ANALYSE[@]}" pacing "$E2E_WORK/pacer.log") || fail "${period#FAIL: }"
echo "ok: stream: $period"
check unrestricted "$E2E_CAPTURE" "$PRESSED_AT" "$RELEASED_AT" $kFromX $kToX
check replay "$E2E_CAPTURE" "${period%% *}" "$record_at" "$PRESSED_AT" "$play_at"

[ ! -s "$E2E_STDOUT" ] || fail "the program printed: $(head -c 500 "$E2E_STDOUT")"
[ ! -s "$E2E_STDERR" ] || fail "the program printed on stderr: $(head -c 500 "$E2E_STDERR")"
echo "ok: exit 0, nothing printed"
