#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, as CTest's emulator and for the
# installer check:
#
#   wine-run.sh [--prefix DIR] [--path DIR]... [--qtest] PROGRAM.exe [ARGS...]
#   wine-run.sh [--prefix DIR] --stop
#
# The Wine prefix (default ~/.cache/pantrimo/wine-tests) is made once, set to Windows 10
# (Qt 6 refuses older versions), and reused. Each --path folder is put on WINEPATH, where
# Windows looks for DLLs: the Qt and MinGW runtime DLLs stay where they are.
#
# Windows draws its windows on a private Xvfb server kept for the prefix, so every program
# of a test run shares one desktop, as the programs of one Windows session do: a second X
# server per program would leave Wine's desktop process tied to a server that went away.
# --stop ends that server and the prefix's wineserver. Set PANTRIMO_WINE_DISPLAY to use a
# server of your own instead.
#
# --qtest: a Qt Test program. Under Wine its report never reaches the Unix side's standard
# output, so it is written to a file (-o FILE,txt) and printed from there.
#
# The program's output goes through a file, not straight to the caller: Wine's servers,
# started by the first program, inherit its descriptors, and a pipe they hold open would
# keep CTest waiting until they exit.
set -uo pipefail
prefix="${PANTRIMO_WINEPREFIX:-$HOME/.cache/pantrimo/wine-tests}"
paths=()
qtest=0
stop=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --path) paths+=("$2"); shift 2 ;;
    --qtest) qtest=1; shift ;;
    --stop) stop=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [ $stop -eq 0 ] && [ $# -lt 1 ]; then
  echo "usage: wine-run.sh [--prefix DIR] [--path DIR]... [--qtest] PROGRAM.exe [ARGS...] | --stop" >&2
  exit 2
fi

export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask on the screen.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
xvfb_file="$prefix.xvfb"   # "PID DISPLAY" of the prefix's X server

# A Unix path as Windows sees it through Wine's Z: drive (the whole Unix tree).
winpath() { local p; p="$(realpath -m "$1")"; printf 'Z:%s' "${p//\//\\}"; }

xvfb_alive() {
  local pid display
  [ -f "$xvfb_file" ] || return 1
  read -r pid display < "$xvfb_file" || return 1
  kill -0 "$pid" 2>/dev/null && [ -S "/tmp/.X11-unix/X${display#:}" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]
}

mkdir -p "$(dirname "$prefix")"
exec 9> "$prefix.lock"
flock 9

if [ $stop -eq 1 ]; then
  [ -d "$prefix" ] && wineserver -k 2>/dev/null
  if xvfb_alive; then
    read -r pid _ < "$xvfb_file"
    kill "$pid" 2>/dev/null
  fi
  rm -f "$xvfb_file"
  exit 0
fi

if [ ! -f "$prefix/.pantrimo-ready" ]; then
  rm -rf "$prefix"
  echo "wine-run.sh: making the Wine prefix $prefix" >&2
  if ! { env -u DISPLAY wineboot -i && wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f && wineserver -w; } \
      > "$prefix.log" 2>&1 < /dev/null 9>&-; then
    echo "wine-run.sh: the Wine prefix could not be made:" >&2
    cat "$prefix.log" >&2
    exit 1
  fi
  touch "$prefix/.pantrimo-ready"
fi

holder=""
work=""
child=""
# shellcheck disable=SC2317  # called by the traps
cleanup() {
  [ -n "$child" ] && kill "$child" 2>/dev/null
  [ -n "$holder" ] && kill "$holder" 2>/dev/null
  [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# This run's own connection to the X server, held until the program ends: the server ends
# itself 10 seconds after its last client left (so a test run leaves no server behind), and
# this keeps it from doing so between the check below and Wine's first window.
hold_display() {
  local ready
  ready="$(mktemp)"
  xprop -display "$1" -root -spy _NET_NONE > "$ready" 2>/dev/null < /dev/null 9>&- &
  holder=$!
  for _ in $(seq 100); do
    [ -s "$ready" ] && break
    kill -0 "$holder" 2>/dev/null || break
    sleep 0.02
  done
  if [ -s "$ready" ]; then rm -f "$ready"; return 0; fi
  kill "$holder" 2>/dev/null
  holder=""
  rm -f "$ready"
  return 1
}

if [ -n "${PANTRIMO_WINE_DISPLAY:-}" ]; then
  export DISPLAY="$PANTRIMO_WINE_DISPLAY"
else
  DISPLAY=""
  if xvfb_alive; then
    read -r _ display < "$xvfb_file"
    hold_display "$display" && DISPLAY="$display"
  fi
  if [ -z "$DISPLAY" ]; then
    numfile="$(mktemp)"
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -terminate 10 \
      3> "$numfile" < /dev/null > /dev/null 2>&1 9>&- &
    xpid=$!
    for _ in $(seq 200); do
      [ -s "$numfile" ] && break
      kill -0 "$xpid" 2>/dev/null || break
      sleep 0.05
    done
    display=":$(tr -d '\n' < "$numfile")"
    rm -f "$numfile"
    if [ "$display" = ":" ] || ! hold_display "$display"; then
      echo "wine-run.sh: Xvfb did not start" >&2
      exit 1
    fi
    echo "$xpid $display" > "$xvfb_file"
    DISPLAY="$display"
  fi
  export DISPLAY
fi
flock -u 9
exec 9>&-

winepath_list=""
for p in "${paths[@]}"; do
  winepath_list="${winepath_list:+$winepath_list;}$(winpath "$p")"
done
export WINEPATH="$winepath_list"
# The windows platform plugin on the X server above; the offscreen one never returns from
# its event loop under Wine.
export QT_QPA_PLATFORM=windows


work="$(mktemp -d "${TMPDIR:-/tmp}/pantrimo-wine.XXXXXX")"
program="$1"
shift
args=("$@")
if [ $qtest -eq 1 ]; then
  args+=(-o "$(winpath "$work/report.txt"),txt")
fi
wine "$program" "${args[@]}" < /dev/null > "$work/stdout" 2> "$work/stderr" &
child=$!
wait "$child"
status=$?
child=""
cat "$work/stdout"
cat "$work/stderr" >&2
if [ $qtest -eq 1 ] && [ -f "$work/report.txt" ]; then
  tr -d '\r' < "$work/report.txt"
fi
exit $status
