#!/usr/bin/env bash
# The real program as a client of real JACK servers (dummy ones of the test's own, at 48 kHz):
#   - one client, DoodleChorus, with out_L and out_R connected to the first two playback ports
#     beside midi_in and midi_out, and no other client of the program's;
#   - a listener connected to midi_out while a key is held hears the note sounding;
#   - a thousand messages in one period, the last a note off, leave the voice silent;
#   - ten starts in a row while another client opens and closes ports and jack_lsp polls the
#     server: every start sings a held key;
#   - the server killed under the running program: the program goes on through its ALSA device
#     (the capture file of common.sh), joins a server started again and sings there, and after
#     a second loss its window closes at once.
# Usage (under xvfb-run): jack_server_e2e.sh PATH/TO/doodlechorus PYTHON3 (the system's, with
#   python3-jack-client)
source "$(dirname "$0")/common.sh"

PROGRAM=$1
PYTHON3=$2
JACK_SERVER_NAME=doodlechorus-e2e-server
source "$(dirname "$0")/jack_common.sh"
kStarts=10
kNote=62           # D4, 293.7 Hz: in Unrestricted within 7.8 cents of a pixel column
kLsPollSeconds=0.1 # as a patchbay polls the server
# A window that closes waits for nothing but its own shutdown: far less than this. A hang
# (a closing stream waiting on a dead server) lasts minutes.
kCloseSeconds=10
kFallbackSeconds=2 # the fallback stream runs this long before the capture is measured
kFloodMessages=1000 # in one period: more than the callback keeps for their frames
kRate=48000
kPeriodFrames=256

all_ports() {
    check "ports" ports DoodleChorus:out_L DoodleChorus:out_R DoodleChorus:midi_in \
        DoodleChorus:midi_out
}

# --- One client, its ports and their connections; a listener joining mid-note. ---
start_jackd "$kRate" "$kPeriodFrames"
e2e_start_program "$PROGRAM"
all_ports
check "left" connections DoodleChorus:out_L system:playback_1
check "right" connections DoodleChorus:out_R system:playback_2
check "one client" no-ports PortAudio
check "mid-note" late-listener "$kNote"
check "a flood" flood "$kFloodMessages"
e2e_close_program

# --- Ten starts beside a client that opens and closes ports, and a polling jack_lsp. ---
"${CLIENT[@]}" churn >"$E2E_WORK/churn.log" 2>&1 &
CHURN_PID=$!
(while true; do jack_lsp >/dev/null 2>&1 || true; sleep "$kLsPollSeconds"; done) &
LSP_PID=$!
JACK_HELPER_PIDS+=("$CHURN_PID" "$LSP_PID")
for ((start = 1; start <= kStarts; start++)); do
    e2e_start_program "$PROGRAM"
    check "start $start" sings "$kNote" "$E2E_WORK/start-$start.wav"
    e2e_close_program
done
kill "$CHURN_PID" "$LSP_PID"
wait "$CHURN_PID" "$LSP_PID" 2>/dev/null || true

# --- The server killed: the program sings on through ALSA, and joins the next server. ---
e2e_start_program "$PROGRAM"
all_ports
[ "$(e2e_captured_samples)" -eq 0 ] || fail "ALSA took samples while JACK sang"
stop_jackd KILL
sleep "$kFallbackSeconds"
kill -0 "$E2E_PID" 2>/dev/null || fail "the program ended with the server"
[ "$(e2e_captured_samples)" -gt 0 ] || fail "no sound went to the ALSA device after the server went"
echo "server killed: ok: the program runs on, through ALSA"
start_jackd "$kRate" "$kPeriodFrames"
all_ports
check "joined again" sings "$kNote" "$E2E_WORK/again.wav"

# --- Lost again, the window closes at once. ---
stop_jackd TERM
sleep 1
wmctrl -i -c "$E2E_WID" || fail "could not ask the window to close"
started=$(date +%s.%N)
timeout "$kCloseSeconds" tail -s 0.05 --pid="$E2E_PID" -f /dev/null ||
    fail "the window did not close within $kCloseSeconds s of the server's loss"
rc=0
wait "$E2E_PID" || rc=$?
E2E_PID=""
[ "$rc" -eq 0 ] || fail "exit code $rc"
echo "closed after the server's loss: ok: in $(echo "$(date +%s.%N) - $started" | bc) s"
[ ! -s "$E2E_STDERR" ] || fail "the program printed on stderr: $(head -c 500 "$E2E_STDERR")"
echo "ok: one client that sings every start, survives its server and closes at once"
