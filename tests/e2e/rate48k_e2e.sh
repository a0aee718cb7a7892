#!/usr/bin/env bash
# The live output on a server that does not run at the voice's 44.1 kHz: the real program on a
# real X display as a client of a dummy JACK server at 48 kHz (ALSA has no device), the voice
# converted to the server's rate. The melody played into DoodleChorus:midi_in in Major on C,
# recorded from DoodleChorus:out_L at 48 kHz, sings the melody's notes at their pitch
# (jack_midi_client.py's pitch check, within 5 cents).
# Usage (under xvfb-run): rate48k_e2e.sh PATH/TO/doodlechorus PYTHON3 (the system's, with
#   python3-jack-client and python3-mido)
source "$(dirname "$0")/common.sh"

PROGRAM=$1
CLIENT=("$2" "$(dirname "$0")/jack_midi_client.py")
kRecordSeconds=8 # the melody's length and a margin on either side
# Client pixels of Major below the menu bar, and of the drawing area (as jack_midi_e2e.sh).
kMajorOption=(275 155)
kAreaClientX=10
kAreaClientY=10

# ALSA as the system has it, without a sound card: no device but the server.
unset ALSA_CONFIG_PATH
# A server of this test's own, by a fixed name (see jack_midi_e2e.sh for why).
export JACK_DEFAULT_SERVER=doodlechorus-e2e-48k
export JACK_NO_START_SERVER=1
JACKD_PID=""
RECORDER_PID=""
rate_cleanup() {
    [ -z "$RECORDER_PID" ] || kill "$RECORDER_PID" 2>/dev/null || true
    if [ -n "$JACKD_PID" ]; then
        kill "$JACKD_PID" 2>/dev/null || true
        wait "$JACKD_PID" 2>/dev/null || true
    fi
    e2e_cleanup
}
trap rate_cleanup EXIT

client_click() { # X Y
    xdotool mousemove --window "$E2E_WID" $((AREA_X - kAreaClientX + $1)) \
        $((AREA_Y - kAreaClientY + $2)) sleep 0.1 click 1 sleep 0.3 || fail "xdotool click"
}

check() { # LABEL, then the client's command and its arguments
    local label=$1 result
    shift
    result=$("${CLIENT[@]}" "$@") || fail "$label: ${result#FAIL: }"
    echo "$label: $result"
}

jackd -S --no-realtime -d dummy -r 48000 -p 256 >"$E2E_WORK/jackd.log" 2>&1 &
JACKD_PID=$!
check "JACK server" wait-server
e2e_start_program "$PROGRAM"
check "ports" ports DoodleChorus:midi_in
find_drawing_area
client_click "${kMajorOption[@]}" # the melody's notes on C major, as jack_midi_e2e.sh plays it

"${CLIENT[@]}" record DoodleChorus:out_L "$kRecordSeconds" "$E2E_WORK/sung.wav" >"$E2E_WORK/recorder.log" &
RECORDER_PID=$!
for ((tries = 0; tries < 100; tries++)); do
    [ ! -f "$E2E_WORK/sung.wav.ready" ] || break
    sleep 0.1
done
[ -f "$E2E_WORK/sung.wav.ready" ] || fail "the recorder did not connect: $(cat "$E2E_WORK/recorder.log")"
sleep 0.5
check "MIDI in" play "$E2E_WORK/played"
wait "$RECORDER_PID" || fail "the recorder failed: $(cat "$E2E_WORK/recorder.log")"
RECORDER_PID=""
echo "recorded: $(cat "$E2E_WORK/recorder.log")"
check "sung at 48 kHz" pitch "$E2E_WORK/sung.wav"
e2e_close_program
[ ! -s "$E2E_STDERR" ] || fail "stderr: $(head -c 500 "$E2E_STDERR")"
echo "ok: the voice sings at its pitch through a 48 kHz device"
