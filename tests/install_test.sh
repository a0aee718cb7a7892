#!/usr/bin/env bash
# Installs a build into a scratch prefix, as "make install" does into /usr/local, and checks
# what lands there: the program and the command-line tool in bin, runnable (every library
# they need is found), the program answering --version without a display; the desktop entry,
# valid, naming that program with a file, an installed icon and the recordings' media type;
# the media type's shared-mime-info file, valid, mapping *.sav to that type;
# the icons in the hicolor theme at their sizes; the man pages, compressed as Debian wants them
# and formatting without a warning, reading correctly at 80 columns (no word run into a
# parenthesis, SEE ALSO as written) (the tool's naming every option and format its --help
# names); the AppStream metainfo, valid
# with the entry it launches, providing the installed programs, its newest release the
# project's VERSION; and nothing outside the prefix.
# Needs no display and no network. desktop-file-validate (Debian: desktop-file-utils) checks
# the entry when it is there; without it the entry's required keys are checked here.
# appstreamcli (appstream), groff (groff-base), lexgrog and man (man-db) and
# update-mime-database (shared-mime-info) are required.
# Usage: install_test.sh CMAKE BUILD_DIR BINDIR DATADIR MANDIR WITH_PROGRAM(0|1) WITH_TOOL(0|1)
#        VERSION
set -euo pipefail

CMAKE=$1 BUILD_DIR=$2 BINDIR=$3 DATADIR=$4 MANDIR=$5 WITH_PROGRAM=$6 WITH_TOOL=$7 VERSION=$8

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
MIME=$DATADIR/mime/packages/doodlechorus.xml
MEDIA_TYPE=application/x-doodlechorus-recording

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
    # The menu starts the installed program by its name, found on PATH, with the file opened
    # from a file manager, and shows the icon.
    local exec icon
    exec=$(desktop_value Exec)
    [ "$exec" = "doodlechorus %f" ] || fail "$DESKTOP: Exec=$exec, not the program with a file"
    [ -x "$PREFIX/$BINDIR/${exec%% *}" ] || fail "$DESKTOP: Exec=$exec is not installed"
    [ "$(desktop_value MimeType)" = "$MEDIA_TYPE;" ] ||
        fail "$DESKTOP: MimeType=$(desktop_value MimeType), not $MEDIA_TYPE;"
    icon=$(desktop_value Icon)
    [ -f "$PREFIX/$ICONS/scalable/apps/$icon.svg" ] || fail "$DESKTOP: no icon $icon installed"
}

# The media type: a well-formed shared-mime-info file that update-mime-database, run into a
# scratch folder as a desktop's does into share/mime, compiles into *.sav -> the type, a
# subclass of text/plain.
check_mime_type() {
    [ -f "$PREFIX/$MIME" ] || fail "no $MIME"
    local report share=$PREFIX/scratch-share
    local database=$share/mime
    python3 - "$PREFIX/$MIME" <<'PY' || fail "$MIME is not a shared-mime-info document"
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
sys.exit(root.tag != "{http://www.freedesktop.org/standards/shared-mime-info}mime-info")
PY
    mkdir -p "$database/packages"
    cp "$PREFIX/$MIME" "$database/packages/"
    # It notes a folder that is not among XDG_DATA_DIRS.
    report=$(XDG_DATA_DIRS=$share update-mime-database "$database" 2>&1) || fail "$MIME: $report"
    [ -z "$report" ] || fail "$MIME: $report"
    grep -qxF "50:$MEDIA_TYPE:*.sav" "$database/globs2" ||
        fail "$MIME: *.sav is not $MEDIA_TYPE: $(cat "$database/globs2")"
    grep -qxF "$MEDIA_TYPE text/plain" "$database/subclasses" ||
        fail "$MIME: $MEDIA_TYPE is not a subclass of text/plain"
    rm -rf "$share"
    echo "ok: $MIME maps *.sav to $MEDIA_TYPE"
}

