# Helpers for driving the real binary in a real X server with real key presses.
# Each script gets an X server of its own ($xserver, which it may kill) with a
# window manager; the binary is $VARNE and the test helpers' folder $HELPERS.
#
# Nothing here sleeps for a fixed time: a step that needs something (the window
# manager, a window, the keyboard focus, a file, a caption, the end of the
# process) polls for it, with a generous upper bound. Key presses reach the
# program in order, so keys and typed text need no wait of their own; wait
# for their effect before checking it or before typing into a new window.

set -u
work=$(mktemp -d /tmp/varne-smoke-XXXXXX)
# A home of its own, where Qt keeps the file dialog's history and Varne its
# copies of unsaved text, so that no test touches the user's files or sees
# what an earlier one left.
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME
# Nor does Varne join the session, session bus or screen reader of a desktop
# the tests run from; it starts a bus of its own for its own X server.
unset SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
mkdir "$HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Processes that end with the script, the last started first.
background=()
stop_at_exit() { background=("$1" "${background[@]}"); }
trap 'kill "${background[@]}" 2>/dev/null; rm -rf "$work"' EXIT

# Runs a command every 50 ms until it succeeds, for at most SECONDS seconds.
# Usage: poll SECONDS COMMAND [ARGUMENT...]
poll() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.05
    done
}

fail() {
    echo "FAIL: $*" >&2
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null
    exit 1
}

# Xvfb picks a free display itself, so that scripts running at the same time
# never race for one, and writes its number once it takes connections. By
# default an X server starts over whenever its last client leaves, and a
# client that connects meanwhile is turned away: the checks below connect and
# leave before the window manager connects, so the server must not start over.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xserver=$!
stop_at_exit $xserver
poll 20 test -s "$work/display" || fail "Xvfb gave no display number"
export DISPLAY=":$(cat "$work/display")"
# It writes the number once it listens, which is not yet once it answers.
x_answers() { xdotool getdisplaygeometry >/dev/null 2>&1; }
poll 20 x_answers || fail "Xvfb on $DISPLAY does not answer"

# The window manager says how many desktops there are once it manages the screen.
wm_ready() { xdotool get_num_desktops >/dev/null 2>&1; }
openbox >"$work/openbox.log" 2>&1 &
stop_at_exit $!
poll 20 wm_ready || fail "openbox did not start: $(cat "$work/openbox.log")"

# The first visible window whose name matches the pattern, if any.
find_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(find_window "$1")" ]; }

# Waits for a visible window whose name matches the pattern and prints its id.
wait_window() {
    poll "${2:-20}" window_shown "$1" || return 1
    find_window "$1"
}

# Waits until no visible window's name matches the pattern.
window_gone() { ! window_shown "$1"; }
wait_no_window() { poll "${2:-20}" window_gone "$1"; }

# The names of the visible windows and of the one with the keyboard focus, to
# say in a failure what was on the screen.
shown_windows() {
    local window names=""
    for window in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        names="$names '$(xdotool getwindowname "$window" 2>/dev/null)'"
    done
    echo "windows shown:${names:- none}; focus on '$(xdotool getwindowfocus getwindowname 2>/dev/null)'"
}

# Waits until the window has the keyboard focus, so that keys go to it.
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
wait_focus() { poll "${2:-20}" has_focus "$1"; }

# Waits for a visible window whose name matches the pattern to have the
# keyboard focus, and prints its id.
wait_active() {
    local window
    window=$(wait_window "$1") || return 1
    wait_focus "$window" || return 1
    echo "$window"
}

# Asks the window manager to bring the window to the front and waits for the focus.
activate() {
    xdotool windowactivate "$1" 2>/dev/null
    wait_focus "$1"
}

# Starts the editor and waits for its frame to have the focus; sets $app and
# $frame. Arguments are NAME=VALUE settings for its environment.
start_varne() {
    env "$@" "$VARNE" >"$work/varne.log" 2>&1 &
    app=$!
    frame=$(wait_window '^Varne - ') || fail "no Varne window; $(shown_windows)"
    activate "$frame" || fail "the Varne window did not get the focus; $(shown_windows)"
}

# Starts the editor on the command line's arguments, as `varne ARGUMENT...`
# from the current folder, and waits for its frame to have the focus.
start_varne_with() {
    "$VARNE" "$@" >"$work/varne.log" 2>&1 &
    app=$!
    frame=$(wait_window '^Varne - ') || fail "no Varne window; $(shown_windows)"
    activate "$frame" || fail "the Varne window did not get the focus; $(shown_windows)"
}

