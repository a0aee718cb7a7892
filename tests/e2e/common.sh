# Shared set-up of the end-to-end tests: a private runtime folder, the ALSA configuration that
# captures every rendered sample into a file at real-time pace, a window manager on the X
# display the test runs under (xvfb-run), and helpers to start and close the real program.
# Source it; then call e2e_start_program PROGRAM.

set -euo pipefail

E2E_WORK=$(mktemp -d /tmp/doodlechorus-e2e.XXXXXX)
E2E_CAPTURE=$E2E_WORK/capture.raw
E2E_STDOUT=$E2E_WORK/stdout
E2E_STDERR=$E2E_WORK/stderr
E2E_PID=""
E2E_WM_PID=""
E2E_WID=""

e2e_cleanup() {
    [ -n "$E2E_PID" ] && kill "$E2E_PID" 2>/dev/null || true
    [ -n "$E2E_WM_PID" ] && kill "$E2E_WM_PID" 2>/dev/null || true
    if [ -n "${E2E_KEEP:-}" ]; then
        echo "e2e files kept in $E2E_WORK" >&2
    else
        rm -rf "$E2E_WORK"
    fi
}
trap e2e_cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A desktop session always has a private runtime folder.
export XDG_RUNTIME_DIR=$E2E_WORK/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The program remembers its settings: each test starts from none, and leaves none behind.
export XDG_CONFIG_HOME=$E2E_WORK/config

# ALSA's whole configuration: the only device is "default", and it writes raw little-endian
# float32 samples to the capture file; pv drains the pipe at 44100 × 4 bytes a second, so the
# stream runs at the pace of a sound card.
export ALSA_CONFIG_PATH=$E2E_WORK/asound.conf
cat > "$ALSA_CONFIG_PATH" <<CONF
pcm.!default {
    type file
    slave.pcm { type null }
    file "|pv -q -L 176400 > $E2E_CAPTURE"
    format "raw"
}
CONF
export JACK_NO_START_SERVER=1
unset QT_QPA_PLATFORM # the real X display of xvfb-run

[ -n "${DISPLAY:-}" ] || fail "no X display: run under xvfb-run"

# Closing a window as a user does needs a window manager.
openbox >/dev/null 2>&1 &
E2E_WM_PID=$!

# Starts the program with ARGS and waits for its window, whose title ends in "DoodleChorus"
# (after the name of a file it opened); sets E2E_PID and E2E_WID.
e2e_start_program() { # PROGRAM [ARG...]
    e2e_wait_for_window_manager
    "$@" >"$E2E_STDOUT" 2>"$E2E_STDERR" &
    E2E_PID=$!
    E2E_WID=$(timeout 20 xdotool search --sync --all --pid "$E2E_PID" --name 'DoodleChorus$' |
        head -n 1) || fail "the main window did not appear"
    [ -n "$E2E_WID" ] || fail "the main window did not appear"
}

# Waits for a window of the program titled TITLE (a regular expression) and prints it.
wait_window() { # TITLE
    local found tries
    for ((tries = 0; tries < 100; tries++)); do
        found=$(xdotool search --all --pid "$E2E_PID" --name "$1" 2>/dev/null | head -n 1) || true
        [ -z "$found" ] || { echo "$found"; return 0; }
        sleep 0.1
    done
    return 1
}

# Closes the main window through the window manager and checks a clean exit with code 0.
# With "discard", the recording holds unsaved lines: "Save changes?" is answered Discard.
e2e_close_program() { # [discard]
    wmctrl -i -c "$E2E_WID" || fail "could not ask the window to close"
    if [ "${1:-}" = discard ]; then
        local question
        question=$(wait_window '^Save changes\?$') ||
            fail "closing asked nothing about the unsaved lines"
        xdotool windowfocus --sync "$question" sleep 0.2 key d || fail "xdotool key d"
    fi
    local rc=0
    timeout 20 tail --pid="$E2E_PID" -f /dev/null || fail "the program did not end after close"
    wait "$E2E_PID" || rc=$?
    E2E_PID=""
    [ "$rc" -eq 0 ] || fail "exit code $rc"
}

# Number of float32 samples captured so far.
e2e_captured_samples() {
    local bytes
    bytes=$(stat -c %s "$E2E_CAPTURE" 2>/dev/null || echo 0)
    echo $((bytes / 4))
}

# Waits until the window manager runs: a window mapped before it has taken over the display
# stays unmapped. Under load openbox sometimes starts before the display takes connections,
# and gives up at once; it is started again then.
e2e_wait_for_window_manager() {
    local tries
    for ((tries = 0; tries < 100; tries++)); do
        wmctrl -m >/dev/null 2>&1 && return 0
        if ! kill -0 "$E2E_WM_PID" 2>/dev/null; then
            openbox >/dev/null 2>&1 &
            E2E_WM_PID=$!
        fi
        sleep 0.1
    done
    fail "the window manager did not start"
}

# Replaces pv in the capture with PACER (the capture_pacer program): it takes the samples
# every millisecond instead of in pv's 0.1 s bursts and holds at most one page in its pipe,
# so the callback runs once per period at an even pace and a voice change reaches the capture
# within one period of when it happened. With LOG, the pacer writes there when and how much
# the stream wrote. Call before e2e_start_program.
e2e_use_capture_pacer() { # PACER [LOG]
    cat > "$ALSA_CONFIG_PATH" <<CONF
pcm.!default {
    type file
    slave.pcm { type null }
    file "|$1 $E2E_CAPTURE ${2:-}"
    format "raw"
}
CONF
}

