#!/bin/sh
# Builds the benchmarks in build-bench (Release) and runs them; results go to
# stdout. Extra arguments are passed to the benchmark binary, e.g.
#   bench/run.sh --benchmark_filter='sm2_'
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTARNWICK_BENCH=ON -DTARNWICK_TESTS=OFF -DTARNWICK_FAULTS_MODULE=OFF >&2
cmake --build "$root/build-bench" --target bench_primitives >&2
exec "$root/build-bench/bench_primitives" --benchmark_min_time=0.2 "$@"
