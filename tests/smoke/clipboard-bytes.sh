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

# Whether the clipboard offers exactly the bytes of the file in the format.
clipboard_offers() { xclip -o -selection clipboard -t "$2" 2>/dev/null | cmp -s - "$1"; }

# The file has been written since its modification time was $2, and holds the
# bytes of the file $3.
saved_as() { [ "$(stat -c %Y "$1")" != "$2" ] && cmp -s "$1" "$3"; }

start_varne
open_file "$work/mixed.html"

keys ctrl+a ctrl+x
# On the X clipboard: the exact bytes under our type for another Varne, and
# text (each byte that is not UTF-8 replaced) for every other program.
poll 20 clipboard_offers "$work/original.html" application/x-varne-bytes ||
    fail "the clipboard does not offer the file's bytes; it offers: $(xclip -o -selection clipboard -t TARGETS 2>&1 | tr '\n' ' ')"
python3 - "$work/original.html" >"$work/original.txt" <<'PY'
import sys
sys.stdout.buffer.write(open(sys.argv[1], "rb").read().decode("utf-8", "replace").encode("utf-8"))
PY
clipboard_offers "$work/original.txt" UTF8_STRING || fail "the clipboard's text differs from the file's, each byte that is not UTF-8 replaced"
before=$(stat -c %Y "$work/mixed.html")
keys ctrl+v ctrl+s
if ! poll 20 saved_as "$work/mixed.html" "$before" "$work/original.html"; then
    [ "$(stat -c %Y "$work/mixed.html")" != "$before" ] || fail "Ctrl+S saved nothing"
    cmp "$work/original.html" "$work/mixed.html"
    fail "cut, paste, save changed the bytes"
fi

# Select All made the whole text the primary selection; the middle button
# pastes it into a new, empty document.
keys ctrl+a ctrl+n
wait_caption "Varne - " || fail "no new document: caption '$(caption)'; $(shown_windows)"
xdotool mousemove --window "$frame" 400 300 click 2
save_as "$work/middle.html"
cmp "$work/original.html" "$work/middle.html" || fail "the middle button changed the bytes"

# Another program's text, NUL and CRLF in it, pasted into a new document.
printf 'from\0other\r\nprogram\n' >"$work/other.txt"
keys ctrl+n
wait_caption "Varne - " || fail "no new document: caption '$(caption)'; $(shown_windows)"
clipboard_from_xclip "$work/other.txt"
keys ctrl+v
save_as "$work/other.html"
cmp "$work/other.txt" "$work/other.html" || fail "another program's text changed"

menu f x
expect_exit 0
echo "PASS"
