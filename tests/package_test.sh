#!/usr/bin/env bash
# Checks the Debian package that make package made, as a Debian user gets it: named for this
# version and architecture; lintian finds no error and no warning; Depends names the package of
# every library the programs link; the newest changelog entry is this version; both programs
# hardened as Debian's own (hardening-check: PIE, stack protector, fortified libc calls, RELRO,
# BIND_NOW); the recordings' media type among its files. Then it installs the package with apt-get
# on this machine, checks the programs, man pages, desktop entry, metainfo and media type (in the
# system's MIME database, which shared-mime-info's trigger updates) where they were installed,
# purges it, and checks that none of its files remain and the media type is gone.
# The installation part is skipped, with a message, where doodlechorus is installed already
# (from elsewhere, or from a run cut short) or any of its files exists outside dpkg's
# knowledge, and where neither root nor sudo is at hand.
# Needs lintian, hardening-check (devscripts), dpkg-dev, objdump (binutils), desktop-file-utils,
# appstream and man-db.
# Usage: package_test.sh PACKAGE_BUILD_DIR
set -euo pipefail

PACKAGE_DIR=$1
NAME=doodlechorus
PROGRAMS=(usr/bin/doodlechorus usr/bin/doodlechorus-render)
MIME=usr/share/mime/packages/doodlechorus.xml
MEDIA_TYPE=application/x-doodlechorus-recording
GLOBS=/usr/share/mime/globs2

