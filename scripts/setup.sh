#!/usr/bin/env bash
# Installs the build and test tools (Debian 12, as root), then configures and
# builds the module and its native tests into build/ (Release).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

packages=(build-essential cmake ninja-build pkg-config libssl-dev openssl
          libgtest-dev googletest libbenchmark-dev clang-16 libclang-rt-16-dev valgrind python3)
# Node.js: Debian's nodejs (18) and its headers in libnode-dev, each only when
# missing, so a newer Node.js already installed is kept. NodeSource's nodejs
# package carries its own headers and conflicts with libnode-dev.
command -v node >/dev/null || packages+=(nodejs)
nodejs_version=$(dpkg-query -W -f='${Version}' nodejs 2>/dev/null || true)
[[ -f $node_api_header || $nodejs_version == *nodesource* ]] || packages+=(libnode-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

check_node setup
build_module
