#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer and UndefinedBehaviorSanitizer on)
# and runs every test, headless.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPANTRIMO_SANITIZE=ON
cmake --build build-test -j"$(nproc)"
cd build-test
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
