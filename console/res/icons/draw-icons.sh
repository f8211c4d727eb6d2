#!/usr/bin/env bash
# Draws the console's icons with ImageMagick: each one is drawn once at 256 x 256 and stored
# at 16, 24, 32 and 48 pixels in one .ico file beside this script. The .ico files are
# committed, so a build never needs ImageMagick; run this again after changing a drawing.
set -euo pipefail
cd "$(dirname "$0")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# draw NAME DRAW-ARGS...: a transparent 256 x 256 canvas, the given drawing, then the icon.
draw() {
    local name=$1
    shift
    convert -size 256x256 xc:none "$@" "$work/$name.png"
    convert "$work/$name.png" -define icon:auto-resize=48,32,24,16 "$name.ico"
}

# 128, the program: a blue shield with a white ring and a green check in it.
draw brantel \
    -fill '#1f5fa8' -stroke '#123a66' -strokewidth 8 \
    -draw "path 'M 128,12 L 228,48 L 228,124 Q 228,200 128,244 Q 28,200 28,124 L 28,48 Z'" \
    -fill none -stroke white -strokewidth 18 -draw "circle 128,124 128,62" \
    -stroke '#3cc45a' -strokewidth 24 -draw "polyline 92,124 120,154 168,98"

# 139, Start/Stop: a green power symbol.
draw start-stop \
    -fill none -stroke '#2a9d3c' -strokewidth 30 -draw "arc 44,52 212,220 -60,240" \
    -draw "line 128,24 128,124"

# 140, Start/Stop (stopped form): a red power symbol.
draw start-stop-alt \
    -fill none -stroke '#c8362c' -strokewidth 30 -draw "arc 44,52 212,220 -60,240" \
    -draw "line 128,24 128,124"

# 141, Advanced: a grey gear.
draw advanced \
    -fill '#5b6570' -stroke none \
    -draw "translate 128,128 rectangle -18,-118 18,118" \
    -draw "translate 128,128 rotate 45 rectangle -18,-118 18,118" \
    -draw "translate 128,128 rotate 90 rectangle -18,-118 18,118" \
    -draw "translate 128,128 rotate 135 rectangle -18,-118 18,118" \
    -draw "circle 128,128 128,40" \
    -fill none -stroke white -strokewidth 0 -fill white -draw "circle 128,128 128,96"

# 142, Log: a sheet of paper with lines of text.
draw log \
    -fill white -stroke '#4a4a4a' -strokewidth 10 \
    -draw "path 'M 52,16 L 164,16 L 208,60 L 208,240 L 52,240 Z'" \
    -fill '#d8d8d8' -draw "path 'M 164,16 L 164,60 L 208,60 Z'" \
    -stroke '#1f5fa8' -strokewidth 14 \
    -draw "line 80,100 180,100" -draw "line 80,136 180,136" \
    -draw "line 80,172 180,172" -draw "line 80,208 150,208"

# 145, 146, 147, service states: a round lamp, green (running), grey (stopped), amber (trouble).
lamp() {
    draw "$1" -fill "$2" -stroke "$3" -strokewidth 12 -draw "circle 128,128 128,20" \
        -fill 'rgba(255,255,255,0.55)' -stroke none -draw "ellipse 104,84 44,28 0,360"
}
lamp state-running '#2fbf4a' '#1b7a2d'
lamp state-stopped '#9aa0a6' '#5f6368'
lamp state-trouble '#f2a81d' '#a86c00'
