#!/bin/bash
# Opens a file of several hundred MiB: a progress window comes up over the
# frame, keys typed meanwhile reach no document, and Escape cancels the load,
# which leaves an empty untitled document.
. "$(dirname "$0")/lib.sh"

big="$work/big.html"
yes '<p class="line">Some text &amp; more text in a paragraph</p>' | head -c 900M >"$big"

start_varne
keys ctrl+o
wait_window '^Open File$' >/dev/null || fail "no Open File dialog"
sleep 0.5
type_text "$big"
xdotool key --clearmodifiers Return

# The window comes once the text's room is reserved and the first blocks
# are in, which may take seconds for a file this size.
progress=""
for _ in $(seq 300); do
    progress=$(xdotool search --onlyvisible --name '^Varne$' 2>/dev/null | head -n 1)
    [ -n "$progress" ] && break
    sleep 0.1
done
[ -n "$progress" ] || fail "no progress window during the load; caption '$(caption)'"
xdotool type --delay 10 "typed"
xdotool windowactivate --sync "$progress" 2>/dev/null || true
xdotool key --clearmodifiers Escape

# The load stops: the progress window goes and the caption is untitled.
for _ in $(seq 100); do
    [ "$(caption)" = "Varne - " ] &&
        ! xdotool search --onlyvisible --name '^Varne$' >/dev/null 2>&1 && break
    sleep 0.1
done
[ "$(caption)" = "Varne - " ] || fail "load not cancelled: caption '$(caption)'"
kill -0 "$app" || fail "Varne is gone"

# Nothing of the file and nothing typed stayed: Save As writes an empty file.
xdotool windowactivate --sync "$frame" 2>/dev/null || true
keys alt+f
keys a
wait_window '^Save File$' >/dev/null || fail "no Save File dialog"
sleep 0.5
type_text "$work/after.html"
keys Return
for _ in $(seq 50); do
    [ -e "$work/after.html" ] && break
    sleep 0.1
done
[ -e "$work/after.html" ] || fail "Save As wrote nothing"
[ ! -s "$work/after.html" ] || fail "the document was not empty: $(head -c 80 "$work/after.html")"

keys alt+f
keys x
expect_exit 0
echo "PASS"
