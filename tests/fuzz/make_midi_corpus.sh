#!/usr/bin/env bash
# Writes the seed corpus of the MIDI fuzz target into tests/fuzz/midi-corpus: the render
# tool's own MIDI export of two examples (whole notes; bends with RPN 0), a format 1 file of
# mido's with tempo changes in two tracks, and an SMPTE-timed file with running status, SysEx,
# an unknown meta event and a chunk of an unknown type, written byte by byte.
#
# Usage: tests/fuzz/make_midi_corpus.sh [PATH/TO/doodlechorus-render]
#   Default: build/tools/doodlechorus-render. Needs Debian's python3-mido.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
TOOL=${1:-$ROOT/build/tools/doodlechorus-render}
OUT=$HERE/midi-corpus
mkdir -p "$OUT"

"$TOOL" --scale major "$ROOT/examples/tune.sav" "$OUT/tune-major.mid"
"$TOOL" "$ROOT/examples/scale-run.sav" "$OUT/scale-run-bends.mid"
/usr/bin/python3 "$ROOT/tests/midi_input_check.py" tempo-file "$OUT/tempo-changes.mid"

# Format 0, 25 frames per second of 40 ticks (1 ms a tick); the track is 43 bytes.
printf 'MThd\0\0\0\6\0\0\0\1\347\50' >"$OUT/smpte-running-status.mid"
printf 'XFIH\0\0\0\2\1\2' >>"$OUT/smpte-running-status.mid"
printf 'MTrk\0\0\0\53' >>"$OUT/smpte-running-status.mid"
printf '\0\260\145\0\0\144\0\0\6\14' >>"$OUT/smpte-running-status.mid"      # RPN 0: 12 semitones
printf '\0\221\74\144\12\76\144' >>"$OUT/smpte-running-status.mid"          # running status
printf '\0\377\1\2hi\5\74\0' >>"$OUT/smpte-running-status.mid"              # text, then on
printf '\0\360\2\1\367\0\341\0\100' >>"$OUT/smpte-running-status.mid"       # SysEx, bend
printf '\0\377\176\0\0\377\57\0' >>"$OUT/smpte-running-status.mid"          # unknown meta, end
ls -l "$OUT"
