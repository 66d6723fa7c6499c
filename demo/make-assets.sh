#!/bin/bash
# Draws the demo's two wizard bitmaps with ImageMagick:
#   body.bmp  164 x 314, the Welcome page's picture at its left edge
#   head.bmp   55 x  55, the banner picture in the License view's top-right
#
#   bash demo/make-assets.sh [OUTPUT_DIR]
#
# OUTPUT_DIR defaults to this script's folder, where the generated files are
# committed.  Both are uncompressed 24-bit BMP version 3 files (BITMAPINFO-
# HEADER), which LoadImageA reads with LR_LOADFROMFILE | LR_CREATEDIBSECTION.
# No text is drawn, so no font is needed.  The motif is the program icon's: a
# phone whose screen shows a download arrow.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
mkdir -p "$out"
convert=${CONVERT:-convert}

# Flattened, alpha-free, 24-bit and without metadata: the BMP3 writer then
# stores exactly a 40-byte header and the pixel rows.
bmp3() {
    local file=$1
    shift
    "$convert" "$@" -background white -alpha remove -alpha off -type TrueColor -strip "BMP3:$file"
}

# Body: night-blue to teal with soft light discs, a phone in the middle and
# three signal bars above it.  Filled shapes only: ImageMagick 6.9 closes an
# open stroked path (arc, polyline) with a chord.
bmp3 "$out/body.bmp" -size 164x314 gradient:'#0d2b63'-'#169b96' \
    -fill 'rgba(255,255,255,0.10)' -stroke none \
    -draw 'circle 30,40 30,78' \
    -draw 'circle 140,110 140,132' \
    -draw 'circle 20,250 20,300' \
    -draw 'circle 150,290 150,312' \
    -fill 'rgba(255,255,255,0.18)' \
    -draw 'circle 120,30 120,40' \
    -draw 'circle 45,190 45,197' \
    -fill 'rgba(255,255,255,0.75)' \
    -draw 'roundrectangle 68,78 74,88 1,1' \
    -draw 'roundrectangle 79,68 85,88 1,1' \
    -draw 'roundrectangle 90,58 96,88 1,1' \
    -stroke '#0a1a3a' -strokewidth 2 -fill '#f4f6fa' \
    -draw 'roundrectangle 47,100 117,250 10,10' \
    -fill '#0b3d7a' -stroke none \
    -draw 'rectangle 55,112 109,190' \
    -fill '#d8f4f8' \
    -draw 'rectangle 57,114 107,188' \
    -fill '#2fbf4a' -stroke '#137a2a' -strokewidth 1 \
    -draw 'polygon 76,124 88,124 88,148 98,148 82,170 66,148 76,148' \
    -fill '#137a2a' -stroke none \
    -draw 'rectangle 64,176 100,180' \
    -fill '#b9c2d0' \
    -draw 'roundrectangle 72,198 92,210 3,3' \
    -fill '#3fbf5a' -draw 'rectangle 57,201 66,206' \
    -fill '#e0504a' -draw 'rectangle 98,201 107,206' \
    -fill '#b9c2d0' \
    -draw 'rectangle 60,218 70,222' -draw 'rectangle 77,218 87,222' -draw 'rectangle 94,218 104,222' \
    -draw 'rectangle 60,228 70,232' -draw 'rectangle 77,228 87,232' -draw 'rectangle 94,228 104,232' \
    -draw 'rectangle 60,238 70,242' -draw 'rectangle 77,238 87,242' -draw 'rectangle 94,238 104,242'

# Head: the same colours on a rounded tile that leaves a white margin, so it
# sits quietly on the banner's white ground.
bmp3 "$out/head.bmp" -size 55x55 xc:white \
    \( -size 47x47 gradient:'#0d2b63'-'#169b96' \
       \( -size 47x47 xc:black -fill white -draw 'roundrectangle 0,0 46,46 8,8' \) \
       -alpha off -compose copy_opacity -composite \) \
    -compose over -geometry +4+4 -composite \
    -stroke '#0a1a3a' -strokewidth 1 -fill '#f4f6fa' \
    -draw 'roundrectangle 18,9 37,46 4,4' \
    -fill '#d8f4f8' -stroke none \
    -draw 'rectangle 21,13 34,31' \
    -fill '#2fbf4a' \
    -draw 'polygon 25,15 30,15 30,22 33,22 27.5,29 22,22 25,22' \
    -fill '#b9c2d0' \
    -draw 'rectangle 21,35 25,37' -draw 'rectangle 26,35 29,37' -draw 'rectangle 31,35 34,37' \
    -draw 'rectangle 21,40 25,42' -draw 'rectangle 26,40 29,42' -draw 'rectangle 31,40 34,42'
