#!/usr/bin/env bash
# Installs the Debian 12 packages the Windows build needs: the mingw-w64 cross compiler,
# Debian's Qt host tools (the same 6.4.2 as the target), Wine to run the tests, NSIS for
# the installer, Xvfb for the windows platform plugin; for the installer check the X and PDF
# tools and Python modules it reads the results with. Asks apt only for what is missing.
set -euo pipefail
packages=(
  cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  qt6-base-dev qt6-base-dev-tools dpkg-dev
  wine wine64 nsis xvfb xauth fonts-liberation
  x11-utils python3 python3-xlib python3-xlrd poppler-utils imagemagick
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
