#!/bin/bash
# Types text, saves it through the real Save As dialog, then checks that New
# asks before unsaved changes go and that Cancel keeps them.
. "$(dirname "$0")/lib.sh"

start_varne
type_text "<b>first</b>"

keys alt+f
keys a
dialog=$(wait_window '^Save File$') || fail "no Save File dialog"
sleep 0.5
type_text "$work/saved.html"
keys Return
sleep 0.5
[ "$(cat "$work/saved.html" 2>/dev/null)" = "<b>first</b>" ] || fail "bytes on disk: '$(cat "$work/saved.html" 2>/dev/null)'"
[ "$(caption)" = "Varne - $work/saved.html" ] || fail "caption '$(caption)'"

type_text " more"
keys ctrl+n
wait_window '^Varne$' >/dev/null || fail "no question before New"
keys Escape
sleep 0.3
[ "$(caption)" = "Varne - $work/saved.html" ] || fail "New went ahead: caption '$(caption)'"

# The kept text is still there: Ctrl+S writes it all.
xdotool windowactivate --sync "$frame" 2>/dev/null || true
keys ctrl+s
[ "$(cat "$work/saved.html")" = "<b>first</b> more" ] || fail "after Ctrl+S: '$(cat "$work/saved.html")'"

keys alt+f
keys x
expect_exit 0
echo "PASS"
