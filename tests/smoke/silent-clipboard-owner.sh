#!/bin/bash
# A clipboard owner that never answers, as a hung program, holding the
# clipboard and the primary selection: Varne asks it about each once, when it
# takes them, and never again however often the menus are refreshed, so no
# keystroke waits for it; Paste stays greyed meanwhile, and Shift+Insert and
# the middle button, which paste the clipboard and the primary selection, do
# nothing at once.
. "$(dirname "$0")/lib.sh"

start_varne
"$HELPERS/x-helper" silent-owner >"$work/owner.log" 2>&1 &
stop_at_exit $!
poll 20 grep -q '^question CLIPBOARD TARGETS$' "$work/owner.log" ||
    fail "Varne did not ask what the clipboard offers"
poll 20 grep -q '^question PRIMARY TARGETS$' "$work/owner.log" ||
    fail "Varne did not ask what the primary selection offers"

type_text "<p>"
keys shift+Insert
xdotool mousemove --window "$frame" 300 300 click 2
# Commands, each followed by a refresh of the menus, and the Edit menu opened
# and closed; then Ctrl+V, whose item is greyed.
keys ctrl+a ctrl+z ctrl+y
open_menu e
close_menu
keys Escape
keys ctrl+v
menu f a
# The questions Varne asked about a selection (CLIPBOARD or PRIMARY).
asked() { grep "^question $1 " "$work/owner.log" | grep -cv ' VARNE_SMOKE_LAST$'; }
wait_active '^Save File$' >/dev/null ||
    fail "no Save File dialog with the focus; Varne asked the owner $(asked CLIPBOARD) and $(asked PRIMARY) times; $(shown_windows)"
type_text "$work/kept.html"
keys Return
wait_file "$work/kept.html" "<p>" || fail "saved: '$(cat "$work/kept.html" 2>/dev/null)'"

menu f x
expect_exit 0
# Every question Varne asked reached the X server before ours, and the owner
# hears them in that order.
xclip -o -selection clipboard -t VARNE_SMOKE_LAST >/dev/null 2>&1 &
stop_at_exit $!
poll 20 grep -q '^question CLIPBOARD VARNE_SMOKE_LAST$' "$work/owner.log" ||
    fail "the owner did not hear our question"
[ "$(asked CLIPBOARD)" -eq 1 ] || fail "Varne asked about the clipboard $(asked CLIPBOARD) times, expected once"
[ "$(asked PRIMARY)" -eq 1 ] || fail "Varne asked about the primary selection $(asked PRIMARY) times, expected once"
echo "PASS"
