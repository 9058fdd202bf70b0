#!/bin/bash
# Killed with SIGKILL, Varne keeps the typing it had flushed to its journal:
# started again, opening the file (from the Open dialog, then from the
# command line) offers the changes back, Return recovers them, and saved they
# are the file, byte for byte; the journal then goes.
. "$(dirname "$0")/lib.sh"

journals="$HOME/.local/state/varne"
printf '<p>saved</p>\r\n' >"$work/page.html"
printf '<p>saved</p>\r\n<b>typed</b>\r\n<i>pasted</i><i>more</i>' >"$work/expected.html"

# Pastes the text and waits until it is in the journal: pasted in one piece,
# it reaches the journal in one piece, and after everything typed before it.
paste_and_flush() {
    printf '%s' "$1" >"$work/pasted"
    clipboard_from_xclip "$work/pasted"
    keys ctrl+v
    journal_holds() { grep -qF "$1" "$journals"/*.journal 2>/dev/null; }
    poll 20 journal_holds "$1" || fail "'$1' never reached a journal in $journals"
}

# Answers the offer of the kept changes with Return and waits for the file.
recover() {
    wait_active '^Varne$' >/dev/null || fail "the kept changes were not offered; $(shown_windows)"
    keys Return
    wait_caption "Varne - $work/page.html" || fail "not opened: caption '$(caption)'; $(shown_windows)"
    wait_focus "$frame" || fail "the Varne window did not get the focus back; $(shown_windows)"
}

start_varne
open_file "$work/page.html"
keys ctrl+End
type_text "<b>typed</b>"
keys Return
paste_and_flush "<i>pasted</i>"
kill -KILL "$app"
wait "$app" 2>/dev/null

start_varne
keys ctrl+o
wait_active '^Open File$' >/dev/null || fail "no Open File dialog with the focus; $(shown_windows)"
type_text "$work/page.html"
keys Return
recover
keys ctrl+End
paste_and_flush "<i>more</i>"
kill -KILL "$app"
wait "$app" 2>/dev/null

env "$VARNE" "$work/page.html" >"$work/varne.log" 2>&1 &
app=$!
frame=$(wait_window '^Varne - ') || fail "no Varne window; $(shown_windows)"
recover
keys ctrl+s
saved() { cmp -s "$work/page.html" "$work/expected.html"; }
poll 20 saved || fail "the file holds '$(cat -A "$work/page.html")'"
no_journal() { ! ls "$journals"/*.journal >/dev/null 2>&1; }
poll 20 no_journal || fail "the journal is still there after the save: $(ls "$journals")"
echo "PASS"
