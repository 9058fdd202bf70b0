#!/bin/bash
# Text another program copies while Paste is greyed can be pasted with Ctrl+V
# at once, with no menu opened in between.
. "$(dirname "$0")/lib.sh"

start_varne
type_text "<p>"
# Save As, cancelled: a command, after which the menus say that the empty
# clipboard holds nothing to paste.
keys alt+f a
dialog=$(wait_window '^Save File$') || fail "no Save File dialog"
wait_focus "$dialog" || fail "the Save File dialog did not get the focus"
keys Escape
wait_no_window '^Save File$' || fail "the Save File dialog stayed"
wait_focus "$frame" || fail "the Varne window did not get the focus back"

printf 'from xclip' | xclip -selection clipboard -quiet >"$work/xclip.log" 2>&1 &
stop_at_exit $!
clipboard_holds() { [ "$(xclip -selection clipboard -o 2>/dev/null)" = "$1" ]; }
poll 20 clipboard_holds 'from xclip' || fail "xclip did not take the clipboard"
# Ctrl+V is pressed at the earliest moment it can work: Varne asks the new
# owner what it offers when it hears of it, so once it has handled its events
# its question is on its way to xclip; xclip answers questions in turn, so
# once it has answered one more, its answer to Varne is on its way to Varne,
# ahead of the key press.
sync_varne || fail "Varne did not answer a ping"
clipboard_holds 'from xclip' || fail "xclip stopped answering"

keys ctrl+v
keys alt+f a
dialog=$(wait_window '^Save File$') || fail "no Save File dialog"
wait_focus "$dialog" || fail "the Save File dialog did not get the focus"
type_text "$work/pasted.html"
keys Return
wait_file "$work/pasted.html" "<p>from xclip" || fail "saved: '$(cat "$work/pasted.html" 2>/dev/null)'"

keys alt+f x
expect_exit 0
echo "PASS"
