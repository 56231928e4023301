#!/usr/bin/env bash
# Installs the test packages, builds one preset (default: "default") with
# its tests and runs every test of it.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash scripts/install-deps.sh build tests
bash scripts/build.sh "$preset"
ctest --preset "$preset"
