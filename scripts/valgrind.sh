#!/usr/bin/env bash
# Memcheck over the native driver (tests/valgrind/driver.cpp):
#  1. every primitive on valid and invalid input: fails on any invalid
#     access, use of undefined memory, or definite/indirect leak;
#  2. secret-dependence report (never fails): with the private values of an
#     RSA key document (read as signing and decryption read it) marked
#     undefined, the number of distinct code sites that branch on or index
#     memory with them, split into our sources and libcrypto;
#  3. SM4 secret check: the key marked undefined over the key schedule, ECB,
#     every mode and GCM on each path valgrind can run; fails on any report
#     (tests/valgrind/ct_sm4.cpp);
#  4. SM2 secret check: every SM2 secret marked undefined over key
#     generation, key reading, signing, encryption and decryption; fails on
#     any report (tests/valgrind/ct_sm2.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S tests/valgrind -B build-valgrind -G Ninja >/dev/null
cmake --build build-valgrind >/dev/null
driver=build-valgrind/driver

valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  --show-leak-kinds=definite,indirect "$driver" all
echo "valgrind: memcheck clean over every primitive"

for secret in sm4-key rsa-key; do
  log=build-valgrind/ct-$secret.log
  valgrind --error-limit=no --num-callers=1 "$driver" ct "$secret" >"$log" 2>&1 || true
  python3 - "$secret" "$log" <<'PY'
import re, sys
name, path = sys.argv[1], sys.argv[2]
sites, kind = {}, None
for line in open(path):
    m = re.match(r'==\d+== (Conditional jump or move depends on uninitialised value|Use of uninitialised value of size \d+|Syscall param .*)', line)
    if m:
        kind = 'branch' if m.group(1).startswith('Conditional') else 'index/use'
        continue
    m = re.match(r'==\d+==    at 0x[0-9A-F]+: (.*)', line)
    if m and kind:
        sites[(kind, m.group(1))] = 1
        kind = None
ours = [s for s in sites if '.cpp:' in s[1] or '.h:' in s[1]]
lib = [s for s in sites if s not in ours]
def count(group, k): return sum(1 for s in group if s[0] == k)
print(f"{name:8s} ours: {count(ours,'branch')} branch + {count(ours,'index/use')} index/use sites;"
      f" libcrypto: {count(lib,'branch')} branch + {count(lib,'index/use')} index/use sites")
for s in sorted(ours): print(f"           {s[0]:9s} {s[1]}")
PY
done

sm4_log=build-valgrind/ct-sm4-key.log
grep "ct_sm4: " "$sm4_log" | grep -v failed || true
if ! grep -q "ERROR SUMMARY: 0 errors" "$sm4_log" || grep -q "ct_sm4: .* failed" "$sm4_log"; then
  echo "valgrind: SM4 with the key marked secret is not clean (see $sm4_log)" >&2
  exit 1
fi
echo "valgrind: SM4 clean with the key marked secret"

valgrind -q --error-exitcode=1 --error-limit=no "$driver" ct sm2
echo "valgrind: no SM2 secret reaches a branch or an address"
