#!/usr/bin/env bash
# Installs what building needs, then configures and builds one preset
# (default: "default"; also "asan", "tsan" and "fuzz"). The tests and the
# benchmarks are built when their packages are installed (scripts/test.sh
# installs them); without them the preset builds the library and the
# command only.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash scripts/install-deps.sh build
options=()
bash scripts/install-deps.sh --installed tests ||
  options=(-DSENTREL_BUILD_TESTS=OFF -DSENTREL_BUILD_BENCHMARKS=OFF)
cmake --preset "$preset" "${options[@]}" >/dev/null
cmake --build --preset "$preset"
