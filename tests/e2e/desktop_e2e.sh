#!/usr/bin/env bash
# End-to-end: the real program as a desktop user meets it, with real X input under Xvfb. A file
# named on the command line opens with its ink; Ctrl+O opens the Open dialog; a file that is no
# recording is refused with a message and the drawing stays; clear is undone by Ctrl+Z; record
# and close ask "Save changes?" while lines are unsaved, and Escape keeps them; Save asks before
# it replaces an existing file, which keeps its bytes until the answer is yes.
# Usage: desktop_e2e.sh PROGRAM EXAMPLES_DIR (under xvfb-run)
source "$(dirname "$0")/common.sh"
PROGRAM=$1
EXAMPLES=$2

# How many windows of the program are titled TITLE.
count_windows() { # TITLE
    xdotool search --all --pid "$E2E_PID" --name "$1" 2>/dev/null | wc -l
}

ink_count() {
    window_shot "$E2E_WORK/ink.ppm"
    "${ANALYSE[@]}" ink "$E2E_WORK/ink.ppm"
}

keys() { # KEY...
    xdotool windowfocus --sync "$E2E_WID" sleep 0.2 key "$@" || fail "xdotool key $*"
}

# The dialogs start in the documents folder of a home of this run's own.
export HOME=$E2E_WORK/home
mkdir -p "$HOME/Documents"

# Where the drawing area lies below the menu bar, found while it is empty.
e2e_start_program "$PROGRAM"
find_drawing_area
e2e_close_program
# The controls' centres, in window pixels: clear and record (client (280, 5) and (280, 28),
# 60 x 20; the area's corner is at client (10, 10)).
CLEAR=($((AREA_X + 300)) $((AREA_Y + 5)))
RECORD=($((AREA_X + 300)) $((AREA_Y + 28)))
click_at() { # X Y
    xdotool mousemove --window "$E2E_WID" "$1" "$2" sleep 0.1 click 1 sleep 0.1 mousemove 0 0 ||
        fail "xdotool click"
}

# 1. The command line's file opens, and the title names it. The pointer stays off the window:
# over the area it would raise the area's tooltip, which hides what a screenshot reads.
xdotool mousemove 0 0 || fail "xdotool mousemove"
e2e_start_program "$PROGRAM" "$EXAMPLES/tune.sav"
[ "$(xdotool getwindowname "$E2E_WID")" = "tune.sav — DoodleChorus" ] ||
    fail "title: $(xdotool getwindowname "$E2E_WID")"
sleep 0.5
opened_ink=$(ink_count)
[ "$opened_ink" -gt 100 ] || fail "the opened file shows $opened_ink ink pixels"

# 2. Ctrl+O opens the Open dialog, in the folder of the file opened last; a text file that
# holds no recording line is refused with a message, and the drawing stays.
printf '# notes\nDoodleChorus sings what you draw.\n' >"$E2E_WORK/notes.txt"
keys ctrl+o
DIALOG=$(wait_window '^Please choose file to open$') || fail "Ctrl+O opened no Open dialog"
answer_dialog "$E2E_WORK/notes.txt"
informer=$(wait_window '^Informer$') || fail "the refused file gave no message"
xdotool windowfocus --sync "$informer" sleep 0.2 key Return || fail "xdotool key"
sleep 0.5
[ "$(ink_count)" -eq "$opened_ink" ] || fail "the refused file changed the drawing"

# 3. Clear, then Ctrl+Z: the ink is back.
click_at "${CLEAR[@]}"
sleep 0.5
[ "$(ink_count)" -eq 0 ] || fail "clear left ink"
keys ctrl+z
sleep 0.5
[ "$(ink_count)" -eq "$opened_ink" ] || fail "Ctrl+Z did not bring the ink back"

# 4. A recorded stroke is unsaved: record and close ask, and Escape (Cancel) keeps it.
click_at "${CLEAR[@]}"
record_toggle() {
    click_at "${RECORD[@]}"
}
record_toggle
sleep 0.3
xdotool $(at 40 100) sleep 0.05 mousedown 1 sleep 0.05 $(at 80 100) sleep 0.05 \
    $(at 120 100) sleep 0.05 mouseup 1 || fail "xdotool stroke"
record_toggle
sleep 0.3
[ "$(xdotool getwindowname "$E2E_WID")" = "*DoodleChorus" ] ||
    fail "title while unsaved: $(xdotool getwindowname "$E2E_WID")"
record_toggle
question=$(wait_window '^Save changes\?$') || fail "record did not ask about the unsaved lines"
xdotool windowfocus --sync "$question" sleep 0.2 key Escape || fail "xdotool key"
sleep 0.5
stroke_ink=$(ink_count)
[ "$stroke_ink" -gt 0 ] || fail "Cancel lost the stroke's ink"
wmctrl -i -c "$E2E_WID" || fail "could not ask the window to close"
question=$(wait_window '^Save changes\?$') || fail "close did not ask about the unsaved lines"
xdotool windowfocus --sync "$question" sleep 0.2 key Escape || fail "xdotool key"
sleep 0.5
kill -0 "$E2E_PID" || fail "Cancel did not keep the program running"

# 5. Save over an existing file asks first; until yes, the file keeps its bytes.
printf '1;2;0;0\r\n' >"$E2E_WORK/old.sav"
keys ctrl+s
DIALOG=$(wait_window '^Please choose file to save$') || fail "Ctrl+S opened no Save dialog"
xdotool windowfocus --sync "$DIALOG" sleep 0.2 key ctrl+a type --delay 15 "$E2E_WORK/old" ||
    fail "xdotool type"
xdotool key Return
for ((tries = 0; tries < 100; tries++)); do
    [ "$(count_windows '^Please choose file to save$')" -ge 2 ] && break
    sleep 0.1
done
[ "$(count_windows '^Please choose file to save$')" -ge 2 ] ||
    fail "no question before replacing old.sav"
[ "$(cat "$E2E_WORK/old.sav")" = "$(printf '1;2;0;0\r\n')" ] || fail "old.sav changed before yes"
xdotool key y || fail "xdotool key y"
for ((tries = 0; tries < 100; tries++)); do
    [ "$(count_windows '^Please choose file to save$')" -eq 0 ] && break
    sleep 0.1
done
grep -q '^120;100;1;' "$E2E_WORK/old.sav" || fail "old.sav does not hold the stroke"
[ "$(xdotool getwindowname "$E2E_WID")" = "old.sav — DoodleChorus" ] ||
    fail "title after save: $(xdotool getwindowname "$E2E_WID")"

# Saved: closing asks nothing, and the settings file is written.
e2e_close_program
[ -f "$XDG_CONFIG_HOME/DoodleChorus/DoodleChorus.conf" ] || fail "no settings file"
grep -q 'old.sav' "$XDG_CONFIG_HOME/DoodleChorus/DoodleChorus.conf" ||
    fail "the recent files are not remembered"
echo "desktop end-to-end: passed"
