#!/bin/bash
# Types text, saves it through the real Save As dialog, then checks that New
# asks before unsaved changes go and that Cancel keeps them.
. "$(dirname "$0")/lib.sh"

start_varne
type_text "<b>first</b>"

keys alt+f a
dialog=$(wait_window '^Save File$') || fail "no Save File dialog"
wait_focus "$dialog" || fail "the Save File dialog did not get the focus"
type_text "$work/saved.html"
keys Return
wait_file "$work/saved.html" "<b>first</b>" || fail "bytes on disk: '$(cat "$work/saved.html" 2>/dev/null)'"
wait_caption "Varne - $work/saved.html" || fail "caption '$(caption)'"

type_text " more"
keys ctrl+n
question=$(wait_window '^Varne$') || fail "no question before New"
wait_focus "$question" || fail "the question did not get the focus"
keys Escape
wait_no_window '^Varne$' || fail "the question stayed"
[ "$(caption)" = "Varne - $work/saved.html" ] || fail "New went ahead: caption '$(caption)'"

# The kept text is still there: Ctrl+S writes it all.
activate "$frame" || fail "the Varne window did not get the focus back"
keys ctrl+s
wait_file "$work/saved.html" "<b>first</b> more" || fail "after Ctrl+S: '$(cat "$work/saved.html")'"

keys alt+f x
expect_exit 0
echo "PASS"
