#!/bin/bash
# A clipboard owner that never answers, as a hung program: Varne asks it once,
# when it takes the clipboard, and never again however often the menus are
# refreshed, so no keystroke waits for it; Paste stays greyed meanwhile.
. "$(dirname "$0")/lib.sh"

start_varne
"$HELPERS/x-helper" silent-owner >"$work/owner.log" 2>&1 &
stop_at_exit $!
poll 20 grep -q '^question TARGETS$' "$work/owner.log" || fail "Varne did not ask what the clipboard offers"

type_text "<p>"
# Commands, each followed by a refresh of the menus, and the Edit menu opened
# and closed; then Ctrl+V, whose item is greyed.
keys ctrl+a ctrl+z ctrl+y
keys alt+e Escape Escape
keys ctrl+v
keys alt+f a
asked() { grep -c '^question' "$work/owner.log"; }
dialog=$(wait_window '^Save File$') || fail "no Save File dialog; Varne asked the clipboard's owner $(asked) times"
[ "$(asked)" -eq 1 ] || fail "Varne asked the clipboard's owner $(asked) times"

wait_focus "$dialog" || fail "the Save File dialog did not get the focus"
type_text "$work/kept.html"
keys Return
wait_file "$work/kept.html" "<p>" || fail "saved: '$(cat "$work/kept.html" 2>/dev/null)'"

keys alt+f x
expect_exit 0
echo "PASS"
