#!/usr/bin/env bash
# The real program as a screen reader finds it through AT-SPI: the toggles keep their names and
# say whether they are down, the scale options and root list belong to the Scale group, and the
# Help window is a window whose text has a name.
# Usage (under xvfb-run): accessibility_e2e.sh PATH/TO/doodlechorus PYTHON3
source "$(dirname "$0")/common.sh"

PROGRAM=$1
PYTHON3=$2

# A session bus of its own, on which the accessibility bus starts; its daemons talk on stderr,
# into a file.
DBUS_PID=""
dbus_cleanup() {
    [ -n "$DBUS_PID" ] && kill "$DBUS_PID" 2>/dev/null || true
    e2e_cleanup
}
trap dbus_cleanup EXIT
{ read -r DBUS_SESSION_BUS_ADDRESS && read -r DBUS_PID; } < <(
    dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 \
        2>"$E2E_WORK/dbus.log") || fail "no session bus"
export DBUS_SESSION_BUS_ADDRESS
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

e2e_start_program "$PROGRAM"
"$PYTHON3" "$(dirname "$0")/accessibility_check.py" "$(basename "$PROGRAM")" ||
    fail "a screen reader does not find what it should"
e2e_close_program
[ ! -s "$E2E_STDERR" ] || fail "the program printed on stderr: $(head -c 500 "$E2E_STDERR")"
echo "ok: the accessibility checks passed"
