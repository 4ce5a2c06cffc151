#!/usr/bin/env bash
# Builds Qt 6.4.2 for 64-bit Windows from Debian's own qt6-base source package, with
# Debian's mingw-w64 and Debian's Qt host tools, into a cache folder outside the clone:
# Core, Gui, Widgets, PrintSupport, Test and the windows platform plugin, release, shared.
# A cache whose stamp matches this script and the toolchain file is reused as it is.
#
#   bash tools/windows/build-qt.sh [PREFIX]     (default ~/.cache/pantrimo/qt6-windows-6.4.2)
#
# About 70 CPU-minutes; 35 to 40 minutes on an idle 2-core machine.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
prefix="${1:-${PANTRIMO_QT_WINDOWS:-$HOME/.cache/pantrimo/qt6-windows-6.4.2}}"
stamp_want="$(cat "$here/build-qt.sh" "$here/mingw64.cmake" | sha256sum | cut -d' ' -f1)"
if [ -f "$prefix/.pantrimo-stamp" ] && [ "$(cat "$prefix/.pantrimo-stamp")" = "$stamp_want" ]; then
  echo "Qt for Windows: cached in $prefix"
  exit 0
fi

bash "$here/install-deps.sh"

work="$(mktemp -d "${TMPDIR:-/tmp}/pantrimo-qt-windows.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"

# Debian's archive serves the sources of the same suite we install from; a deb-src entry
# copied from the system's own deb entries, used for this download only.
srcdir="$work/apt"
mkdir -p "$srcdir/lists/partial" "$srcdir/sources.list.d"
for f in /etc/apt/sources.list.d/*.sources; do
  sed 's/^Types:.*/Types: deb-src/' "$f" > "$srcdir/sources.list.d/$(basename "$f")"
done
[ -f /etc/apt/sources.list ] && sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > "$srcdir/sources.list.d/main.list"
mkdir -p "$srcdir/cache/archives/partial"
aptopts=(-o Dir::State::Lists="$srcdir/lists" -o Dir::Cache="$srcdir/cache" -o Dir::Etc::SourceList=/dev/null
         -o Dir::Etc::SourceParts="$srcdir/sources.list.d" -o APT::Sandbox::User=root)
apt-get "${aptopts[@]}" update -qq
# The same version as the host tools: Qt's cross build insists that they match.
version="$(dpkg-query -W -f='${Version}' qt6-base-dev)"
apt-get "${aptopts[@]}" source --download-only -qq "qt6-base=$version"
dpkg-source -x qt6-base_*.dsc src > /dev/null

# Debian's +dfsg tarball drops src/3rdparty/wintab, which the windows platform plugin
# includes for tablet input. Wine's LGPL copies of the two headers serve; for mingw they
# need three macros that only Wine's own headers define.
apt-get download -qq libwine-dev
dpkg-deb -x libwine-dev_*.deb wine
wintab="src/src/3rdparty/wintab"
mkdir -p "$wintab"
for h in wintab.h pktdef.h; do
  found="$(find wine -name "$h" | head -1)"
  [ -n "$found" ] || { echo "build-qt.sh: $h not found in libwine-dev" >&2; exit 1; }
  {
    echo "#pragma once"
    echo "#include <windows.h>"
    echo "#ifndef WINELIB_NAME_AW"
    echo "# define WINELIB_NAME_AW(func) func##W"
    echo "# define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;"
    echo "#endif"
    echo "#ifndef API"
    echo "# define API WINAPI"
    echo "#endif"
    cat "$found"
  } > "$wintab/$h"
done

mkdir -p "$prefix"
cp "$here/mingw64.cmake" "$prefix/mingw64.cmake"
cmake -S src -B build -G Ninja -Wno-dev \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw64.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_dbus=OFF -DFEATURE_icu=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_zstd=OFF -DFEATURE_vulkan=OFF -DFEATURE_jpeg=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF \
  -DFEATURE_testlib=ON -DFEATURE_direct2d=ON -DFEATURE_printsupport=ON -DFEATURE_widgets=ON
cmake --build build --parallel "$(nproc)"
cmake --install build > /dev/null
echo "$stamp_want" > "$prefix/.pantrimo-stamp"
echo "Qt for Windows: built into $prefix"
