#!/usr/bin/env bash
# Prints the size of the C++ tests against the C++ code they test (cloc's
# code lines: no blanks, no comments) and fails when the tests pass LIMIT
# percent of the code (default 40). The project aims at 25 to 35 percent:
# a suite far above that mostly restates the code.
#
#   code   src/, include/ and cli/
#   tests  tests/ (the fuzz targets and the test support included)
#
# Usage: scripts/test-ratio.sh [LIMIT]
set -euo pipefail
cd "$(dirname "$0")/.."
limit="${1:-40}"
bash scripts/install-deps.sh cloc

lines() {
  # The last CSV row is the sum; its fifth column counts code lines.
  cloc --quiet --csv --include-lang="C++,C/C++ Header" "$@" | tail -1 | cut -d, -f5
}
code=$(lines src include cli)
tests=$(lines tests)
percent=$((100 * tests / code))
echo "test-ratio: C++ tests $tests lines, C++ code $code lines: tests are ${percent}% of the code (limit ${limit}%)"
if [ "$((100 * tests))" -gt "$((limit * code))" ]; then
  echo "test-ratio: the tests are more than ${limit}% of the code; fold cases into tables, drop tests that restate the code" >&2
  exit 1
fi
