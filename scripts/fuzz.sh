#!/usr/bin/env bash
# Builds every libFuzzer target under fuzz/ (clang, ASan + UBSan), writes
# each target's seed corpus with its own generator mode, then runs each
# target for FUZZ_SECONDS (default 30) on FUZZ_JOBS parallel targets.
# Fails on any crash, sanitizer report, leak or property violation; the
# crashing input is left in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
jobs=${FUZZ_JOBS:-4}
cxx=${FUZZ_CXX:-clang++-16}

cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build build-fuzz

out=build-fuzz/runs
rm -rf "$out" build-fuzz/artifacts
mkdir -p "$out" build-fuzz/artifacts
targets=$(cd build-fuzz && ls fuzz_* | sort)

run_one() {
  local t=$1 seconds=$2 out=$3
  local corpus=build-fuzz/corpus/$t
  rm -rf "$corpus"
  TARNWICK_FUZZ_SEEDS="$corpus" timeout 60 "build-fuzz/$t" -runs=0 >"$out/$t.seed.log" 2>&1 || { echo "$t: seed mode failed"; cat "$out/$t.seed.log"; return 1; }
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     "build-fuzz/$t" -max_total_time="$seconds" -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$t-" "$corpus" >"$out/$t.log" 2>&1; then
    printf '%-18s ok   %s execs\n' "$t" "$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$t.log")"
  else
    echo "$t: FAILED"
    tail -60 "$out/$t.log"
    return 1
  fi
}
export -f run_one

status=0
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$out" || status=1
if ((status)); then
  echo "fuzz: failures (inputs in build-fuzz/artifacts/)" >&2
  exit 1
fi
echo "fuzz: $(printf '%s\n' $targets | wc -l) targets, ${seconds}s each, no crash"
