#!/bin/bash
# Killed with SIGKILL, Varne keeps the typing it had flushed to its journal:
# started again on the file, it offers the changes back, Return recovers
# them, and saved they are the file, byte for byte; the journal then goes.
. "$(dirname "$0")/lib.sh"

journals="$HOME/.local/state/varne"
printf '<p>saved</p>\r\n' >"$work/page.html"
printf '<i>pasted</i>' >"$work/pasted"
printf '<p>saved</p>\r\n<b>typed</b>\r\n<i>pasted</i>' >"$work/expected.html"

start_varne
open_file "$work/page.html"
keys ctrl+End
type_text "<b>typed</b>"
keys Return
# Pasted in one piece, the text reaches the journal in one piece, after
# everything typed before it.
clipboard_from_xclip "$work/pasted"
keys ctrl+v
journal_holds() { grep -qF "<i>pasted</i>" "$journals"/*.journal 2>/dev/null; }
poll 20 journal_holds || fail "the paste never reached a journal in $journals"
kill -KILL "$app"
wait "$app" 2>/dev/null

"$VARNE" "$work/page.html" >"$work/varne.log" 2>&1 &
app=$!
frame=$(wait_window '^Varne - ') || fail "no Varne window; $(shown_windows)"
wait_active '^Varne$' >/dev/null || fail "the kept changes were not offered; $(shown_windows)"
keys Return
wait_caption "Varne - $work/page.html" || fail "not opened: caption '$(caption)'; $(shown_windows)"
wait_focus "$frame" || fail "the Varne window did not get the focus back; $(shown_windows)"
keys ctrl+s
saved() { cmp -s "$work/page.html" "$work/expected.html"; }
poll 20 saved || fail "the file holds '$(cat -A "$work/page.html")'"
no_journal() { ! ls "$journals"/*.journal >/dev/null 2>&1; }
poll 20 no_journal || fail "the journal is still there after the save: $(ls "$journals")"
echo "PASS"
