#!/bin/bash
# Byte-exact clipboard through real key presses in a real X server. A file of
# mixed line ends, NULs, bytes that are not UTF-8 and every byte value goes
# through Select All, Cut, Paste, Save and must come back byte for byte; then
# the same bytes pasted with the middle button from the primary selection into
# a new document; then another program's text holding a NUL.
. "$(dirname "$0")/lib.sh"

python3 - "$work/original.html" <<'PY'
import sys
data = b"<p>CRLF\r\nCR\rLF\nNUL\0 \xff\xfe\xc3\x28 \r\r\n\n\r" + bytes(range(256)) * 2 + b"\r\n</p>"
open(sys.argv[1], "wb").write(data)
PY
cp "$work/original.html" "$work/mixed.html"
touch -d '2001-01-01' "$work/mixed.html"

# Polls until the file exists and differs in modification time from $2.
wait_saved() {
    for _ in $(seq 100); do
        [ -e "$1" ] && [ "$(stat -c %Y "$1")" != "$2" ] && return 0
        sleep 0.1
    done
    return 1
}

wait_caption() {
    for _ in $(seq 50); do
        [ "$(caption)" = "$1" ] && return 0
        sleep 0.1
    done
    fail "caption '$(caption)', expected '$1'"
}

save_as() {
    keys alt+f
    keys a
    wait_window '^Save File$' >/dev/null || fail "no Save File dialog"
    type_text "$1"
    keys Return
    wait_saved "$1" "" || fail "nothing saved to $1"
}

start_varne
keys ctrl+o
wait_window '^Open File$' >/dev/null || fail "no Open File dialog"
type_text "$work/mixed.html"
keys Return
wait_caption "Varne - $work/mixed.html"

before=$(stat -c %Y "$work/mixed.html")
keys ctrl+a
keys ctrl+x
# On the X clipboard: the exact bytes under our type for another Varne, and
# text (each byte that is not UTF-8 replaced) for every other program.
xclip -o -selection clipboard -t application/x-varne-bytes > "$work/clip.bin" ||
    fail "no bytes on the clipboard"
cmp "$work/original.html" "$work/clip.bin" || fail "the clipboard's bytes differ"
xclip -o -selection clipboard -t UTF8_STRING > "$work/clip.txt" || fail "no text on the clipboard"
python3 - "$work/original.html" "$work/clip.txt" <<'PY' || fail "the clipboard's text differs"
import sys
original, text = (open(name, "rb").read() for name in sys.argv[1:])
sys.exit(text != original.decode("utf-8", "replace").encode("utf-8"))
PY
keys ctrl+v
keys ctrl+s
wait_saved "$work/mixed.html" "$before" || fail "Ctrl+S saved nothing"
cmp "$work/original.html" "$work/mixed.html" || fail "cut, paste, save changed the bytes"

# Select All made the whole text the primary selection; the middle button
# pastes it into a new, empty document.
keys ctrl+a
keys ctrl+n
wait_caption "Varne - "
xdotool mousemove --window "$frame" 400 300 click 2
save_as "$work/middle.html"
cmp "$work/original.html" "$work/middle.html" || fail "the middle button changed the bytes"

# Another program's text, NUL and CRLF in it, pasted into a new document.
printf 'from\0other\r\nprogram\n' > "$work/other.txt"
xclip -quiet -selection clipboard -i "$work/other.txt" >/dev/null 2>&1 &
xclip_pid=$!
for _ in $(seq 50); do
    xclip -o -selection clipboard 2>/dev/null | cmp -s - "$work/other.txt" && break
    sleep 0.1
done
keys ctrl+n
wait_caption "Varne - "
keys ctrl+v
save_as "$work/other.html"
kill "$xclip_pid" 2>/dev/null
cmp "$work/other.txt" "$work/other.html" || fail "another program's text changed"

keys alt+f
keys x
expect_exit 0
echo "PASS"
