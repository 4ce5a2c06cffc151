#!/bin/sh
# Builds the reader fuzz target and runs it for SECONDS (default 60), one job, seeded with the
# sample workbooks. New crash reproducers land in fuzz/findings/.
#   fuzz/run.sh 60
set -eu
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${PANTRIMO_FUZZ_BUILD:-$root/build-fuzz}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DPANTRIMO_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzz_xls_reader -j2 >/dev/null
corpus=$build/corpus
mkdir -p "$corpus" "$here/findings"
cp "$root"/tests/xls/data/*.xls "$corpus"/ 2>/dev/null || true
cp "$root"/tests/xls/data/bad/*.xls "$corpus"/ 2>/dev/null || true
cp "$root"/tests/print/data/*.xls "$corpus"/ 2>/dev/null || true
cp "$here"/crashes/* "$corpus"/ 2>/dev/null || true
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 LSAN_OPTIONS=suppressions=$here/lsan.supp \
  "$build/fuzz_xls_reader" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=262144 -timeout=10 \
  -artifact_prefix="$here/findings/" -print_final_stats=1 "$corpus"
