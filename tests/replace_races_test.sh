#!/bin/bash
# doodlechorus-render among other writers and other users' files: many renders at once into one
# folder on a file system without anonymous files (FUSE), where each names its temporary file
# and tidies the leftovers of killed runs; a file of the user's that only looks like a leftover;
# a link another user planted in a sticky folder anyone may write; two writers of one new name.
# Run as root (the FUSE mount and the planted link need it); without /dev/fuse or bindfs the
# other cases still run and the test reports itself skipped (exit 77).
# Usage: replace_races_test.sh TOOL
set -u
tool=$(realpath "$1")
work=$(mktemp -d)
mounted=""
cleanup() {
    [ -n "$mounted" ] && fusermount -u "$mounted" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
skipped=""
kRenders=2000
kAtOnce=16

cd "$work" || exit 1
chmod 755 "$work"
printf '100;100;0;0\r\n100;100;0;300\r\n' >small.sav
printf '200;150;0;0\r\n200;150;0;60000\r\n' >a.sav
printf '40;60;0;0\r\n40;60;0;60000\r\n' >b.sav
for r in small a b; do
    "$tool" -q "$r.sav" "ref-$r.wav" || { echo "cannot render $r.sav" >&2; exit 1; }
done
# A file of the user's with a name like a temporary file's, but not one of the tool's.
lookAlike=.doodlechorus-render-MyNotes2024a.tmp

# Many renders at once into one folder where every temporary file is named.
if [ "$(id -u)" -ne 0 ] || [ ! -c /dev/fuse ] || ! command -v bindfs >/dev/null; then
    skipped="no root, /dev/fuse or bindfs: no FUSE mount for the concurrent renders"
else
    mkdir -p src mnt
    if bindfs src mnt; then
        mounted=$work/mnt
        echo "my notes" >"mnt/$lookAlike"
        : >failed
        : >errors
        start=$(date +%s.%N)
        seq "$kRenders" | xargs -P "$kAtOnce" -I{} sh -c \
            '"$1" -q small.sav "mnt/out{}.wav" 2>>errors || echo {} >>failed' sh "$tool"
        end=$(date +%s.%N)
        failed=$(wc -l <failed)
        [ "$failed" -eq 0 ] || fail "$failed of $kRenders concurrent renders failed: $(sort -u errors | head -3)"
        ok=0
        for i in $(seq "$kRenders"); do cmp -s "mnt/out$i.wav" ref-small.wav && ok=$((ok + 1)); done
        [ "$ok" -eq "$kRenders" ] || fail "only $ok of $kRenders concurrent renders hold the render"
        stray=$(ls -A mnt | grep -c '^\.doodlechorus-render-.*\.tmp$')
        [ "$stray" -eq 1 ] || fail "$stray temporary-looking files after the renders, not only the user's"
        [ "$(cat "mnt/$lookAlike")" = "my notes" ] || fail "the user's look-alike file was removed"
        echo "$kRenders renders, $kAtOnce at a time, on bindfs: $ok whole, $(awk "BEGIN { print $end - $start }") s"
        fusermount -u mnt && mounted=""
    else
        skipped="bindfs could not mount"
    fi
fi

# A link another user planted in a sticky folder anyone may write is not followed; root's own
# link there is.
if [ "$(id -u)" -eq 0 ]; then
    mkdir shared && chmod 1777 shared
    echo "decoy" >decoy && chmod 644 decoy
    runuser -u nobody -- ln -s "$work/decoy" shared/out.wav
    if "$tool" -q small.sav shared/out.wav 2>err; then
        fail "rendered through another user's link in a sticky folder"
    fi
    grep -q "link another user made in a shared folder" err || fail "refusal says: $(cat err)"
    [ "$(cat decoy)" = "decoy" ] || fail "the decoy behind the planted link was replaced"
    [ -L shared/out.wav ] || fail "the planted link is gone"
    ln -s "$work/own.wav" shared/own.wav
    "$tool" -q small.sav shared/own.wav || fail "root's own link in the sticky folder was refused"
    cmp -s own.wav ref-small.wav || fail "root's own link did not lead to the render"
fi

# Two writers of one new name at once: the second to finish is refused, and the file is the
# whole render of one of them. They overlap only most of the time, so a few tries are made.
overlapped=0
for try in 1 2 3 4 5 6 7 8; do
    rm -f new.wav
    "$tool" -q a.sav new.wav 2>err-a &
    first=$!
    "$tool" -q b.sav new.wav 2>err-b
    second=$?
    wait "$first"
    first=$?
    if ! cmp -s new.wav ref-a.wav && ! cmp -s new.wav ref-b.wav; then
        fail "two writers of a new name left neither whole render"
    fi
    if [ "$first" -ne 0 ] && [ "$second" -ne 0 ]; then
        fail "both writers of a new name were refused: $(cat err-a err-b)"
    elif [ "$first" -ne 0 ] || [ "$second" -ne 0 ]; then
        overlapped=$((overlapped + 1))
        grep -qh "another program made a file of that name meanwhile" err-a err-b ||
            fail "the refused writer says: $(cat err-a err-b)"
        winner=ref-a.wav
        [ "$first" -ne 0 ] && winner=ref-b.wav
        cmp -s new.wav "$winner" || fail "the new name holds the refused writer's bytes"
    fi
    [ "$(ls -A | grep -c '^\.doodlechorus-render-')" -eq 0 ] || fail "a temporary file stayed"
done
[ "$overlapped" -gt 0 ] || fail "the two writers never overlapped in 8 tries"
echo "two writers of a new name: $overlapped of 8 tries overlapped, one refused each time"

if [ "$failures" -gt 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
if [ -n "$skipped" ]; then
    echo "SKIP: $skipped" >&2
    exit 77
fi
echo "all cases passed"
