#!/bin/bash
# Builds the Debian package and checks it as a packager would (lintian, the
# copyright file, the changelog, a stripped binary, the desktop metadata),
# installs it with dpkg, starts the installed varne in a real X server and
# leaves through File > Exit, then removes the package.
# Usage: package-test.sh BUILD-FOLDER SOURCE-FOLDER
set -eu
build=$1
source=$2
if [ "$(id -u)" -ne 0 ] ||
    dpkg-query -W -f='${Status}' varne 2>/dev/null | grep -q "install ok installed"; then
    echo "SKIP: needs root, and no varne package installed already"
    exit 77
fi
out=$(mktemp -d /tmp/varne-package-XXXXXX)
trap 'dpkg -P varne >/dev/null 2>&1; rm -rf "$out"' EXIT

(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The component is built into the binary, not taken from Debian's QScintilla.
case "$depends" in *libqscintilla2*) echo "depends on Debian's QScintilla"; exit 1 ;; esac
case "$depends" in *libqt6widgets6*) ;; *) echo "no Qt 6 widgets dependency"; exit 1 ;; esac

# lintian's errors fail the test; its warnings and notes are shown.
lintian --display-info --tag-display-limit 0 --fail-on error "$deb" >"$out/lintian" 2>&1 && linted=0 || linted=$?
grep -v '^running with root' "$out/lintian" || true
[ "$linted" -eq 0 ] || { echo "lintian found errors"; exit 1; }

dpkg -i "$deb" >/dev/null
[ -x /usr/bin/varne ] && [ -f /usr/share/applications/varne.desktop ]

doc=/usr/share/doc/varne
head -n 1 "$doc/copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    { echo "the copyright file is not machine-readable"; exit 1; }
grep -qx 'License: GPL-3.0-or-later' "$doc/copyright" || { echo "no GPL-3.0-or-later in copyright"; exit 1; }
for bundled in 'Files: qscintilla/src/\*' 'Files: qscintilla/scintilla/\*' 'License: Scintilla'; do
    grep -qx "$bundled" "$doc/copyright" || { echo "the copyright file lacks '$bundled'"; exit 1; }
done
zcat "$doc/changelog.gz" >"$out/changelog"
[ "$(dpkg-parsechangelog -l "$out/changelog" -S Version)" = "$(dpkg-deb -f "$deb" Version)" ] ||
    { echo "the changelog's version is not the package's"; exit 1; }
file -L /usr/bin/varne | grep -q ', stripped' || { echo "the binary is not stripped"; exit 1; }
validation=$(desktop-file-validate /usr/share/applications/varne.desktop 2>&1)
[ -z "$validation" ] || { echo "$validation"; exit 1; }
appstreamcli validate --no-net /usr/share/metainfo/org.varne.Varne.metainfo.xml
# No placeholder web address anywhere in what is installed, compressed or not.
for installed in $(dpkg -L varne); do
    [ -f "$installed" ] || continue
    if zcat -f "$installed" | grep -aqE 'example\.(org|com|net)'; then
        echo "placeholder web address in $installed"
        exit 1
    fi
done
VARNE=/usr/bin/varne QT_QPA_PLATFORM=xcb "$source/tests/smoke/start-type-exit.sh"
