#!/bin/bash
# The X server dies under Varne with unsaved text: the text is kept in the home
# folder before the program ends. Runs its own X server, to be able to kill it.
set -u
display_file=$(mktemp /tmp/varne-display-XXXXXX)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
number=$(cat "$display_file")
rm -f "$display_file"
[ -n "$number" ] || { kill $xvfb; echo "FAIL: no X server" >&2; exit 1; }
export DISPLAY=":$number"

. "$(dirname "$0")/lib.sh"
trap 'kill $wm $xvfb 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir "$HOME"

start_varne
type_text "<p>typed before the end</p>"
settle || fail "Varne did not answer a ping"
kill -KILL "$xvfb"
wait "$xvfb" 2>/dev/null
expect_exit 1
copy="$HOME/Untitled.varne-unsaved"
[ "$(cat "$copy" 2>/dev/null)" = "<p>typed before the end</p>" ] ||
    fail "copy holds '$(cat "$copy" 2>/dev/null)'"
grep -qF "$copy" "$work/varne.log" || fail "the copy's path is not on stderr"
echo "PASS"
