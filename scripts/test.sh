#!/usr/bin/env bash
# Runs every test: the native tests, the JavaScript tests against the built
# module, and the native tests again under AddressSanitizer + UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
check_node test
jobs=$(nproc)

build_module
(cd build && ctest --output-on-failure -j "$jobs")

node --test tests/js

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON >/dev/null
cmake --build build-asan
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")

# Hardening: the JS suite on the sanitized module, memcheck, and the fuzzers.
scripts/sanitize-js.sh
scripts/valgrind.sh
scripts/fuzz.sh
