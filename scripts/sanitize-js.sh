#!/usr/bin/env bash
# Runs the JavaScript suite against the AddressSanitizer + UBSan build of the
# module (build-asan/tarnwick.node). Node itself is not instrumented, so the
# sanitizer runtimes are preloaded and leak checking (which would report
# Node's own allocations) is off; any invalid access or undefined behaviour
# in the module aborts the process and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON >/dev/null
cmake --build build-asan --target tarnwick tarnwick_faults

export TARNWICK_SANITIZED=1
export TARNWICK_MODULE="$PWD/build-asan/tarnwick.node"
export TARNWICK_FAULTS_MODULE="$PWD/build-asan/tarnwick_faults.node"
export LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
node --test tests/js
