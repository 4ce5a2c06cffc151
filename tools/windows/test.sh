#!/usr/bin/env bash
# Runs the Windows build's tests under Wine (CTest in build-windows/, each program through
# tools/windows/wine-run.sh), then the installer check (tools/windows/check_installer.py):
# silent install, the installed program's windows, lists, PDF and workbook, silent uninstall.
# Run tools/windows/build.sh first.
#
#   bash tools/windows/test.sh
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
build="build-windows"
[ -f "$build/CTestTestfile.cmake" ] || { echo "No Windows build in $build: run bash tools/windows/build.sh first" >&2; exit 1; }
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
setup="$build/pantrimo-$version-setup.exe"
[ -f "$setup" ] || { echo "No installer $setup: run bash tools/windows/build.sh first" >&2; exit 1; }

log="$build/Testing/wine-tests.log"
mkdir -p "$build/Testing"
(cd "$build" && ctest --output-on-failure -j2 --timeout 600) 2>&1 | tee "$log"
ctest_status=${PIPESTATUS[0]}
tools/windows/wine-run.sh --prefix "$PWD/$build/wine" --stop

summary="$(grep -E '^[0-9]+% tests passed' "$log" | tail -1)"
total="$(sed -En 's/.* out of ([0-9]+)$/\1/p' <<< "$summary")"
failed="$(sed -En 's/.*, ([0-9]+) tests failed.*/\1/p' <<< "$summary")"
left_out="$(grep -c . "$build/linux-only-tests.txt" 2>/dev/null || echo 0)"
echo
echo "Windows tests under Wine: ${total:-0} run, $(( ${total:-0} - ${failed:-0} )) passed, ${failed:-0} failed;" \
     "$left_out left out as Linux-only:"
sed 's/^/  /' "$build/linux-only-tests.txt" 2>/dev/null
echo

/usr/bin/python3 tools/windows/check_installer.py "$setup"
installer_status=$?
[ "$ctest_status" -eq 0 ] && [ "$installer_status" -eq 0 ]
