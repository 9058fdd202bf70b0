#!/bin/bash
# Starts Varne, types into it, and leaves through File > Exit.
. "$(dirname "$0")/lib.sh"

start_varne
[ "$(caption)" = "Varne - " ] || fail "caption '$(caption)'"

type_text "<p>typed</p>"

# File > Exit from the keyboard; the text is unsaved, so answer No.
keys alt+f x
question=$(wait_window '^Varne$') || fail "no question before exit"
wait_focus "$question" || fail "the question did not get the focus"
keys n
expect_exit 0
echo "PASS"
