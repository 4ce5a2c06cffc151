#!/bin/sh
# Render the application icon at the sizes the program ships, into shell/icons/,
# together with a copy of the vector source. Re-run after editing the SVG and
# commit the results (the build itself needs no SVG renderer).
# Usage: render_icon.sh [OUTDIR]   (default: shell/icons)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-"$here/../../shell/icons"}
mkdir -p "$out"
for size in 32 48 128 256; do
    rsvg-convert --format=png --width=$size --height=$size \
        "$here/pantrimo-icon.svg" -o "$out/pantrimo-$size.png"
done
cp "$here/pantrimo-icon.svg" "$out/pantrimo.svg"
