# Helpers for driving the real binary in a real X server with real key presses.
# Each script runs inside xvfb-run; the binary is $VARNE.

set -u
work=$(mktemp -d /tmp/varne-smoke-XXXXXX)
trap 'kill $wm 2>/dev/null; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

openbox >/dev/null 2>&1 &
wm=$!
sleep 0.5

fail() {
    echo "FAIL: $*" >&2
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null
    exit 1
}

# Starts the editor and waits for its frame; sets $app and $frame.
start_varne() {
    "$VARNE" >"$work/varne.log" 2>&1 &
    app=$!
    frame=$(xdotool search --sync --onlyvisible --name '^Varne - ' | head -n 1) ||
        fail "no Varne window"
    xdotool windowactivate --sync "$frame" 2>/dev/null || true
    sleep 0.5
}

caption() { xdotool getwindowname "$frame"; }

# Waits for a visible window whose name matches the pattern.
wait_window() {
    for _ in $(seq 50); do
        w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}

# Waits for the editor to exit and checks its status.
expect_exit() {
    for _ in $(seq 50); do
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$app" 2>/dev/null && fail "Varne did not exit"
    wait "$app"
    status=$?
    [ "$status" -eq "$1" ] || { cat "$work/varne.log" >&2; fail "exit status $status, expected $1"; }
}

keys() { xdotool key --clearmodifiers --delay 60 "$@"; sleep 0.3; }
type_text() { xdotool type --delay 30 "$1"; sleep 0.3; }