WORK=$(mktemp -d /tmp/doodlechorus-package.XXXXXX)
INSTALLED_HERE=0
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi
}
apt_get() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300 "$@" \
        >"$WORK/apt.log" 2>&1 || { cat "$WORK/apt.log" >&2; return 1; }
}
cleanup() {
    # A failed check must not leave the package on the machine.
    if [ "$INSTALLED_HERE" = 1 ]; then apt_get purge "$NAME" || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$PACKAGE_DIR/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $PACKAGE_DIR/CMakeCache.txt"
deb_name=${NAME}_${version}-1_$(dpkg --print-architecture).deb
DEB=$(realpath "$PACKAGE_DIR")/$deb_name
[ -f "$DEB" ] || fail "no $deb_name in $PACKAGE_DIR"
echo "ok: $deb_name, $(stat -c %s "$DEB") bytes"

# Errors and warnings fail; info tags are shown.
lintian --fail-on error,warning --display-info "$DEB" >"$WORK/lintian.log" 2>"$WORK/lintian.err" ||
    fail "lintian:"$'\n'"$(cat "$WORK/lintian.log" "$WORK/lintian.err")"
sed 's/^/lintian: /' "$WORK/lintian.log"
echo "ok: lintian reports no error and no warning"

ROOT=$WORK/root
dpkg-deb -x "$DEB" "$ROOT"

# The newest changelog entry is this package's version: a new version needs its entry.
zcat "$ROOT/usr/share/doc/$NAME/changelog.Debian.gz" >"$WORK/changelog"
changelog_version=$(dpkg-parsechangelog -l "$WORK/changelog" -S Version)
[ "$changelog_version" = "$version-1" ] ||
    fail "the newest entry of changelog.Debian.gz is $changelog_version, not $version-1"
echo "ok: changelog.Debian.gz starts at $version-1"

[ -f "$ROOT/$MIME" ] && grep -qF "type=\"$MEDIA_TYPE\"" "$ROOT/$MIME" ||
    fail "no $MIME with $MEDIA_TYPE in the package"
echo "ok: $MIME in the package"

# Every library a program links directly comes from a package that Depends names.
depends=$(dpkg-deb -f "$DEB" Depends)
# One package name a line, alternatives included.
depended=$(tr ',|' '\n\n' <<<"$depends" | awk 'NF { print $1 }')
for program in "${PROGRAMS[@]}"; do
    for soname in $(objdump -p "$ROOT/$program" | awk '$1 == "NEEDED" { print $2 }'); do
        path=$(ldd "$ROOT/$program" | awk -v so="$soname" '$1 == so { print $3 }')
        [ -n "$path" ] && [ "$path" != "not" ] || fail "$program: $soname not found"
        # /lib is /usr/lib on Debian 12; dpkg knows each file under the name its package gives.
        owner=$(dpkg -S "/usr${path#/usr}" 2>/dev/null || dpkg -S "${path#/usr}" 2>/dev/null) ||
            fail "$program: no package owns $path"
        owner=${owner%%:*}
        grep -qxF "$owner" <<<"$depended" ||
            fail "$program links $soname from $owner, which Depends does not name: $depends"
    done
done
echo "ok: Depends names the packages of every linked library"

# Every feature "yes": PIE, stack protector, fortified libc calls, RELRO and BIND_NOW.
check_hardening() { # BINARY
    local report feature shown=${1#"$ROOT"}
    report=$(hardening-check "$1" 2>&1) || true
    for feature in "Position Independent Executable" "Stack protected" \
        "Fortify Source functions" "Read-only relocations" "Immediate binding"; do
        grep -q "^ $feature: yes" <<<"$report" || fail "$shown not hardened:"$'\n'"$report"
    done
    echo "ok: $shown hardened"
}

# Installing needs root, and must not touch a doodlechorus that is there already.
skip_install=""
if dpkg-query -W -f='${db:Status-Status}' "$NAME" 2>/dev/null | grep -qx installed; then
    skip_install="$NAME $(dpkg-query -W -f='${Version}' "$NAME") is installed already (apt-get purge $NAME to run this part)"
elif [ "$(id -u)" -ne 0 ] && ! sudo -n true 2>/dev/null; then
    skip_install="neither root nor sudo without a password"
fi
# The package's paths: which were there before it (shared folders), and that no file is.
dpkg-deb --fsys-tarfile "$DEB" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' -e '/^$/d' >"$WORK/paths"
: >"$WORK/existing"
while IFS= read -r path; do
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        echo "$path" >>"$WORK/existing"
    elif [ -e "$path" ] || [ -L "$path" ]; then
        [ -n "$skip_install" ] || skip_install="$path is there already, installed from elsewhere"
    fi
done <"$WORK/paths"

if [ -n "$skip_install" ]; then
    echo "skip: installing the package: $skip_install"
    for program in "${PROGRAMS[@]}"; do check_hardening "$ROOT/$program"; done
    echo "ok: the package (not installed)"
    exit 0
fi

apt_get install "$DEB" || fail "apt-get install $DEB failed"
INSTALLED_HERE=1
echo "ok: apt-get install ./$deb_name"

report=$(dpkg --verify "$NAME" 2>&1) && [ -z "$report" ] || fail "installed files differ: $report"
for program in "${PROGRAMS[@]}"; do
    missing=$(ldd "/$program" | grep 'not found' || true)
    [ -z "$missing" ] || fail "/$program lacks libraries: $missing"
    check_hardening "/$program"
done

for program in doodlechorus doodlechorus-render; do
    said=$(env -u DISPLAY -u WAYLAND_DISPLAY "/usr/bin/$program" --version) ||
        fail "$program --version failed"
    [ "$said" = "$program $version" ] || fail "$program --version says: $said"
    echo "ok: $program --version: $said"
done

# man finds the installed pages (a make install under /usr/local may come first).
for page in doodlechorus doodlechorus-render; do
    man -aw "$page" | grep -qx "/usr/share/man/man1/$page.1.gz" ||
        fail "man -w $page does not find /usr/share/man/man1/$page.1.gz"
done
echo "ok: man -w finds both pages"

desktop=/usr/share/applications/$NAME.desktop
report=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$report" ] || fail "$desktop: $report"
echo "ok: $desktop validates"
metainfo=$(grep -x '/usr/share/metainfo/.*\.metainfo\.xml' "$WORK/paths") ||
    fail "no metainfo in the package"
report=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "$metainfo: $report"
echo "ok: $metainfo validates"
if [ -f "$GLOBS" ]; then
    grep -qxF "50:$MEDIA_TYPE:*.sav" "$GLOBS" || fail "$GLOBS does not map *.sav to $MEDIA_TYPE"
    echo "ok: the MIME database maps *.sav to $MEDIA_TYPE"
else
    echo "skip: no $GLOBS (shared-mime-info is not installed)"
fi

dpkg -L "$NAME" >"$WORK/installed"
apt_get purge "$NAME" || fail "apt-get purge $NAME failed"
INSTALLED_HERE=0
status=$(dpkg-query -W -f='${db:Status-Status}' "$NAME" 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = not-installed ] || fail "$NAME is still $status after purge"
while IFS= read -r path; do
    [ "$path" != /. ] || continue
    grep -qxF "$path" "$WORK/existing" && continue
    [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path remains after apt-get purge"
done <"$WORK/installed"
echo "ok: apt-get purge $NAME leaves none of its $(wc -l <"$WORK/installed") paths behind"
if [ -f "$GLOBS" ]; then
    ! grep -qF ":$MEDIA_TYPE:" "$GLOBS" || fail "$GLOBS still has $MEDIA_TYPE after purge"
    echo "ok: the MIME database no longer knows $MEDIA_TYPE"
fi
