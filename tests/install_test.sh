#!/usr/bin/env bash
# Installs a build into a scratch prefix, as "make install" does into /usr/local, and checks
# what lands there: the program and the command-line tool in bin, runnable (every library
# they need is found); the desktop entry, valid, naming that program and an installed icon;
# the icons in the hicolor theme at their sizes; and nothing outside the prefix.
# Needs no display. desktop-file-validate (Debian: desktop-file-utils) checks the entry when
# it is there; without it the entry's required keys are checked here.
# Usage: install_test.sh CMAKE BUILD_DIR BINDIR DATADIR WITH_PROGRAM(0|1) WITH_TOOL(0|1)
set -euo pipefail

CMAKE=$1 BUILD_DIR=$2 BINDIR=$3 DATADIR=$4 WITH_PROGRAM=$5 WITH_TOOL=$6

PREFIX=$(mktemp -d /tmp/doodlechorus-install.XXXXXX)
trap 'rm -rf "$PREFIX"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$CMAKE" --install "$BUILD_DIR" --prefix "$PREFIX" >"$PREFIX.log" 2>&1 ||
    { cat "$PREFIX.log" >&2; rm -f "$PREFIX.log"; fail "cmake --install failed"; }
rm -f "$PREFIX.log"

# Everything installed lies under the prefix.
while IFS= read -r path; do
    case $path in
    "$PREFIX"/*) ;;
    *) fail "installed outside the prefix: $path" ;;
    esac
done <"$BUILD_DIR/install_manifest.txt"

# An installed executable: an ELF file with the execute bit whose libraries all resolve.
check_executable() { # NAME
    local path=$PREFIX/$BINDIR/$1
    [ -f "$path" ] || fail "no $BINDIR/$1"
    [ -x "$path" ] || fail "$BINDIR/$1 is not executable"
    [ "$(head -c 4 "$path" | od -An -c | tr -d ' ')" = '177ELF' ] || fail "$BINDIR/$1 is not a program"
    local missing
    missing=$(ldd "$path" | grep 'not found' || true)
    [ -z "$missing" ] || fail "$BINDIR/$1 lacks libraries: $missing"
    echo "ok: $BINDIR/$1"
}

# Absent when its target is not built in this configuration.
check_absent() { # RELATIVE_PATH
    [ ! -e "$PREFIX/$1" ] || fail "$1 installed, but this build has no program for it"
}

DESKTOP=$DATADIR/applications/doodlechorus.desktop
ICONS=$DATADIR/icons/hicolor

# The value of KEY in the [Desktop Entry] group.
desktop_value() { # KEY
    awk -v key="$1" '
        /^\[/ { group = $0; next }
        group == "[Desktop Entry]" && index($0, key "=") == 1 {
            print substr($0, length(key) + 2); exit
        }' "$PREFIX/$DESKTOP"
}

check_desktop_entry() {
    [ -f "$PREFIX/$DESKTOP" ] || fail "no $DESKTOP"
    if command -v desktop-file-validate >/dev/null 2>&1; then
        local report
        report=$(desktop-file-validate "$PREFIX/$DESKTOP" 2>&1) || fail "$DESKTOP: $report"
        [ -z "$report" ] || fail "$DESKTOP: $report"
        echo "ok: $DESKTOP validates"
    else
        [ "$(head -n 1 "$PREFIX/$DESKTOP")" = "[Desktop Entry]" ] ||
            fail "$DESKTOP does not start with [Desktop Entry]"
        local key
        for key in Type Name Exec Icon Categories; do
            [ -n "$(desktop_value "$key")" ] || fail "$DESKTOP has no $key"
        done
        [ "$(desktop_value Type)" = Application ] || fail "$DESKTOP is not an Application"
        echo "ok: $DESKTOP has its keys (desktop-file-validate not installed)"
    fi
    [ "$(desktop_value Name)" = DoodleChorus ] || fail "$DESKTOP: Name is not DoodleChorus"
    [ "$(desktop_value Terminal)" = false ] || fail "$DESKTOP: it must not want a terminal"
    [ -n "$(desktop_value GenericName)" ] || fail "$DESKTOP has no GenericName"
    [ -n "$(desktop_value Comment)" ] || fail "$DESKTOP has no Comment"
    [ -n "$(desktop_value Keywords)" ] || fail "$DESKTOP has no Keywords"
    # The menu starts the installed program by its name, found on PATH, and shows the icon.
    local exec icon
    exec=$(desktop_value Exec)
    [ "$exec" = doodlechorus ] || fail "$DESKTOP: Exec=$exec, not the program"
    [ -x "$PREFIX/$BINDIR/$exec" ] || fail "$DESKTOP: Exec=$exec is not installed"
    icon=$(desktop_value Icon)
    [ -f "$PREFIX/$ICONS/scalable/apps/$icon.svg" ] || fail "$DESKTOP: no icon $icon installed"
}

# The scalable icon: a well-formed SVG document. The fixed sizes: PNGs of their size.
check_icons() {
    local svg=$ICONS/scalable/apps/doodlechorus.svg size png
    [ -f "$PREFIX/$svg" ] || fail "no $svg"
    python3 - "$PREFIX/$svg" <<'PY' || fail "$svg is not an SVG image"
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
sys.exit(root.tag != "{http://www.w3.org/2000/svg}svg")
PY
    echo "ok: $svg"
    for size in 48 128; do
        png=$ICONS/${size}x${size}/apps/doodlechorus.png
        [ -f "$PREFIX/$png" ] || fail "no $png"
        python3 - "$PREFIX/$png" "$size" <<'PY' || fail "$png is not a ${size}x${size} PNG"
import struct
import sys
data = open(sys.argv[1], "rb").read(24)
size = int(sys.argv[2])
ok = data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
sys.exit(not (ok and struct.unpack(">II", data[16:24]) == (size, size)))
PY
        echo "ok: $png"
    done
}

if [ "$WITH_PROGRAM" = 1 ]; then
    check_executable doodlechorus
    check_desktop_entry
    check_icons
else
    check_absent "$BINDIR/doodlechorus"
    check_absent "$DESKTOP"
fi
if [ "$WITH_TOOL" = 1 ]; then
    check_executable doodlechorus-render
else
    check_absent "$BINDIR/doodlechorus-render"
fi
echo "ok: installed into a scratch prefix"
