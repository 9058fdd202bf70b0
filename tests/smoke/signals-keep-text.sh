#!/bin/bash
# Unsaved text survives SIGTERM and SIGHUP: an untitled document goes to the
# home folder (here while the save question is open) and to the recovery
# journal, a file's text beside the file, the file itself untouched, and the
# program ends by the signal that asked it to.
. "$(dirname "$0")/lib.sh"

start_varne
type_text "<p>never saved</p>"
keys ctrl+n
wait_window '^Varne$' >/dev/null || fail "no question before New; $(shown_windows)"
kill -TERM "$app"
expect_exit 143
copy="$HOME/Untitled.varne-unsaved"
[ "$(cat "$copy" 2>/dev/null)" = "<p>never saved</p>" ] || fail "copy holds '$(cat "$copy" 2>/dev/null)'"
grep -qF "$copy" "$work/varne.log" || fail "the copy's path is not on stderr"

# The journal got the text too: started again, Varne offers it back, and
# once discarded it is gone.
env "$VARNE" >"$work/varne.log" 2>&1 &
app=$!
wait_active '^Varne$' >/dev/null || fail "the untitled text was not offered back; $(shown_windows)"
keys alt+d
wait_no_window '^Varne$' || fail "the question stayed; $(shown_windows)"
frame=$(wait_window '^Varne - ') || fail "no Varne window; $(shown_windows)"
activate "$frame" || fail "the Varne window did not get the focus; $(shown_windows)"
journal_gone() { [ ! -e "$HOME/.local/state/varne/untitled.journal" ]; }
poll 20 journal_gone || fail "the discarded journal is still there"
kill -TERM "$app"
expect_exit 143

printf 'saved' >"$work/page.html"
start_varne
open_file "$work/page.html"
type_text "edit "
settle || fail "Varne did not answer a ping"
kill -HUP "$app"
expect_exit 129
[ "$(cat "$work/page.html")" = "saved" ] || fail "the file was written: '$(cat "$work/page.html")'"
[ "$(cat "$work/page.html.varne-unsaved" 2>/dev/null)" = "edit saved" ] ||
    fail "copy holds '$(cat "$work/page.html.varne-unsaved" 2>/dev/null)'"
echo "PASS"
