#!/usr/bin/env bash
# The real program on a real X display with the real audio path: it starts, its stream runs
# (silence, since nothing sounded), it closes cleanly with exit code 0 and prints nothing.
# Usage (under xvfb-run): startup_e2e.sh PATH/TO/doodlechorus
source "$(dirname "$0")/common.sh"

PROGRAM=$1
kMinSeconds=1
kSampleRate=44100

e2e_start_program "$PROGRAM"
sleep 2
samples=$(e2e_captured_samples)
[ "$samples" -ge $((kMinSeconds * kSampleRate)) ] ||
    fail "the stream did not run: $samples samples captured"
e2e_close_program

bytes=$(stat -c %s "$E2E_CAPTURE")
cmp -s -n "$bytes" "$E2E_CAPTURE" /dev/zero || fail "the idle program made a non-zero sample"
[ ! -s "$E2E_STDOUT" ] || fail "the program printed: $(head -c 500 "$E2E_STDOUT")"
[ ! -s "$E2E_STDERR" ] || fail "the program printed on stderr: $(head -c 500 "$E2E_STDERR")"
echo "ok: $bytes bytes of silence captured, exit 0, nothing printed"
