#!/usr/bin/env bash
# MIDI through JACK with the real program on a real X display and the real audio path, against
# a dummy JACK server of the test's own and a test client (jack_midi_client.py):
#   - started before any server runs, the program starts cleanly: no ports, nothing printed,
#     and no server started; a server started later is joined;
#   - with a server, a melody with overlapping notes, bends and vowel controllers played into
#     DoodleChorus:midi_in in Major on C sings those notes (the pitch track of DoodleChorus:out_L), and the
#     recording saved through File > Save keeps the played timing and renders the same melody;
#   - an example opened and played back goes out on DoodleChorus:midi_out as the render tool's
#     MIDI export writes it: the same messages in Major, the same sounding pitch and vowel in
#     Unrestricted, each within 1 ms, after the opening messages sent at connection.
# Usage (under xvfb-run): jack_midi_e2e.sh PATH/TO/doodlechorus PATH/TO/doodlechorus-render
#   EXAMPLES_DIR PYTHON3 (the system's, with python3-jack-client and python3-mido)
# xdotool arguments are split into words on purpose:
# shellcheck disable=SC2046
source "$(dirname "$0")/common.sh"

PROGRAM=$1
RENDER=$2
EXAMPLES=$(realpath "$3")
PYTHON3=$4
JACK_SERVER_NAME=doodlechorus-e2e
source "$(dirname "$0")/jack_common.sh"

kAfterPlaybackSeconds=2 # the last messages and the last sound after a playback's length
kMelodyRecordSeconds=8  # the melody's length and a margin on either side

# Plays back the example FILE in the scale option at X Y and checks what midi_out sent
# against the render tool's export with SCALE, compared as MODE.
play_example() { # OPTION_X OPTION_Y FILE SCALE MODE
    local received=$E2E_WORK/received-$4
    client_click "$1" "$2"
    file_menu 1 "Please choose file to open"
    answer_dialog "$3"
    "${CLIENT[@]}" listen "$received" >"$received.log" 2>&1 &
    local listener=$!
    JACK_HELPER_PIDS+=("$listener")
    wait_ready "$received.ready" "$received.log"
    sleep 0.3
    client_click "${kPlayToggle[@]}"
    local length_ms
    length_ms=$(tail -c 40 "$3" | tr -d '\r' | tail -n 1 | cut -d ';' -f 4)
    sleep $(((length_ms + 999) / 1000 + kAfterPlaybackSeconds))
    kill -TERM "$listener"
    wait "$listener" || fail "the listener failed: $(cat "$received.log")"
    "$RENDER" -q --scale "$4" --type mid "$3" "$E2E_WORK/$4.mid" || fail "render $3 to MIDI"
    check "$(basename "$3") in $4" compare "$received" "$E2E_WORK/$4.mid" "$5"
}

# --- No server: the program starts as without MIDI, and starts no server itself. ---
unset JACK_NO_START_SERVER
e2e_start_program "$PROGRAM"
sleep 1
e2e_close_program
[ ! -s "$E2E_STDOUT" ] || fail "the program printed: $(head -c 500 "$E2E_STDOUT")"
[ ! -s "$E2E_STDERR" ] || fail "without a server, stderr: $(head -c 500 "$E2E_STDERR")"
export JACK_NO_START_SERVER=1
if jack_lsp >/dev/null 2>&1; then
    fail "a JACK server $JACK_DEFAULT_SERVER runs after the program started without one"
fi
echo "ok: without a JACK server the program starts, closes and prints nothing"

# --- A server started after the program: the program joins it. ---
e2e_start_program "$PROGRAM"
start_jackd 44100 256
check "a server started later" ports DoodleChorus:midi_in DoodleChorus:midi_out
find_drawing_area

# --- MIDI in: play and record the melody in Major on C, save it. ---
client_click "${kMajorOption[@]}"
client_click "${kRecordToggle[@]}"
"${CLIENT[@]}" record DoodleChorus:out_L "$kMelodyRecordSeconds" "$E2E_WORK/melody.wav" \
    >"$E2E_WORK/recorder.log" &
RECORDER_PID=$!
JACK_HELPER_PIDS+=("$RECORDER_PID")
wait_ready "$E2E_WORK/melody.wav.ready" "$E2E_WORK/recorder.log"
check "MIDI in" play "$E2E_WORK/played"
client_click "${kRecordToggle[@]}"
wait "$RECORDER_PID" || fail "the recorder failed: $(cat "$E2E_WORK/recorder.log")"
check "live" pitch "$E2E_WORK/melody.wav"
save_as "$E2E_WORK/melody"
[ -f "$E2E_WORK/melody.sav" ] || fail "File > Save wrote no melody.sav"
check "melody file" melody "$E2E_WORK/melody.mid"
"$RENDER" -q --scale major "$E2E_WORK/melody.mid" "$E2E_WORK/reference.sav" ||
    fail "render the melody file"
check "saved" sav "$E2E_WORK/melody.sav" "$E2E_WORK/played" "$E2E_WORK/reference.sav"
"$RENDER" -q --scale major "$E2E_WORK/melody.sav" "$E2E_WORK/rendered.wav" || fail "render"
check "rendered" pitch "$E2E_WORK/rendered.wav"

# --- MIDI out: examples played back, against the export. ---
play_example "${kMajorOption[@]}" "$EXAMPLES/tune.sav" major whole
play_example "${kUnrestrictedOption[@]}" "$EXAMPLES/scale-run.sav" unrestricted bend

e2e_close_program
[ ! -s "$E2E_STDOUT" ] || fail "the program printed: $(head -c 500 "$E2E_STDOUT")"
[ ! -s "$E2E_STDERR" ] || fail "the program printed on stderr: $(head -c 500 "$E2E_STDERR")"
echo "ok: exit 0, nothing printed"
