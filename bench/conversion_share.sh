#!/bin/sh
# Where the time of one symEncrypt call goes: profiles a loop of calls with
# perf (cpu-clock samples, JIT symbols from --perf-basic-prof) and splits the
# samples into the SM4 code, the conversion script's reading and writing, the
# engine (array creation, garbage collection, calls into JS) and the kernel
# (mostly page faults on the memory of new large arrays). Needs perf.
#   bench/conversion_share.sh [size] [algorithm] [core]   (16384 SM4CBC 3)
# TARNWICK_MODULE picks the build (default build/tarnwick.node).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
size=${1:-16384}
algorithm=${2:-SM4CBC}
core=${3:-3}
module=$(realpath "${TARNWICK_MODULE:-$root/build/tarnwick.node}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/perf.data
# node writes its code log next to where it runs: keep it in the scratch dir.
cd "$work"
TARNWICK_MODULE=$module taskset -c "$core" perf record -q -e cpu-clock -o "$data" -- \
  node --perf-basic-prof -e '
    const m = require(process.env.TARNWICK_MODULE);
    const [size, name] = process.argv.slice(1);
    const data = Array.from({ length: Number(size) }, (_, i) => (i * 131 + 7) & 0xff);
    const key = Buffer.alloc(16, 1).toString("base64");
    const iv = Buffer.alloc(16, 2).toString("base64");
    const start = Date.now();
    while (Date.now() - start < 4000) m.symEncrypt(m.SymAlgorithm[name], data, key, iv);' "$size" "$algorithm"
perf report -i "$data" --stdio --no-children --sort dso,sym -g none -t '|' 2>/dev/null | python3 -c '
import re, sys
shares = {}
for line in sys.stdin:
    parts = line.split("|")
    if line.startswith("#") or len(parts) < 3 or "%" not in parts[0]:
        continue
    pct, dso = float(parts[0].strip().rstrip("%")), parts[1].strip()
    m = re.match(r"\s*\[(.)\]\s+(.*)", parts[2])
    if not m:
        continue
    kind, sym = m.groups()
    if "sm4" in sym: c = "SM4"
    elif "readBytes" in sym: c = "conversion script: reading"
    elif dso.startswith("[JIT]") and "writeBytes" in sym: c = "conversion script: writing"
    elif kind == "k": c = "kernel (page faults on new arrays, mostly)"
    elif dso == "node": c = "engine (array creation, GC, calls into JS)"
    else: c = "other (" + dso + ")"
    shares[c] = shares.get(c, 0) + pct
for c, v in sorted(shares.items(), key=lambda kv: -kv[1]):
    if v >= 0.5: print(f"{v:6.1f}%  {c}")'
echo "(symEncrypt $algorithm, $size bytes, $module)"
