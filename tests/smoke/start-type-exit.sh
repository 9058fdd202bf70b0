#!/bin/bash
# Starts Varne, checks that it is the process it seems to be, types into it,
# and leaves through File > Exit.
. "$(dirname "$0")/lib.sh"

start_varne
[ "$(caption)" = "Varne - " ] || fail "caption '$(caption)'"

# The process keeps its name and its environment: ps, top and pgrep see
# varne, and the children it starts get the environment it was given.
[ "$(cat "/proc/$app/comm")" = varne ] || fail "process name '$(cat "/proc/$app/comm")'"
pgrep -x varne | grep -qx "$app" || fail "pgrep -x varne does not find $app"
given=$(env | grep '^GLIBC_TUNABLES=' || true)
seen=$(tr '\0' '\n' <"/proc/$app/environ" | grep '^GLIBC_TUNABLES=' || true)
[ "$seen" = "$given" ] || fail "environment changed: '$seen' where '$given' was given"
# Window managers pair the window with varne.desktop by its class.
xdotool search --class '^varne$' | grep -qx "$frame" || fail "window class is not varne"

type_text "<p>typed</p>"

# File > Exit from the keyboard; the text is unsaved, so answer No.
menu f x
wait_active '^Varne$' >/dev/null || fail "no question with the focus before exit; $(shown_windows)"
keys n
expect_exit 0
echo "PASS"
