#!/usr/bin/env bash
# Makes image1.png, the main window's background picture, at the window's
# design size (792 x 552 pixels): a light band behind the folder pairs, whose
# captions are black, and a deep blue below it, behind the white and cyan
# counters, sizes and percentages. Needs ImageMagick. Run from anywhere.
set -euo pipefail
out="$(dirname "$0")/image1.png"
convert -size 792x174 gradient:'#f2f5fa'-'#dfe6f1' \
        -size 792x2 xc:'#5b84c4' \
        -size 792x376 gradient:'#1d3a6c'-'#0a1836' \
        -append -strip "PNG24:$out"
