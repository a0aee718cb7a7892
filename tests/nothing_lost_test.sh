#!/bin/bash
# doodlechorus-render writing over a file that must be rewritten in place (two hard links), as
# a hostile user or an unlucky moment would have it: signals at any point, two writers at once,
# a disk that fills up, a file size limit, an append-only folder, an output larger than the
# disk, and a target in the kernel's pseudo file systems. Whatever happens, every name of the
# target holds either its old bytes or the complete new render, never a mix, unless a kill -9
# cut the copy itself, and then the complete render is in the file the tool named beforehand.
# A sanitizer build renders about 13 times slower: SCALE (default 1) divides the long render's
# length and the rounds of two writers, so that the test covers the same moments in the time a
# Release build takes.
# Usage: nothing_lost_test.sh TOOL [SCALE]
set -u
tool=$(realpath "$1")
scale=${2:-1}
work=$(mktemp -d)
mounts=()
cleanup() {
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null; done
    chattr -R -a "$work" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
is_root() { [ "$(id -u)" -eq 0 ]; }

cd "$work" || exit 1
# Renders to tell apart: ten minutes of one note (105.8 MB of WAV, 51 MB of FLAC; a tenth of
# that under sanitizers), one of
# another as the old file (10.6 MB), and two more for two writers at once.
printf '100;100;0;0\r\n100;100;0;%d\r\n' $((600000 / scale)) >long.sav
printf '100;100;0;0\r\n100;100;0;600000\r\n' >big.sav # larger than the small disks below
printf '30;20;0;0\r\n30;20;0;60000\r\n' >old.sav
printf '200;150;0;0\r\n200;150;0;60000\r\n' >a.sav
printf '40;60;0;0\r\n40;60;0;60000\r\n' >b.sav
for r in long old a b; do
    "$tool" -q "$r.sav" "ref-$r.wav" || { echo "cannot render $r.sav" >&2; exit 1; }
done

# A target with two names, holding the old render.
fresh_target() { # folder
    rm -rf "$1" && mkdir -p "$1" && cp ref-old.wav "$1/out.wav" && ln "$1/out.wav" "$1/twin.wav"
}

# What the names hold after an interrupted run: old, new, or, when kill -9 cut the copy, a mix
# beside the complete render in the named file.
check_after_signal() { # folder signal stderr-file
    local folder=$1 signal=$2 err=$3 name
    for name in out.wav twin.wav; do
        if cmp -s "$folder/$name" ref-old.wav; then
            grep -q "is left as it was" "$err" || [ "$signal" = KILL ] ||
                { fail "$signal: old bytes but stderr says: $(cat "$err")"; }
            outcomes+=("$signal:old")
        elif cmp -s "$folder/$name" ref-long.wav; then
            outcomes+=("$signal:new")
        elif [ "$signal" = KILL ]; then
            outcomes+=("$signal:cut in the copy")
            kept=$(sed -n "s/.*the complete render is in '\(.*\)'$/\1/p" "$err")
            if [ -z "$kept" ] || ! cmp -s "$kept" ref-long.wav; then
                fail "KILL: $name is a mix and no complete copy was named ($(cat "$err"))"
            fi
        else
            fail "$signal: $name is neither the old bytes nor the new render"
        fi
    done
    rm -f "$folder"/.doodlechorus-render-*.new
    # The two names are still one file.
    [ "$(stat -c %i "$folder/out.wav")" = "$(stat -c %i "$folder/twin.wav")" ] ||
        fail "$signal: the names parted"
}

# 1. Signals at many points of a long in-place render: during the render, the copy, after.
fresh_target t
start=$(date +%s%N)
"$tool" -q long.sav t/out.wav
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
rounds=12
outcomes=()
for signal in INT TERM KILL; do
    for round in $(seq 1 $rounds); do
        fresh_target s
        delay_ms=$((elapsed_ms * round / rounds))
        "$tool" long.sav s/out.wav 2>err &
        pid=$!
        sleep "$(printf '0.%03d' $((delay_ms % 1000)))"
        sleep $((delay_ms / 1000))
        kill -s "$signal" "$pid" 2>/dev/null
        { wait "$pid"; } 2>/dev/null
        check_after_signal s "$signal" err
    done
done
echo "in-place render of $elapsed_ms ms, signals at $rounds points each; what the names held:"
printf '%s\n' "${outcomes[@]}" | sort | uniq -c

# With --quiet too, a rewrite in place first names where the complete render stays.
fresh_target q
"$tool" -q a.sav q/out.wav 2>err || fail "quiet in-place render failed: $(cat err)"
grep -q "is rewritten in place; should that be cut, the complete render is in '" err ||
    fail "--quiet: the kept copy is not named beforehand: $(cat err)"
cmp -s q/twin.wav ref-a.wav || fail "--quiet: the second name does not hold the render"

# 2. Two writers at once never mix: the result is one render, whole.
for round in $(seq 1 $((50 / scale))); do
    fresh_target c
    "$tool" -q a.sav c/out.wav 2>err-a &
    pa=$!
    "$tool" -q b.sav c/twin.wav 2>err-b &
    pb=$!
    wait "$pa"; ea=$?
    wait "$pb"; eb=$?
    if ! cmp -s c/out.wav ref-a.wav && ! cmp -s c/out.wav ref-b.wav; then
        fail "two writers (exits $ea, $eb): the file is neither render"
    fi
    for e in "$ea:err-a" "$eb:err-b"; do
        code=${e%%:*}
        if [ "$code" != 0 ] && ! grep -q "another program is writing it" "${e#*:}"; then
            fail "two writers: exit $code with $(cat "${e#*:}")"
        fi
    done
done

if is_root; then
    # 3. A disk too small for the new render beside the old file grown: the WAV is refused by
    # the size it will have, the FLAC (whose size is not known beforehand) once the room for
    # the copy cannot be claimed. Then a file size limit.
    for type in wav flac; do
        mkdir -p disk && mount -t tmpfs -o size=80m tmpfs disk && mounts+=("$work/disk")
        cp ref-old.wav "disk/keep.$type" && ln "disk/keep.$type" disk/twin
        "$tool" -q big.sav "disk/keep.$type" 2>err
        code=$?
        [ "$code" = 2 ] || fail "full disk ($type): exit $code"
        grep -q "No space left on device" err || fail "full disk ($type): $(cat err)"
        cmp -s disk/twin ref-old.wav || fail "full disk ($type): the old bytes are gone"
        umount disk && mounts=()
    done
    fresh_target limit
    (ulimit -f 20000 && exec "$tool" -q big.sav limit/out.wav) 2>err
    code=$?
    [ "$code" = 2 ] || fail "size limit: exit $code"
    cmp -s limit/twin.wav ref-old.wav || fail "size limit: the old bytes are gone ($(cat err))"
    grep -q "File too large" err || fail "size limit: $(cat err)"

    # 4. An append-only folder: written as asked, and the report says so.
    mkdir -p appended && cp ref-old.wav appended/out.wav
    if chattr +a appended 2>/dev/null; then
        "$tool" -q a.sav appended/out.wav 2>err
        code=$?
        [ "$code" = 0 ] || fail "append-only: exit $code: $(cat err)"
        cmp -s appended/out.wav ref-a.wav || fail "append-only: the render is not there"
        [ "$(ls -A appended)" = out.wav ] || fail "append-only: left $(ls -A appended)"
        chattr -a appended
    else
        echo "skipped: chattr +a is not available here"
    fi

    # 5. nobody's file that nobody may write but not read, in root's folder: it is rewritten
    # from the temporary folder, where the encoder may read back what it wrote.
    chmod 755 "$work" && mkdir -p -m 755 dropbox && printf "nobody's" >dropbox/w.ogg
    chown nobody: dropbox/w.ogg && chmod 200 dropbox/w.ogg
    "$tool" -q a.sav ref-a.ogg
    runuser -u nobody -- "$tool" -q a.sav dropbox/w.ogg 2>err
    code=$?
    [ "$code" = 0 ] || fail "write-only: exit $code: $(cat err)"
    cmp -s dropbox/w.ogg ref-a.ogg || fail "write-only: not the render"
    [ "$(stat -c %a dropbox/w.ogg)" = 200 ] || fail "write-only: the mode changed"

    # 6. An output larger than the disk is refused before anything is written, naming both.
    mkdir -p small && mount -t tmpfs -o size=1m tmpfs small && mounts+=("$work/small")
    printf '10;10;0;0\r\n10;10;0;2147483000\r\n' >month.sav
    echo keep >small/keep.w64
    "$tool" -q month.sav small/keep.w64 2>err
    code=$?
    [ "$code" = 2 ] || fail "oversized: exit $code"
    grep -q "it needs 378.8 GB and the file system of '.*small' has 1.0 MB free" err ||
        fail "oversized: $(cat err)"
    [ "$(cat small/keep.w64)" = keep ] || fail "oversized: the old file changed"
    umount small && mounts=()
else
    echo "skipped: the full disk, the size limit and the append-only folder need root"
fi

# 7. The kernel's settings are never written, as root either.
before=$(cat /proc/self/comm)
"$tool" -q --type mid a.sav /proc/self/comm 2>err
code=$?
[ "$code" = 2 ] || fail "procfs: exit $code"
grep -q "pseudo file systems" err || fail "procfs: $(cat err)"

# 8. A dangling link: the folder named is the one missing, where the link points.
mkdir -p links && ln -s ../nowhere/deeper/out.wav links/out.wav
"$tool" -q a.sav links/out.wav 2>err
grep -q "folder 'links/../nowhere/deeper': No such file or directory" err ||
    fail "dangling link: $(cat err)"

if [ "$failures" -gt 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "all cases kept the old bytes or the whole new render"
