#!/bin/bash
# Text another program copies while Paste is greyed can be pasted with Ctrl+V
# at once, with no menu opened in between.
. "$(dirname "$0")/lib.sh"

start_varne
type_text "<p>"
# Save As, cancelled: a command, after which the menus say that the empty
# clipboard holds nothing to paste.
menu f a
wait_active '^Save File$' >/dev/null || fail "no Save File dialog with the focus; $(shown_windows)"
keys Escape
wait_no_window '^Save File$' || fail "the Save File dialog stayed; $(shown_windows)"
wait_focus "$frame" || fail "the Varne window did not get the focus back; $(shown_windows)"

# Ctrl+V is pressed at the earliest moment it can work: as soon as Varne has
# xclip's answer to what the clipboard offers.
printf 'from xclip' >"$work/copied.txt"
clipboard_from_xclip "$work/copied.txt"
keys ctrl+v
save_as "$work/pasted.html"
file_holds "$work/pasted.html" "<p>from xclip" || fail "saved: '$(cat "$work/pasted.html" 2>/dev/null)'"

menu f x
expect_exit 0
echo "PASS"
