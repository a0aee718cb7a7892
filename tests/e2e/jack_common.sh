# shellcheck shell=bash
# Shared set-up of the end-to-end tests against a JACK server of their own: the test client,
# the server, background helpers ended with the test, clicks on the window's controls and
# waiting for the recorder. Source it after common.sh, with JACK_SERVER_NAME and PYTHON3 set.

# A server of the test's own, so that a desktop's server is left alone. Its name is fixed per
# test: libjack keeps eight server names in a machine-wide registry, and the entry of a server
# that died without leaving it is reclaimed only by a server of the same name (a name per run
# would fill the registry, and then no JACK server at all starts on the machine).
export JACK_DEFAULT_SERVER=$JACK_SERVER_NAME
CLIENT=("$PYTHON3" "$(dirname "${BASH_SOURCE[0]}")/jack_midi_client.py")
JACKD_PID=""
JACK_HELPER_PIDS=() # test clients and loops in the background, ended with the test

jack_cleanup() {
    local pid
    for pid in "${JACK_HELPER_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    if [ -n "$JACKD_PID" ]; then
        kill "$JACKD_PID" 2>/dev/null || true
        wait "$JACKD_PID" 2>/dev/null || true
    fi
    e2e_cleanup
}
trap jack_cleanup EXIT

check() { # LABEL, then the client's command and its arguments
    local label=$1 result
    shift
    result=$("${CLIENT[@]}" "$@") || fail "$label: ${result#FAIL: }"
    echo "$label: $result"
}

# Synchronous (-S): the server waits for every client each period. Without it a client that
# is late on a loaded machine misses the period, and the MIDI events of that period with it.
start_jackd() { # RATE PERIOD_FRAMES
    jackd -S --no-realtime -d dummy -r "$1" -p "$2" >>"$E2E_WORK/jackd.log" 2>&1 &
    JACKD_PID=$!
    check "JACK server" wait-server
}

stop_jackd() { # SIGNAL
    kill "-$1" "$JACKD_PID"
    wait "$JACKD_PID" 2>/dev/null || true
    JACKD_PID=""
}

# Client pixels of the controls below the menu bar: a point well inside each (for the tests
# that source this file).
# shellcheck disable=SC2034
kRecordToggle=(310 38)
kPlayToggle=(310 60)
kUnrestrictedOption=(275 135)
kMajorOption=(275 155)
kAreaClientX=10
kAreaClientY=10

client_click() { # X Y
    xdotool mousemove --window "$E2E_WID" $((AREA_X - kAreaClientX + $1)) \
        $((AREA_Y - kAreaClientY + $2)) sleep 0.1 click 1 sleep 0.3 || fail "xdotool click"
}

# Waits until a client started in the background wrote READY_FILE (it connected).
wait_ready() { # READY_FILE LOG
    local tries
    for ((tries = 0; tries < 100; tries++)); do
        [ ! -f "$1" ] || return 0
        sleep 0.1
    done
    fail "the test client did not connect: $(cat "$2" 2>/dev/null)"
}
