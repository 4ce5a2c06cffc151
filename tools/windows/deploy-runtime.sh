#!/usr/bin/env bash
# Puts beside Windows programs the DLLs they need that Windows itself does not have: Qt's,
# the Qt plugins the program loads by name, and the MinGW runtime, each stripped.
#
#   deploy-runtime.sh QT_PREFIX FOLDER PROGRAM.exe...
#
# The plugins are loaded at run time, so no import names them: the windows platform (the
# screen), the Vista style (native-looking controls) and the icon format (the hand pointer's
# .CUR file). Every other DLL is found by walking the import tables, the plugins' included:
# a DLL found in Qt's bin folder or the compiler's runtime folders is copied; one that is
# not must be a DLL of Windows itself (checked against the DLLs Wine provides, which are
# Windows' own names), or the walk fails rather than make an installer that cannot start.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: deploy-runtime.sh QT_PREFIX FOLDER PROGRAM.exe..." >&2; exit 2; }
qt="$1"
out="$2"
shift 2
triple=x86_64-w64-mingw32
plugins=(platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qico.dll)

search=("$qt/bin")
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  found="$("$triple-g++-posix" -print-file-name="$dll")"
  [ -f "$found" ] && search+=("$(dirname "$found")")
done
search+=("/usr/$triple/lib" "/usr/lib/gcc/$triple/$("$triple-gcc-posix" -dumpversion)-posix")
windows_dlls=()
for d in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows; do
  [ -d "$d" ] && windows_dlls+=("$d")
done

find_dll() {
  local name="$1" d f
  for d in "${search[@]}"; do
    f="$(find "$d" -maxdepth 1 -iname "$name" -print -quit 2>/dev/null)"
    [ -n "$f" ] && { echo "$f"; return 0; }
  done
  return 1
}

is_windows_dll() {
  local name="$1" d
  case "${name,,}" in api-ms-win-*|ext-ms-win-*) return 0 ;; esac
  for d in "${windows_dlls[@]}"; do
    [ -n "$(find "$d" -maxdepth 1 -iname "$name" -print -quit)" ] && return 0
  done
  return 1
}

imports() { "$triple-objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p'; }

mkdir -p "$out"
queue=("$@")
declare -A seen=()
for p in "${plugins[@]}"; do
  [ -f "$qt/plugins/$p" ] || { echo "deploy-runtime.sh: no Qt plugin $qt/plugins/$p" >&2; exit 1; }
  mkdir -p "$out/$(dirname "$p")"
  "$triple-strip" --strip-unneeded -o "$out/$p" "$qt/plugins/$p"
  queue+=("$out/$p")
done
while [ ${#queue[@]} -gt 0 ]; do
  file="${queue[0]}"
  queue=("${queue[@]:1}")
  while read -r name; do
    key="${name,,}"
    [ -n "${seen[$key]:-}" ] && continue
    seen[$key]=1
    if dll="$(find_dll "$name")"; then
      "$triple-strip" --strip-unneeded -o "$out/$(basename "$dll")" "$dll"
      queue+=("$out/$(basename "$dll")")
    elif ! is_windows_dll "$name"; then
      echo "deploy-runtime.sh: $(basename "$file") needs $name, which is neither Windows' nor found in: ${search[*]}" >&2
      exit 1
    fi
  done < <(imports "$file")
done
