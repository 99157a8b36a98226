#!/usr/bin/env bash
# Speed of our SM4 (every mode, every processor path) and SM3 against
# OpenSSL 3.0's EVP in the same process, as a table of ratios
# (OpenSSL's median time / ours; above 1 means faster than OpenSSL).
#
# Builds bench/ in build-bench (Release, -O3: the flags of the module's own
# Release build), runs the SM4/SM3 rows pinned to one core with their
# repetitions randomly interleaved, and prints medians and ratios.
#   BENCH_CPU    core to pin to (default 2)
#   BENCH_REPS   repetitions of each row (default 9)
#   BENCH_SIZES  sizes in bytes for the table (default "16384"; 1024 also runs)
# Any further arguments go to the benchmark binary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cpu=${BENCH_CPU:-2}
reps=${BENCH_REPS:-9}
sizes=${BENCH_SIZES:-16384}

cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTARNWICK_BENCH=ON -DTARNWICK_TESTS=OFF -DTARNWICK_FAULTS_MODULE=OFF >/dev/null
cmake --build "$root/build-bench" --target bench_primitives >/dev/null

out=$(mktemp)
trap 'rm -f "$out"' EXIT
taskset -c "$cpu" "$root/build-bench/bench_primitives" \
  --benchmark_filter='^(sm4_|sm3/)' --benchmark_repetitions="$reps" \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.05 --benchmark_format=json --benchmark_out="$out" "$@" >/dev/null

python3 - "$out" "$sizes" <<'PY'
import json, sys

report = json.load(open(sys.argv[1]))
sizes = sys.argv[2].split()
median = {}
for b in report["benchmarks"]:
    if b.get("aggregate_name") == "median" and not b.get("error_occurred"):
        median[b["run_name"]] = b["real_time"]

model = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
flags = next((l.split(":", 1)[1].split() for l in open("/proc/cpuinfo") if l.startswith("flags")), [])
shown = [f for f in ("aes", "pclmulqdq", "avx2", "avx512f", "avx512bw", "avx512vl", "gfni", "vaes", "vpclmulqdq", "bmi2") if f in flags]
print(f"CPU: {model} ({', '.join(shown)}); one core pinned, medians of {report['benchmarks'][0].get('repetitions', '?')} interleaved runs")
print()

paths = ["gfni-avx512", "gfni-avx2", "aesni-avx2", "portable"]
rows = [
    ("ECB encrypt", "sm4_ecb_encrypt", "SM4-ECB"),
    ("CTR", "sm4_ctr", "SM4-CTR"),
    ("CBC decrypt", "sm4_cbc_decrypt", "SM4-CBC"),
    ("CFB decrypt", "sm4_cfb_decrypt", "SM4-CFB"),
    ("GCM encrypt", "sm4_gcm_encrypt", "SM4-CTR"),
    ("GCM decrypt", "sm4_gcm_decrypt", "SM4-CTR"),
    ("CBC encrypt", "sm4_cbc_encrypt", "SM4-CBC"),
    ("CFB encrypt", "sm4_cfb_encrypt", "SM4-CFB"),
    ("OFB", "sm4_ofb", "SM4-OFB"),
]

def ratio(peer, ours):
    if peer is None or ours is None:
        return "—"
    return f"{peer / ours:.2f}×"

for size in sizes:
    print(f"| SM4, {int(size) // 1024} KiB (OpenSSL's time / ours) | OpenSSL | " + " | ".join(paths) + " |")
    print("|---|---|" + "---|" * len(paths))
    for label, op, peer_name in rows:
        peer = median.get(f"{op}/openssl/{size}")
        cells = [ratio(peer, median.get(f"{op}/{p}/{size}")) for p in paths]
        peer_cell = f"{peer / 1000:.1f} µs" if peer else "—"
        print(f"| {label} (vs OpenSSL {peer_name}) | {peer_cell} | " + " | ".join(cells) + " |")
    print()

sm3_paths = ["avx512", "avx2-bmi2", "portable"]
print("| SM3 (OpenSSL's time / ours) | OpenSSL | " + " | ".join(sm3_paths) + " |")
print("|---|---|" + "---|" * len(sm3_paths))
for size in ["1024", "16384"]:
    peer = median.get(f"sm3/openssl/{size}")
    cells = [ratio(peer, median.get(f"sm3/{p}/{size}")) for p in sm3_paths]
    peer_cell = f"{peer / 1000:.1f} µs" if peer else "—"
    print(f"| {int(size) // 1024} KiB | {peer_cell} | " + " | ".join(cells) + " |")
PY
