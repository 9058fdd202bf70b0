#!/bin/bash
# Opens a file named on the command line (a relative name), finds a word and
# goes to a line, by keyboard alone: what is typed afterwards lands on the
# match and at the line's start, as the saved file shows.
. "$(dirname "$0")/lib.sh"

lines() {
    local i
    for i in $(seq 1 100); do
        case $i in
        40) printf '<p>the needle here</p>\n' ;;
        70) printf '%sline 70\n' "$1" ;;
        *) printf 'line %d\n' "$i" ;;
        esac
    done
}
lines "" >"$work/page.html"

cd "$work" || fail "no work folder"
start_varne_with page.html
wait_caption "Varne - $work/page.html" || fail "caption '$(caption)'"

keys ctrl+f
wait_active '^Find$' >/dev/null || fail "no Find window with the focus; $(shown_windows)"
type_text "needle"
keys Return Escape
wait_focus "$frame" || fail "Escape did not give the focus back; $(shown_windows)"
window_gone '^Find$' || fail "the Find window stayed; $(shown_windows)"
# The match is selected: typing replaces it.
type_text "pin"

keys ctrl+g
wait_active '^Go to Line$' >/dev/null || fail "no Go to Line window with the focus; $(shown_windows)"
keys ctrl+a
type_text "70"
keys Return
wait_focus "$frame" || fail "Go to Line did not give the focus back; $(shown_windows)"
type_text "at "
keys ctrl+s

expected=$(lines "at " | sed 's/the needle here/the pin here/')
wait_file "$work/page.html" "$expected" || fail "saved: $(diff <(echo "$expected") "$work/page.html")"

menu f x
expect_exit 0
echo "PASS"