caption() { xdotool getwindowname "$frame"; }

# Returns once Varne has handled every X event it had been sent so far (what
# it does with key presses among them may still be finishing).
sync_varne() { "$HELPERS/x-helper" ping "$frame"; }

# Returns once Varne has also acted on those events: the second answer comes
# only after the event loop has gone round once more, by which time the keys
# the first one followed have reached the editor.
settle() { sync_varne && sync_varne; }

# Waits for the caption to read exactly the text.
caption_is() { [ "$(caption)" = "$1" ]; }
wait_caption() { poll "${2:-20}" caption_is "$1"; }

# Waits for the file to hold exactly the text.
file_holds() { [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]; }
wait_file() { poll "${3:-20}" file_holds "$1" "$2"; }

# Opens the file through Ctrl+O and the Open File dialog; returns once the
# caption names it, which it does before the first byte is read.
start_open() {
    keys ctrl+o
    wait_active '^Open File$' >/dev/null || fail "no Open File dialog with the focus; $(shown_windows)"
    type_text "$1"
    keys Return
    wait_caption "Varne - $1" || fail "$1 not opened: caption '$(caption)'; $(shown_windows)"
}

# Opens the file and waits for the frame to have the focus back, for the keys
# that follow.
open_file() {
    start_open "$1"
    wait_focus "$frame" || fail "the Varne window did not get the focus back; $(shown_windows)"
}

# Saves the document under the path through File > Save As, replacing any name
# the dialog proposes; returns once the caption names it, which it does only
# once the file is written whole, and the frame has the focus back.
save_as() {
    menu f a
    wait_active '^Save File$' >/dev/null || fail "no Save File dialog with the focus; $(shown_windows)"
    keys ctrl+a
    type_text "$1"
    keys Return
    wait_caption "Varne - $1" || fail "not saved as $1: caption '$(caption)'; $(shown_windows)"
    wait_focus "$frame" || fail "the Varne window did not get the focus back; $(shown_windows)"
}

# Another program, xclip, takes the clipboard with the file's bytes; returns
# once Varne has its answer to what the clipboard offers. Varne asks a new
# owner as soon as it hears of it, so once it has handled its events its
# question is on its way to xclip; xclip answers questions in turn, so once it
# has answered one more, its answer to Varne is on its way to Varne, ahead of
# any key pressed afterwards.
clipboard_holds() { xclip -o -selection clipboard 2>/dev/null | cmp -s - "$1"; }
clipboard_from_xclip() {
    xclip -quiet -selection clipboard -i "$1" >/dev/null 2>&1 &
    stop_at_exit $!
    poll 20 clipboard_holds "$1" || fail "xclip did not take the clipboard"
    sync_varne || fail "Varne did not answer a ping"
    clipboard_holds "$1" || fail "xclip stopped answering"
}

# Waits for the editor to exit and checks its status.
app_gone() { ! kill -0 "$app" 2>/dev/null; }
expect_exit() {
    poll 20 app_gone || fail "Varne did not exit; $(shown_windows)"
    wait "$app"
    status=$?
    [ "$status" -eq "$1" ] || { cat "$work/varne.log" >&2; fail "exit status $status, expected $1"; }
}

keys() { xdotool key --clearmodifiers --delay 12 "$@"; }

# Varne's windows on the screen: the frame, and a menu or a dialog while one is
# open. An open menu holds the keyboard: keys the X server sends it while it
# closes are lost, and a letter sent before it opens goes to the editor.
varne_windows() { xdotool search --onlyvisible --class '^varne$' 2>/dev/null | wc -l; }
more_windows_than() { [ "$(varne_windows)" -gt "$1" ]; }
windows_at_most() { [ "$(varne_windows)" -le "$1" ]; }

# Opens a menu of the menu bar by its letter (Alt+letter) and waits for it.
open_menu() {
    menu_below=$(varne_windows)
    keys "alt+$1"
    poll 20 more_windows_than "$menu_below" || fail "the menu alt+$1 did not open; $(shown_windows)"
}

# Chooses an item of the menu by its letter, once the menu is on the screen.
menu() {
    open_menu "$1"
    keys "$2"
}

# Closes the open menu with Escape and waits until it has let the keyboard go.
close_menu() {
    keys Escape
    poll 20 windows_at_most "$menu_below" || fail "the menu stayed open; $(shown_windows)"
}
type_text() { xdotool type --delay 6 "$1"; }
