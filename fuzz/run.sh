#!/bin/sh
# Builds a fuzz target and runs it for SECONDS (default 60), one job, seeded with its sample
# files and every reproducer found so far. New crash reproducers land in fuzz/findings/.
#   fuzz/run.sh 60          the workbook reader
#   fuzz/run.sh 60 ini      the settings file reader
set -eu
seconds=${1:-60}
which=${2:-xls}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${PANTRIMO_FUZZ_BUILD:-$root/build-fuzz}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DPANTRIMO_FUZZ=ON >/dev/null
mkdir -p "$here/findings"
case $which in
xls)
  cmake --build "$build" --target fuzz_xls_reader -j2 >/dev/null
  corpus=$build/corpus
  mkdir -p "$corpus"
  cp "$root"/tests/xls/data/*.xls "$corpus"/ 2>/dev/null || true
  cp "$root"/tests/xls/data/bad/*.xls "$corpus"/ 2>/dev/null || true
  cp "$root"/tests/print/data/*.xls "$corpus"/ 2>/dev/null || true
  cp "$here"/crashes/* "$corpus"/ 2>/dev/null || true
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 LSAN_OPTIONS=suppressions=$here/lsan.supp \
    "$build/fuzz_xls_reader" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=262144 -timeout=10 \
    -artifact_prefix="$here/findings/" -print_final_stats=1 "$corpus"
  ;;
ini)
  cmake --build "$build" --target fuzz_ini_file -j2 >/dev/null
  corpus=$build/ini-corpus
  mkdir -p "$corpus"
  cp "$here"/ini-seeds/* "$here"/ini-crashes/* "$corpus"/
  ASAN_OPTIONS=detect_leaks=1 "$build/fuzz_ini_file" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=4096 \
    -timeout=10 -artifact_prefix="$here/findings/ini-" -print_final_stats=1 "$corpus"
  ;;
*)
  echo "fuzz/run.sh: no fuzz target '$which' (xls or ini)" >&2
  exit 2
  ;;
esac
