#!/bin/bash
# Installs into a temporary DESTDIR and checks the tree, the desktop entry and
# the AppStream metainfo. Usage: install-test.sh BUILD-FOLDER
set -eu
build=$1
dest=$(mktemp -d /tmp/varne-install-XXXXXX)
trap 'rm -rf "$dest"' EXIT

DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
missing=0
for file in bin/varne share/applications/varne.desktop share/metainfo/org.varne.Varne.metainfo.xml \
    share/icons/hicolor/scalable/apps/varne.svg share/pixmaps/varne.xpm share/man/man1/varne.1.gz \
    share/doc/varne/copyright share/doc/varne/changelog.gz; do
    [ -f "$dest/usr/$file" ] || { echo "missing: $file"; missing=1; }
done
for size in 16 32 48 64 128 256; do
    icon="$dest/usr/share/icons/hicolor/${size}x${size}/apps/varne.png"
    [ -f "$icon" ] || { echo "missing: $icon"; missing=1; continue; }
    # the PNG header's width and height
    dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || { echo "$icon is $dims"; missing=1; }
done
[ -x "$dest/usr/bin/varne" ] || { echo "varne is not executable"; missing=1; }
grep -q '^"32 32 16 1",$' "$dest/usr/share/pixmaps/varne.xpm" || { echo "the XPM is not 32x32 in 16 colours"; missing=1; }
[ "$missing" -eq 0 ]

# Hints count too: each one is something a desktop shows wrongly.
validation=$(desktop-file-validate "$dest/usr/share/applications/varne.desktop" 2>&1)
[ -z "$validation" ] || { echo "$validation"; exit 1; }
appstreamcli validate --no-net "$dest/usr/share/metainfo/org.varne.Varne.metainfo.xml"
echo "PASS"
