#!/usr/bin/env bash
# Cross-builds Pantrimo for 64-bit Windows into build-windows/ and makes its installer,
# build-windows/pantrimo-<version>-setup.exe. Installs the Debian packages that are missing
# and builds Qt for Windows into its cache first when the cache is cold (tools/windows/build-qt.sh:
# 35 to 40 minutes on an idle 2-core machine; reused afterwards).
#
#   bash tools/windows/build.sh
#
# PANTRIMO_QT_WINDOWS names another Qt cache folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
qt="${PANTRIMO_QT_WINDOWS:-$HOME/.cache/pantrimo/qt6-windows-6.4.2}"
bash tools/windows/install-deps.sh
bash tools/windows/build-qt.sh "$qt"
# ccache, where it is installed, keeps a rebuild of unchanged sources short.
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/tools/windows/mingw64.cmake"
cmake --build build-windows
cmake --build build-windows -t installer
