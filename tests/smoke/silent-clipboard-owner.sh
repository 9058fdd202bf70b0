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
open_menu e
close_menu
keys Escape
keys ctrl+v
menu f a
asked() { grep '^question' "$work/owner.log" | grep -cv '^question VARNE_SMOKE_LAST$'; }
wait_active '^Save File$' >/dev/null ||
    fail "no Save File dialog with the focus; Varne asked the clipboard's owner $(asked) times; $(shown_windows)"
type_text "$work/kept.html"
keys Return
wait_file "$work/kept.html" "<p>" || fail "saved: '$(cat "$work/kept.html" 2>/dev/null)'"

menu f x
expect_exit 0
# Every question Varne asked reached the X server before ours, and the owner
# hears them in that order.
xclip -o -selection clipboard -t VARNE_SMOKE_LAST >/dev/null 2>&1 &
stop_at_exit $!
poll 20 grep -q '^question VARNE_SMOKE_LAST$' "$work/owner.log" || fail "the owner did not hear our question"
[ "$(asked)" -eq 1 ] || fail "Varne asked the clipboard's owner $(asked) times, expected once"
echo "PASS"
