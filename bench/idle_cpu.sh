#!/usr/bin/env bash
# CPU of the idle program, per thread: starts the real program on a virtual X display with its
# audio going to an ALSA file device paced like a sound card, lets it settle, then measures every
# thread's user + system time over SECONDS (default 10) and prints it in per cent of one core.
# Aim: all threads but the audio library's own together below 0.5 %. The audio thread renders
# silence at rest, so it is reported apart.
#
#   bench/idle_cpu.sh PROGRAM [SECONDS]
set -euo pipefail

program=${1:?usage: idle_cpu.sh PROGRAM [SECONDS]}
seconds=${2:-10}
settle_seconds=2

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s '-screen 0 1024x768x24' "$0" "$@"
fi

work=$(mktemp -d /tmp/doodlechorus-idle.XXXXXX)
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$work/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
export ALSA_CONFIG_PATH=$work/asound.conf
cat >"$ALSA_CONFIG_PATH" <<CONF
pcm.!default {
    type file
    slave.pcm { type null }
    file "|pv -q -L 176400 > /dev/null"
    format "raw"
}
CONF
export JACK_NO_START_SERVER=1
unset QT_QPA_PLATFORM

"$program" >"$work/stdout" 2>"$work/stderr" &
pid=$!
sleep "$settle_seconds"
kill -0 "$pid" 2>/dev/null || { echo "the program ended: $(cat "$work/stderr")" >&2; exit 2; }

# One line per thread: tid, name, utime + stime in clock ticks. The name is field 2, in
# parentheses, and may hold spaces: the fields after it are counted from its closing one.
snapshot() {
    local stat tid rest name
    for stat in /proc/"$pid"/task/*/stat; do
        tid=${stat%/stat}
        tid=${tid##*/}
        rest=$(cat "$stat" 2>/dev/null) || continue
        name=${rest#*(}
        name=${name%)*}
        rest=${rest##*) }
        # Fields 14 and 15 of stat are the 12th and 13th after the name.
        echo "$tid $(echo "$rest" | awk '{print $12 + $13}') $name"
    done
}

snapshot >"$work/before"
sleep "$seconds"
snapshot >"$work/after"

ticks_per_second=$(getconf CLK_TCK)
# The main thread's tid is the pid; Qt and the ticker name their threads; the one left with the
# program's own name is PortAudio's audio thread.
awk -v pid="$pid" -v secs="$seconds" -v hz="$ticks_per_second" '
    NR == FNR { before[$1] = $2; next }
    {
        tid = $1; used = $2 - before[tid]; name = $3
        for (i = 4; i <= NF; i++) name = name " " $i
        role = tid == pid ? "main" : (name == "doodlechorus" ? "audio" : name)
        pct = used / hz / secs * 100
        printf "%-20s tid %-8s %6.2f %% of one core\n", role, tid, pct
        if (role == "audio") audio += pct; else others += pct
    }
    END {
        printf "all but audio         %6.2f %% (aim: below 0.5 %%)\n", others
        printf "audio                 %6.2f %%\n", audio
    }' "$work/before" "$work/after"
