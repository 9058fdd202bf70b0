#!/bin/sh
# Renders a page and a page minified to one line through Varne's copy of the
# component and through the packaged QScintilla it came from, and compares
# every pixel of every view.
# Usage: same-pixels.sh RENDER-PAGE RENDER-PAGE-PACKAGED PAGE-FILE
set -u
ours=$1
packaged=$2
page=$3
work=$(mktemp -d /tmp/varne-pixels-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Each program must show through the component it names.
if ldd "$ours" | grep -q libqscintilla2 || ! ldd "$packaged" | grep -q libqscintilla2_qt6; then
    echo "FAIL: the two programs do not use the two components" >&2
    exit 1
fi

failed=0
for what in page long-line; do
    if [ "$what" = page ]; then source="$page"; else source=""; fi
    for side in ours packaged; do
        eval program=\$$side
        # shellcheck disable=SC2086 # an empty source is no argument
        "$program" "$what" $source "$work/$what-$side" || { echo "FAIL: $side could not render the $what" >&2; exit 1; }
    done
    views=0
    for image in "$work/$what-ours-"*.png; do
        views=$((views + 1))
        "$ours" compare "$image" "$work/$what-packaged-$views.png" || failed=1
    done
    [ "$views" -eq 6 ] || { echo "FAIL: $views views of the $what instead of 6" >&2; exit 1; }
done
exit $failed
