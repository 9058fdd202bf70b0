#!/bin/bash
# Builds the Debian package, installs it with dpkg, starts the installed varne
# in a real X server and leaves through File > Exit, then removes the package.
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
case "$depends" in *libqscintilla2-qt6*) ;; *) echo "no QScintilla dependency"; exit 1 ;; esac
case "$depends" in *libqt6widgets6*) ;; *) echo "no Qt 6 widgets dependency"; exit 1 ;; esac

dpkg -i "$deb" >/dev/null
[ -x /usr/bin/varne ] && [ -f /usr/share/applications/varne.desktop ]
VARNE=/usr/bin/varne QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$source/tests/smoke/start-type-exit.sh"
