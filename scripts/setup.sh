#!/usr/bin/env bash
# Installs the build and test tools (Debian 12, as root), then configures and
# builds the module and its native tests into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build pkg-config libssl-dev openssl
          libgtest-dev googletest libbenchmark-dev clang-16 libclang-rt-16-dev valgrind python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Node.js 20 with its Node-API headers comes with the machine.
if ! command -v node >/dev/null || [[ ! -f /usr/include/node/node_api.h ]]; then
  echo "setup: Node.js 20 with /usr/include/node/node_api.h is required" >&2
  exit 1
fi
node_major=$(node -p 'process.versions.node.split(".")[0]')
if ((node_major < 20)); then
  echo "setup: Node.js 20 or later is required (found $(node --version))" >&2
  exit 1
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
