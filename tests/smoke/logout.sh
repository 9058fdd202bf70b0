#!/bin/bash
# Logging out with unsaved text asks the save question: Cancel calls the
# logout off and keeps the program, No lets it end without writing anything.
# The session manager is a small stand-in ($SESSION_MANAGER_STAND_IN).
. "$(dirname "$0")/lib.sh"

"$SESSION_MANAGER_STAND_IN" "$work/address" >"$work/session.log" 2>&1 &
manager=$!
stop_at_exit $manager
poll 20 test -s "$work/address" || fail "no session manager"
export SESSION_MANAGER=$(cat "$work/address")

# Waits for a line in the session manager's log.
wait_session() {
    poll 20 grep -qx "$1" "$work/session.log" && return 0
    cat "$work/session.log" >&2
    fail "the session manager never saw '$1'"
}

start_varne
wait_session registered
type_text "<p>unsaved</p>"
settle || fail "Varne did not answer a ping"

kill -USR1 "$manager"
wait_active '^Varne$' >/dev/null || fail "no question with the focus at logout; $(shown_windows)"
keys Escape
wait_session "done cancel=1"
# Had Varne been about to end, it would have stopped answering once it had
# handled its events.
settle && kill -0 "$app" 2>/dev/null || fail "Varne ended although the logout was called off"
[ "$(caption)" = "Varne - " ] || fail "caption '$(caption)'"

kill -USR1 "$manager"
wait_active '^Varne$' >/dev/null || fail "no question with the focus at the second logout; $(shown_windows)"
keys n
wait_session "done cancel=0"
expect_exit 0
[ -z "$(ls -A "$HOME" | grep varne-unsaved)" ] || fail "a copy was kept although the answer was No"
echo "PASS"
