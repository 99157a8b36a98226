# Sourced by scripts/setup.sh and scripts/test.sh: what both need to agree on.

# The module is built against these headers (CMakeLists.txt) and loaded by
# the node command; Node-API is ABI-stable, so any Node.js from 18 on will do.
node_api_header=/usr/include/node/node_api.h
node_min_major=18

# check_node fails with one clear message, prefixed by $1, unless a node
# command of at least $node_min_major runs and $node_api_header exists.
check_node() {
  local who=$1 found=() major
  if ! command -v node >/dev/null; then
    found+=("no node command")
  else
    major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null) || major=0
    ((major >= node_min_major)) || found+=("node is $(node --version 2>/dev/null || echo unusable)")
  fi
  [[ -f $node_api_header ]] || found+=("no $node_api_header")
  ((${#found[@]} == 0)) && return 0
  local what=${found[0]} f
  for f in "${found[@]:1}"; do what+="; $f"; done
  echo "$who: Node.js $node_min_major or later with its Node-API headers ($node_api_header) is required" \
       "($what). As root on Debian 12, ./scripts/setup.sh installs Debian's nodejs and libnode-dev" \
       "when they are missing." >&2
  return 1
}

# build_module configures build/ (Release: the module as users get it, and
# what the benchmarks measure) and builds the module, its native tests and
# the benchmarks (built so they keep compiling; bench/run.sh runs them).
build_module() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BENCH=ON >/dev/null
  cmake --build build
}
