#!/bin/bash
# A slow load shows a progress window over the frame and takes no edits: keys
# typed into the frame meanwhile reach no document, and the whole file arrives.
# Escape in the progress window cancels a load, which leaves an empty untitled
# document.
#
# The file reads slowly for as long as the test holds it (slow-reads.cpp), as
# from a slow disk, so each load lasts as long as the test needs on any machine.
. "$(dirname "$0")/lib.sh"

big="$work/big.html"
hold="$work/hold"
yes '<p class="line">Some text &amp; more text in a paragraph</p>' | head -c 8M >"$big"

start_varne LD_PRELOAD="$HELPERS/slow-reads.so" SLOW_READS_FILE="$big" SLOW_READS_HOLD="$hold" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

# A load that runs to its end: a click into the frame, away from the progress
# window in its middle, and keys typed there while it runs change nothing.
touch "$hold"
start_open "$big"
wait_window '^Varne$' >/dev/null || fail "no progress window during the load; $(shown_windows)"
xdotool mousemove --window "$frame" 100 200 click 1
type_text "typed"
settle || fail "Varne did not answer a ping"
window_shown '^Varne$' || fail "the load ended while its file was held; $(shown_windows)"
rm "$hold"
wait_no_window '^Varne$' || fail "the progress window stayed after the load; $(shown_windows)"
wait_focus "$frame" || fail "the Varne window did not get the focus back; $(shown_windows)"
save_as "$work/loaded.html"
cmp "$big" "$work/loaded.html" ||
    fail "the document is not the file it loaded: keys typed during the load reached it, or bytes were lost"

# A load cancelled with Escape: nothing of the file stays.
touch "$hold"
start_open "$big"
wait_active '^Varne$' >/dev/null || fail "no progress window with the focus; $(shown_windows)"
keys Escape
wait_caption "Varne - " || fail "the load was not cancelled: caption '$(caption)'; $(shown_windows)"
wait_no_window '^Varne$' || fail "the progress window stayed after the cancel; $(shown_windows)"
wait_focus "$frame" || fail "the Varne window did not get the focus back; $(shown_windows)"
save_as "$work/after.html"
[ ! -s "$work/after.html" ] || fail "the document was not empty: $(head -c 80 "$work/after.html")"

menu f x
expect_exit 0
echo "PASS"
