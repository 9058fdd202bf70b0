#!/bin/bash
# Types text, saves it through the real Save As dialog, then checks that New
# asks before unsaved changes go and that Cancel keeps them.
. "$(dirname "$0")/lib.sh"

start_varne
type_text "<b>first</b>"

save_as "$work/saved.html"
wait_file "$work/saved.html" "<b>first</b>" || fail "bytes on disk: '$(cat "$work/saved.html" 2>/dev/null)'"

type_text " more"
keys ctrl+n
wait_active '^Varne$' >/dev/null || fail "no question with the focus before New; $(shown_windows)"
keys Escape
wait_no_window '^Varne$' || fail "the question stayed; $(shown_windows)"
# Whatever New was to do after the answer is done once the events are handled.
settle || fail "Varne did not answer a ping"
[ "$(caption)" = "Varne - $work/saved.html" ] || fail "New went ahead: caption '$(caption)'"

# The kept text is still there: Ctrl+S writes it all.
activate "$frame" || fail "the Varne window did not get the focus back; $(shown_windows)"
keys ctrl+s
wait_file "$work/saved.html" "<b>first</b> more" || fail "after Ctrl+S: '$(cat "$work/saved.html")'"

menu f x
expect_exit 0
echo "PASS"
