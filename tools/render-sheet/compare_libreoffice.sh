#!/bin/sh
# Pictures of the filled grocery template from render-sheet and from LibreOffice, both as PNG
# at 96 dpi, for looking at side by side.
#
#   tools/render-sheet/compare_libreoffice.sh BUILD_DIR OUT_DIR
#
# For each of "full" (twenty items in every category) and "sample" (the sample list) it fills
# the template, saves the workbook as OUT_DIR/<kind>.xls, and renders that saved file twice:
# OUT_DIR/<kind>.png by render-sheet, OUT_DIR/lo/<kind>.png by LibreOffice. LibreOffice
# exports each sheet as one page of its natural size (SinglePageSheets), so the sheet's own
# page setup (fit to one Letter page) does not scale its picture.
set -eu
build=$(cd "$1" && pwd)
mkdir -p "$2/lo"
out=$(cd "$2" && pwd)
template=$(cd "$(dirname "$0")/../../.." && pwd)/workbook/template/grocery_template.xls
tool="$build/tools/render-sheet/render-sheet"
export QT_QPA_PLATFORM=offscreen

for kind in full sample; do
    "$tool" --fill "$kind" --save "$out/$kind.xls" --range A1:M58 "$template" "$out/unused.png" >/dev/null
    "$tool" --range A1:M58 "$out/$kind.xls" "$out/$kind.png"
done
rm -f "$out/unused.png"

soffice -env:UserInstallation="file://$out/lo-profile" --headless \
    --convert-to 'pdf:calc_pdf_Export:{"SinglePageSheets":{"type":"boolean","value":"true"}}' \
    --outdir "$out/lo" "$out/full.xls" "$out/sample.xls"
for kind in full sample; do
    pdftoppm -png -r 96 -singlefile "$out/lo/$kind.pdf" "$out/lo/$kind"
done
ls -l "$out"/*.png "$out"/lo/*.png
