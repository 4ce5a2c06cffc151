#!/bin/sh
# Render the title clip-art to the PNG that the template workbook embeds.
# The PNG is committed, so building the template needs no SVG renderer.
# Usage: render_bag.sh [OUTPUT.png]   (default: workbook/template/grocery-bag.png)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-"$here/../../workbook/template/grocery-bag.png"}
rsvg-convert --format=png --width=122 --height=138 "$here/grocery-bag.svg" -o "$out"
