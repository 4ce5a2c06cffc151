#!/usr/bin/env bash
# Installs the Debian 12 packages Pantrimo needs to build, run and test; asks apt only
# for what is missing. Run as root (or through sudo).
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  libgsf-1-dev libbenchmark-dev
  # the LibreOffice spreadsheet server: UNO headers, cppumaker and the type libraries
  libreoffice-dev
  clang-14 libclang-rt-14-dev
  # run: the platform plugin, and the fonts the windows and the workbook are drawn with
  qt6-qpa-plugins fonts-liberation fonts-urw-base35
  # test: a private X server, readers of workbooks that nobody here wrote
  xvfb xauth python3 python3-xlib python3-xlrd python3-xlwt
  # test: a real window manager, for where windows are placed
  openbox
  libreoffice-calc-nogui libreoffice-draw-nogui poppler-utils imagemagick librsvg2-bin
  # test: printing through a real CUPS (a private cupsd with a cups-pdf queue)
  cups cups-client printer-driver-cups-pdf
  # the Debian package: its dependencies (dpkg-shlibdeps), its checkers, the manual page reader
  dpkg-dev file lintian appstream desktop-file-utils man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
