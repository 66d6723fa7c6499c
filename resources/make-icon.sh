#!/bin/bash
# Builds the program icon app.ico from its text source app-icon.txt.
#
#   bash resources/make-icon.sh [SOURCE [OUTPUT]]
#
# SOURCE defaults to app-icon.txt and OUTPUT to app.ico, both beside this
# script.  Needs only bash and a POSIX awk.  The output depends on the source
# alone (no dates, no locale), so a rerun gives the same bytes and the
# committed app.ico can be checked with:  make-icon.sh app-icon.txt x.ico &&
# cmp x.ico app.ico
#
# The file holds one image, 32 x 32 pixels at 4 bits per pixel:
#   ICONDIR        6 bytes  reserved 0, type 1 (icon), count 1
#   ICONDIRENTRY  16 bytes  width 32, height 32, 16 colours, reserved 0,
#                           planes 1, 4 bits, image size 744, image offset 22
#   image        744 bytes  BITMAPINFOHEADER (40; height 64 = colour + mask),
#                           16 palette entries B,G,R,0 (64), colour rows
#                           (16 bytes each, bottom row first, high nibble is
#                           the left pixel; 512), AND mask rows (4 bytes
#                           each, bottom row first, most significant bit is
#                           the left pixel, 1 = transparent; 128)
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
src=${1:-$here/app-icon.txt}
out=${2:-$here/app.ico}

# awk checks the source and writes the file as "\xHH" escapes, which bash's
# printf turns into bytes (NUL included).
escapes=$(awk '
function fail(msg) { print "make-icon: " FILENAME ":" FNR ": " msg > "/dev/stderr"; bad = 1; exit 1 }
function hex(v) { return sprintf("\\x%02x", v) }
function le16(v) { return hex(v % 256) hex(int(v / 256) % 256) }
function le32(v) { return le16(v % 65536) le16(int(v / 65536)) }
function hexdigit(c) { return index("0123456789ABCDEF", toupper(c)) - 1 }
function byte2(s) { return hexdigit(substr(s, 1, 1)) * 16 + hexdigit(substr(s, 2, 1)) }
/^#/ || /^[ \t]*$/ { next }
$1 == "colour" {
    if (ncolours == 16) fail("more than 16 colours")
    if (length($2) != 1 || $2 == "." || ($2 in colour_index)) fail("bad colour letter " $2)
    if ($3 !~ /^[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]$/) fail("bad colour " $3)
    colour_index[$2] = ncolours
    palette[ncolours++] = $3
    next
}
$1 == "pixels" && NF == 1 { in_pixels = 1; next }
in_pixels {
    if (nrows == 32) fail("more than 32 rows")
    if (length($0) != 32) fail("row is not 32 pixels wide")
    rows[nrows++] = $0
    next
}
{ fail("unexpected line") }
END {
    if (bad) exit 1
    if (ncolours != 16) { print "make-icon: need 16 colours, got " ncolours > "/dev/stderr"; exit 1 }
    if (nrows != 32) { print "make-icon: need 32 rows, got " nrows > "/dev/stderr"; exit 1 }
    header_bytes = 40; palette_bytes = 64; xor_bytes = 512; and_bytes = 128
    image_bytes = header_bytes + palette_bytes + xor_bytes + and_bytes
    s = le16(0) le16(1) le16(1)
    s = s hex(32) hex(32) hex(16) hex(0) le16(1) le16(4) le32(image_bytes) le32(22)
    s = s le32(40) le32(32) le32(64) le16(1) le16(4) le32(0) le32(xor_bytes + and_bytes)
    s = s le32(0) le32(0) le32(16) le32(0)
    for (i = 0; i < 16; i++) {
        rgb = palette[i]
        s = s hex(byte2(substr(rgb, 5, 2))) hex(byte2(substr(rgb, 3, 2))) hex(byte2(substr(rgb, 1, 2))) hex(0)
    }
    for (y = 31; y >= 0; y--) {
        for (x = 1; x <= 32; x += 2) {
            s = s hex(pixel(rows[y], x) * 16 + pixel(rows[y], x + 1))
        }
    }
    for (y = 31; y >= 0; y--) {
        for (x = 1; x <= 32; x += 8) {
            v = 0
            for (b = 0; b < 8; b++) v = v * 2 + (substr(rows[y], x + b, 1) == ".")
            s = s hex(v)
        }
    }
    printf "%s", s
}
function pixel(row, x,    c) {
    c = substr(row, x, 1)
    if (c == ".") return 0
    if (!(c in colour_index)) { print "make-icon: unknown pixel letter " c > "/dev/stderr"; exit 1 }
    return colour_index[c]
}
' "$src")

tmp="$out.tmp.$$"
printf %b "$escapes" > "$tmp"
mv "$tmp" "$out"