# The analyser of screenshots and captures.
ANALYSE=(python3 "$(dirname "${BASH_SOURCE[0]}")/analyse_capture.py")

# The drawing area's top-left corner in window pixels, set by find_drawing_area.
AREA_X=""
AREA_Y=""

# A screenshot of the window. Under load the window manager may still be mapping the window
# when it is first found, and X refuses to read it for a moment: a few tries, 0.2 s apart.
grab_window() { # PNG_PATH
    local tries
    for ((tries = 0; tries < 25; tries++)); do
        import -window "$E2E_WID" "$1" 2>"$E2E_WORK/import.err" && return 0
        sleep 0.2
    done
    fail "no screenshot: $(head -c 300 "$E2E_WORK/import.err")"
}

window_shot() { # PPM_PATH
    grab_window "$E2E_WORK/shot.png"
    convert "$E2E_WORK/shot.png" "$1" || fail "cannot convert the screenshot"
}

# Finds the drawing area in a screenshot (the menu bar's height comes from the fonts of this
# desktop): the only white 240 x 200 rectangle.
find_drawing_area() {
    window_shot "$E2E_WORK/start.ppm"
    local corner
    corner=$("${ANALYSE[@]}" area "$E2E_WORK/start.ppm") || fail "${corner#FAIL: }"
    read -r AREA_X AREA_Y <<<"$corner"
}

# An xdotool move to area point X Y (window-relative coordinates).
at() {
    echo mousemove --window "$E2E_WID" $((AREA_X + $1)) $((AREA_Y + $2))
}

# A slow stroke in the drawing area with real X input: press at (FROM_X, Y), hold still
# kHoldSeconds, move kStepPx at a time every STEP_SECONDS to TO_X, hold still, release.
# Sets PRESSED_AT and RELEASED_AT to the capture's length at the press and at the release, and
# writes the X of every point to XS_FILE. The caller sets kStepPx and kHoldSeconds.
PRESSED_AT=""
RELEASED_AT=""
drag() { # FROM_X TO_X Y STEP_SECONDS XS_FILE
    local from=$1 to=$2 y=$3 step_seconds=$4 moves=() xs=() x
    for ((x = from; x <= to; x += kStepPx)); do
        xs+=("$x")
        [ "$x" -eq "$from" ] || moves+=($(at "$x" "$y") sleep "$step_seconds")
    done
    [ "${xs[-1]}" -eq "$to" ] || fail "stroke $from..$to is not a whole number of steps"
    (IFS=,; echo "${xs[*]}") >"$5"
    xdotool $(at "$from" "$y") sleep 0.05 mousedown 1 || fail "xdotool press"
    PRESSED_AT=$(e2e_captured_samples)
    sleep "$kHoldSeconds"
    xdotool "${moves[@]}" || fail "xdotool moves"
    sleep "$kHoldSeconds"
    xdotool mouseup 1 || fail "xdotool release"
    RELEASED_AT=$(e2e_captured_samples)
}

# The file dialogs, driven as a person does. Opens the File menu with the pointer (the menu
# bar is above the drawing area, whose corner is at client (10, 10)) and takes its ITEM-th
# entry with the keyboard (Open is 1, Save is 2), then waits for the file dialog called TITLE.
file_menu() { # ITEM TITLE
    local keys=() i
    for ((i = 0; i < $1; i++)); do keys+=(key Down sleep 0.1); done
    xdotool mousemove --window "$E2E_WID" 15 $(((AREA_Y - 10) / 2)) sleep 0.1 click 1 \
        sleep 0.5 "${keys[@]}" key Return || fail "xdotool menu"
    # Polled: a search that meets a menu window as it closes fails with an X error.
    local tries
    for ((tries = 0; tries < 100; tries++)); do
        DIALOG=$(xdotool search --all --pid "$E2E_PID" --name "^$2\$" 2>/dev/null | head -n 1) || true
        [ -z "$DIALOG" ] || return 0
        sleep 0.1
    done
    fail "no dialog \"$2\""
}

# Whether a file dialog of the program is on screen. A search that meets a window as it
# closes fails with an X error: that one is asked again.
dialog_open() {
    local found tries
    for ((tries = 0; tries < 10; tries++)); do
        if found=$(xdotool search --all --pid "$E2E_PID" --name "^Please choose file" 2>&1); then
            return 0
        fi
        [ -n "$found" ] || return 1 # no window, no error
        sleep 0.1
    done
    fail "xdotool: $found"
}

# Types PATH into the file name field of the open dialog and accepts it.
answer_dialog() { # PATH
    xdotool windowfocus --sync "$DIALOG" sleep 0.2 key ctrl+a type --delay 15 "$1" ||
        fail "xdotool type"
    # A Return that only takes the completer's suggestion (the name of an existing file)
    # leaves the dialog open: then another one accepts it.
    local presses tries
    for ((presses = 0; presses < 3; presses++)); do
        sleep 0.3
        xdotool key Return || fail "xdotool key"
        for ((tries = 0; tries < 10; tries++)); do
            dialog_open || return 0
            sleep 0.1
        done
    done
    fail "the file dialog did not close"
}

# File > Save under NAME (no extension: the program appends ".sav").
save_as() { # NAME
    file_menu 2 "Please choose file to save"
    answer_dialog "$1"
}