# The installed program answers --version with this version, on no display at all: it reads
# its command line before it makes its QApplication.
check_program_version() {
    local said
    said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$PREFIX/$BINDIR/doodlechorus" \
        --version 2>&1) || fail "doodlechorus --version failed: $said"
    [ "$said" = "doodlechorus $VERSION" ] || fail "doodlechorus --version says: $said"
    echo "ok: doodlechorus --version without a display"
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

# A man page: gzip -9n (best compression, no stored name or time, so the same bytes every
# build), formats without a warning, its NAME line is what whatis shows for NAME, and its footer
# names this version. As man shows it at 80 columns, no cross-reference runs into the next word
# and no word into a parenthesis (a .BR whose arguments lost their spaces), and SEE ALSO reads
# as SEE_ALSO.
check_man_page() { # NAME SEE_ALSO
    local page=$MANDIR/man1/$1.1.gz report header text see_also
    [ -f "$PREFIX/$page" ] || fail "no $page"
    # Magic, deflate, no flags, time 0, best compression, Unix.
    header=$(head -c 10 "$PREFIX/$page" | od -An -tu1 | tr -s ' ')
    [ "$header" = " 31 139 8 0 0 0 0 0 2 3" ] || fail "$page: not made by gzip -9n (header$header)"
    report=$(zcat "$PREFIX/$page" | groff -man -Tutf8 -ww -z 2>&1) || fail "$page: groff failed: $report"
    [ -z "$report" ] || fail "$page: $report"
    lexgrog "$PREFIX/$page" | grep -qF ": \"$1 - " || fail "$page: no NAME line for whatis"
    zcat "$PREFIX/$page" | grep -qE "^\.TH .* \"DoodleChorus $VERSION\"" || fail "$page: not version $VERSION"
    text=$(MANWIDTH=80 man -l "$PREFIX/$page" 2>&1) || fail "$page: man failed: $text"
    report=$(grep -E '[[:alnum:]-]\([0-9]\)[[:punct:]]*[[:alnum:](]|[[:alpha:]]\([[:alpha:]]' <<<"$text" ||
        true)
    [ -z "$report" ] || fail "$page: words run together: $report"
    see_also=$(awk '/^SEE ALSO$/ { within = 1; next }
        within && /^[^ ]/ { exit }
        within && NF { $1 = $1; print }' <<<"$text")
    [ "$see_also" = "$2" ] || fail "$page: SEE ALSO reads \"$see_also\", not \"$2\""
    echo "ok: $page"
}

# Every option and every file extension the tool's --help lists is in its man page.
check_render_man_page() {
    local page=$MANDIR/man1/doodlechorus-render.1.gz text help word
    text=$(zcat "$PREFIX/$page" | groff -man -Tutf8 -P-cbou)
    help=$("$PREFIX/$BINDIR/doodlechorus-render" --help)
    for word in $(sed -nE 's/^  (--?[a-z][a-z-]*|\.[a-z0-9]+)( .*|$)/\1/p' <<<"$help"); do
        grep -qE -- "(^|[^-.a-z0-9])${word//./\\.}([^-a-z0-9]|$)" <<<"$text" ||
            fail "$page does not mention $word from --help"
    done
    echo "ok: $page covers --help"
}

# The metainfo: valid together with the desktop entry it launches (validate-tree finds it),
# providing programs that are installed, its newest release this version.
check_metainfo() {
    local files
    files=("$PREFIX/$DATADIR"/metainfo/*.metainfo.xml)
    [ ${#files[@]} = 1 ] && [ -f "${files[0]}" ] || fail "not one metainfo file in $DATADIR/metainfo"
    local report
    report=$(appstreamcli validate-tree --no-net "$PREFIX" 2>&1) || fail "metainfo: $report"
    python3 - "${files[0]}" "$PREFIX/$BINDIR" "$VERSION" <<'PY' || fail "${files[0]#"$PREFIX"/}"
import os
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
binaries = [b.text for b in root.iterfind("provides/binary")]
absent = [b for b in binaries if not os.access(os.path.join(sys.argv[2], b), os.X_OK)]
newest = root.find("releases/release")
version = newest.get("version") if newest is not None else None
if not binaries or absent or version != sys.argv[3]:
    sys.exit(f"provides {binaries}, not installed {absent}; newest release {version}")
PY
    echo "ok: ${files[0]#"$PREFIX"/} validates"
}

if [ "$WITH_PROGRAM" = 1 ]; then
    check_executable doodlechorus
    check_program_version
    check_desktop_entry
    check_mime_type
    check_icons
    check_man_page doodlechorus "doodlechorus-render(1)"
    check_metainfo
else
    check_absent "$BINDIR/doodlechorus"
    check_absent "$DESKTOP"
    check_absent "$MIME"
    check_absent "$MANDIR/man1/doodlechorus.1.gz"
fi
if [ "$WITH_TOOL" = 1 ]; then
    check_executable doodlechorus-render
    check_man_page doodlechorus-render "doodlechorus(1), sox(1)"
    check_render_man_page
else
    check_absent "$BINDIR/doodlechorus-render"
    check_absent "$MANDIR/man1/doodlechorus-render.1.gz"
fi
echo "ok: installed into a scratch prefix"
