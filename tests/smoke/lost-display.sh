#!/bin/bash
# The X server dies under Varne with unsaved text: the text is kept in the home
# folder before the program ends.
. "$(dirname "$0")/lib.sh"

start_varne
type_text "<p>typed before the end</p>"
settle || fail "Varne did not answer a ping"
kill -KILL "$xserver"
wait "$xserver" 2>/dev/null
expect_exit 1
copy="$HOME/Untitled.varne-unsaved"
[ "$(cat "$copy" 2>/dev/null)" = "<p>typed before the end</p>" ] ||
    fail "copy holds '$(cat "$copy" 2>/dev/null)'"
grep -qF "$copy" "$work/varne.log" || fail "the copy's path is not on stderr"
echo "PASS"
