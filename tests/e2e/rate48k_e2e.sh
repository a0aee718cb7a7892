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
PYTHON3=$2
JACK_SERVER_NAME=doodlechorus-e2e-48k
source "$(dirname "$0")/jack_common.sh"
kRecordSeconds=8 # the melody's length and a margin on either side

# ALSA as the system has it, without a sound card: no device but the server.
unset ALSA_CONFIG_PATH

start_jackd 48000 256
e2e_start_program "$PROGRAM"
check "ports" ports DoodleChorus:midi_in
find_drawing_area
client_click "${kMajorOption[@]}" # the melody's notes on C major, as jack_midi_e2e.sh plays it

"${CLIENT[@]}" record DoodleChorus:out_L "$kRecordSeconds" "$E2E_WORK/sung.wav" \
    >"$E2E_WORK/recorder.log" &
RECORDER_PID=$!
JACK_HELPER_PIDS+=("$RECORDER_PID")
wait_ready "$E2E_WORK/sung.wav.ready" "$E2E_WORK/recorder.log"
sleep 0.5
check "MIDI in" play "$E2E_WORK/played"
wait "$RECORDER_PID" || fail "the recorder failed: $(cat "$E2E_WORK/recorder.log")"
echo "recorded: $(cat "$E2E_WORK/recorder.log")"
check "sung at 48 kHz" pitch "$E2E_WORK/sung.wav"
e2e_close_program
[ ! -s "$E2E_STDERR" ] || fail "stderr: $(head -c 500 "$E2E_STDERR")"
echo "ok: the voice sings at its pitch through a 48 kHz device"
