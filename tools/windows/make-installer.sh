#!/usr/bin/env bash
# Makes the Windows installer: stages the program folder (the program, its optional files
# x\o.cjs and HAND-M.CUR beside it, and the DLLs it needs) and runs NSIS over
# packaging/windows/pantrimo.nsi.
#
#   make-installer.sh VERSION QT_PREFIX PROGRAM.exe LOOK_FOLDER ICON.ico STAGE_FOLDER SETUP.exe
#
# CMake's target `installer` calls it in a Windows build.
set -euo pipefail
[ $# -eq 7 ] || { echo "usage: make-installer.sh VERSION QT_PREFIX PROGRAM.exe LOOK_FOLDER ICON.ico STAGE SETUP.exe" >&2; exit 2; }
version="$1" qt="$2" program="$3" look="$4" icon="$5" stage="$6" setup="$7"
here="$(cd "$(dirname "$0")" && pwd)"
nsi="$here/../../packaging/windows/pantrimo.nsi"

rm -rf "$stage"
mkdir -p "$stage/x"
x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/pantrimo.exe" "$program"
cp "$look/HAND-M.CUR" "$stage/HAND-M.CUR"
cp "$look/x/o.cjs" "$stage/x/o.cjs"
bash "$here/deploy-runtime.sh" "$qt" "$stage" "$stage/pantrimo.exe"

# The uninstaller removes what was staged, file by file, then the folders deepest first
# ($INSTDIR is NSIS's, not the shell's).
files="$(mktemp)"
trap 'rm -f "$files"' EXIT
# shellcheck disable=SC2016
(
  cd "$stage"
  find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|'
  find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|'
) > "$files"

IFS=. read -r major minor patch _ <<< "$version"
version4="${major:-0}.${minor:-0}.${patch:-0}.0"
mkdir -p "$(dirname "$setup")"
makensis -V2 -NOCD \
  -DVERSION="$version" -DVERSION4="$version4" -DSTAGE="$stage" -DFILES="$files" \
  -DICON="$icon" -DOUTFILE="$(realpath -m "$setup")" "$nsi"
echo "installer: $setup ($(du -h "$setup" | cut -f1))"
