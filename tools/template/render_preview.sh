#!/bin/sh
# Picture the template as LibreOffice prints it: .xls -> PDF -> PNG.
# Usage: render_preview.sh [WORKBOOK.xls] [OUTDIR]   (default outdir /tmp/template-preview)
# Writes OUTDIR/grocery_template-1.png (150 dpi) and OUTDIR/title-zoom.png (the
# left title at 600 dpi), using a private LibreOffice profile so a running
# office instance or a shared profile does not interfere, and with Century
# Gothic mapped to its metric twin URW Gothic (fonts-urw-base35).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
xls=${1:-"$here/../../workbook/template/grocery_template.xls"}
out=${2:-/tmp/template-preview}
mkdir -p "$out"
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
cp "$xls" "$out/grocery_template.xls"
# Century Gothic is not on Linux machines; URW Gothic has the same metrics.
cat > "$profile/fonts.conf" <<'CONF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <alias binding="same">
    <family>Century Gothic</family>
    <prefer><family>URW Gothic</family></prefer>
  </alias>
</fontconfig>
CONF
FONTCONFIG_FILE="$profile/fonts.conf" soffice -env:UserInstallation=file://"$profile" --headless --convert-to pdf \
    --outdir "$out" "$out/grocery_template.xls" >/dev/null
pdftoppm -r 150 -png "$out/grocery_template.pdf" "$out/grocery_template"
# The left title with its bag, large enough to judge the picture's placement.
pdftoppm -r 600 -png -f 1 -l 1 -x 400 -y 500 -W 1600 -H 700 \
    "$out/grocery_template.pdf" "$out/title-zoom"
ls "$out"/*.png
